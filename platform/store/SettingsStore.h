#pragma once

#include "platform/Failure.h"
#include "platform/store/StoreFile.h"

#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSettings;

// The per-user settings store: texts addressed by application, section and key.
// Changes are staged and reach the disk together at commit(), so the stored
// file always holds one whole set of settings, never a half-written one.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored text exactly as written, or nothing when the key or the section
    // does not exist. A missing key is told apart from every possible text.
    virtual std::optional<QString> read(const QString &application, const QString &section,
                                        const QString &key) const = 0;
    // Stages a text under the key, replacing any text there.
    virtual void write(const QString &application, const QString &section, const QString &key,
                       const QString &text) = 0;
    // Stages the removal of the section with all its keys; nothing when there is none.
    virtual void deleteSection(const QString &application, const QString &section) = 0;
    // Stores every staged change at once. Returns why the store could not be
    // written, nothing when it holds the changes now.
    [[nodiscard]] virtual std::optional<Failure> commit() = 0;
};

// One INI file per application, <configDirectory>/<application>/<application>.ini,
// read through QSettings. A commit has QSettings write the changed settings
// into a copy, reads the copy back to know it is whole, and then replaces the
// file with it in one step, so a full disk never costs the old file. All this
// happens under a lock of this store held from the read of the file to the
// write, so that two Quorrels' saves never merge.
// A file that cannot be read as settings (no text, far too large, a folder, a
// link loop) reads as empty, and a commit leaves it as it is and says why.
class QtSettingsStore final : public SettingsStore
{
    Q_DECLARE_TR_FUNCTIONS(QtSettingsStore)

public:
    // The user's configuration folder, where QSettings keeps user-scope files.
    static StorePlace userConfigFolder();

    explicit QtSettingsStore(QString configDirectory);
    // A refused place reads as empty, and a commit gives the refusal.
    explicit QtSettingsStore(StorePlace configFolder = userConfigFolder());
    ~QtSettingsStore() override;

    QString fileName(const QString &application) const;

    std::optional<QString> read(const QString &application, const QString &section,
                                const QString &key) const override;
    void write(const QString &application, const QString &section, const QString &key,
               const QString &text) override;
    void deleteSection(const QString &application, const QString &section) override;
    [[nodiscard]] std::optional<Failure> commit() override;

private:
    using Change = std::function<void(QSettings &)>;

    // Nothing when the file cannot be read as settings.
    const QSettings *reader(const QString &application) const;
    void stage(const QString &application, Change change);
    [[nodiscard]] std::optional<Failure> commitFile(const QString &application,
                                                    const QList<Change> &changes);
    // The file's contents with the changes made, or nothing when they could
    // not be made whole.
    static std::optional<QByteArray> withChanges(const QString &fileName,
                                                 const QList<Change> &changes);
    // Why the file cannot be read as settings: it is no text, far too large,
    // or cannot be read at all. Nothing when it can, or when there is none.
    [[nodiscard]] static std::optional<Failure> whyUnusable(const QString &fileName);
    static Failure whyNotWritten(const QString &fileName);

    StorePlace configFolder_;
    QMap<QString, QList<Change>> staged_; // by application
    // Opening a settings file costs far more than reading a key from it, and
    // the load reads every host on its own. A file that cannot be read as
    // settings has no reader.
    mutable std::map<QString, std::unique_ptr<QSettings>> readers_;
};
