#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

// One Quorrel for each settings file. The first to start holds a lock in the
// user's runtime folder and listens on a local socket beside it; a later start
// finds the lock taken and tells the first one through the socket that it was
// launched again. Without a runtime folder, or when the first one cannot be
// told, every start runs on its own, as if this did not exist.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `settingsFile` names the instance: Quorrels with other settings run side by side.
    explicit SingleInstance(const QString &settingsFile);
    ~SingleInstance() override;

    // True when another instance runs and took the news of this launch (and
    // whether it asked to start the cycle); this one then has nothing to do.
    // Otherwise this one becomes the instance that later launches tell.
    [[nodiscard]] bool handOver(bool start);

signals:
    // A later launch asked this instance to come forward, and to start the
    // cycle if `start`.
    void launchedAgain(bool start);

private:
    [[nodiscard]] bool tellRunningInstance(bool start);
    void listen();
    void answer(QLocalSocket *socket);

    QString socketName_; // empty without a runtime folder
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};
