#pragma once

#include "app/frmmain.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Notifier.h"
#include "platform/PunctualTimer.h"
#include "platform/Random.h"
#include "platform/Shell.h"
#include "platform/Tray.h"
#include "platform/net/Inet.h"
#include "platform/registry/Registry.h"
#include "platform/store/AttemptLog.h"
#include "platform/store/SettingsStore.h"
#include "platform/tcpip/TcpIp.h"

#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>

// Dialogs that answer from a script instead of a person, and record each box
// shown as "style | title | prompt | default text". An answer may carry an
// action that runs while the box is "open", as the nested event loop allows.
// With no answer left a box gets OK, or the empty text of Cancel.
class ScriptedDialogs final : public Dialogs
{
public:
    using WhileOpen = std::function<void()>;

    void answerMsgBox(int button, WhileOpen whileOpen = {})
    {
        msgBoxes_.enqueue({button, {}, std::move(whileOpen)});
    }
    void answerInputBox(const QString &text, WhileOpen whileOpen = {})
    {
        inputBoxes_.enqueue({OK, text, std::move(whileOpen)});
    }
    int MsgBox(const QString &prompt, int style, const QString &title) override
    {
        return answer(msgBoxes_, style, title, prompt, {}).button;
    }
    QString InputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override
    {
        return answer(inputBoxes_, 0, title, prompt, defaultText).text;
    }

    QStringList boxes;

private:
    struct Answer {
        int button = OK;
        QString text;
        WhileOpen whileOpen;
    };
    Answer answer(QQueue<Answer> &answers, int style, const QString &title, const QString &prompt,
                  const QString &defaultText);
    QQueue<Answer> msgBoxes_;
    QQueue<Answer> inputBoxes_;
};

// A tray that remembers what the window asked of it; tests raise its mouse
// messages with click().
class RecordingTray final : public Tray
{
    Q_OBJECT

public:
    bool isAvailable() const override { return available; }
    void add(const QIcon &, const QString &newTip) override
    {
        adds += !shown;
        shown = true;
        tip = newTip;
    }
    void remove() override { shown = false; }
    bool isShown() const override { return shown; }
    void offerMenu(QMenu *menu) override { offeredMenu = menu; }
    void click(int message) { emit mouseMessage(message); }

    bool available = true;
    bool shown = false;
    int adds = 0; // adds that put an icon up
    QString tip;
    QMenu *offeredMenu = nullptr;
};

// A clock that always shows the same time of day.
class FixedClock final : public Clock
{
public:
    QString time = QStringLiteral("12:34");
    QString timeOfDay() const override { return time; }
};

// Hands out the scripted numbers in turn (0 once they are used up) and counts
// the seedings.
class ScriptedRandom final : public Random
{
public:
    QList<float> draws;
    int seeds = 0;
    void seedFromClock() override { ++seeds; }
    float draw() override { return drawn_ < draws.size() ? draws[drawn_++] : 0.0f; }

private:
    qsizetype drawn_ = 0;
};

class RecordingShell final : public Shell
{
public:
    bool openUrl(const QString &address) override
    {
        opened.append(address);
        return succeeds;
    }
    QStringList opened;
    bool succeeds = true;
};

// Fetches for real and keeps the requests it was given.
class RecordingInet final : public Inet
{
public:
    FetchResult OpenURL(const FetchRequest &request) override
    {
        requests.append(request);
        return real_.OpenURL(request);
    }
    void Cancel() override { real_.Cancel(); }
    QList<FetchRequest> requests;

private:
    CurlInet real_;
};

// The system's TCP/IP values in memory; a change is refused with the reason given, if any.
class MemoryTcpIp final : public TcpIp
{
public:
    std::optional<long long> value(tcpip::Setting which) override
    {
        return values.contains(which) ? std::optional(values.at(which)) : std::nullopt;
    }
    [[nodiscard]] std::optional<Failure> change(const tcpip::Settings &changed) override
    {
        if (!refusal.isEmpty())
            return Failure{refusal};
        for (const auto &[value, number] : changed)
            values[value] = number;
        return std::nullopt;
    }
    tcpip::Settings values;
    QString refusal;
};

// A window wired to test services, each rig with its own temporary folders.
// Fill the stores before calling window(); the window's load step reads them.
class TestRig
{
public:
    // A rig whose settings file and registry store hold these, if given.
    explicit TestRig(const QByteArray &settingsFile = {}, const QByteArray &registryFile = {});
    ~TestRig();

    frmmain &window();
    // What a user does, each giving the prompt of the last box shown.
    QString save();                            // "&Save Settings" on the Options page
    void pickSpeed(const QString &speed);      // a speed chosen from the open list
    QString optimizeFor(const QString &speed); // the speed picked, then "&Optimize"
    QString lastPrompt() const;

    const QString &home() const { return homeDir_; }
    // The settings store and the registry stand-in, each in a folder of home().
    QtSettingsStore &settings() { return settings_; }
    QString settingsFile() const { return settings_.fileName(QStringLiteral("Quorrel")); }
    FileRegistry &registry() { return registry_; }
    QString attemptLogFile() const { return attemptLog_.fileName(); }

    ScriptedDialogs dialogs;
    RecordingTray tray;
    RecordingShell shell;
    // Fetches are real: tests point the hosts at servers on 127.0.0.1.
    RecordingInet inet;
    Inet *transfers = &inet; // the window's, which a test may replace before window()
    FixedClock clock;
    ScriptedRandom random;
    MemoryTcpIp tcpip;
    TcpIp *system = &tcpip; // the window's, which a test may replace before window()
    Notifier notifier;      // on the session bus of the test's environment

private:
    QTemporaryDir temp_;
    QString homeDir_;
    QtSettingsStore settings_;
    FileRegistry registry_;
    AttemptLog attemptLog_;
    std::unique_ptr<frmmain> window_;
};

// Writes a whole file, making its folder; false when any step fails.
bool writeWholeFile(const QString &fileName, const QByteArray &contents);
QByteArray fileBytes(const QString &fileName);
