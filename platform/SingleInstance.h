#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <list>
#include <memory>

class QSocketNotifier;

// One Quorrel for each settings file. The first to start holds a lock in the
// user's runtime folder and listens on a Unix socket beside it; a later start
// finds the lock taken and tells the first one through the socket that it was
// launched again. Only processes of the same user are heard or told
// (SO_PEERCRED on both ends). Without a runtime folder that is the user's
// alone (0700), or when the first one cannot be told within three seconds,
// every start runs on its own, as if this did not exist.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `settingsFile` names the instance: Quorrels with other settings run side by side.
    explicit SingleInstance(const QString &settingsFile);
    ~SingleInstance() override;

    // True when another instance runs and took the news of this launch (and
    // whether it asked to start the cycle, and for the History window); this
    // one then has nothing to do.
    // Otherwise this one becomes the instance that later launches tell.
    // Waits three seconds at most, whatever the other end does.
    [[nodiscard]] bool handOver(bool start, bool history);

signals:
    // A later launch asked this instance to come forward, or to show its
    // History window if `history`; and to start the cycle if `start`.
    void launchedAgain(bool start, bool history);

private:
    struct Pending; // a later launch that is being heard

    void listen();
    void acceptLaunches();
    void hear(Pending &launch);
    void dropStalePending();

    QByteArray socketPath_; // empty without a runtime folder of the user's alone
    int lock_ = -1;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> accepting_;
    std::list<Pending> pending_;
    QTimer sweep_; // while launches are pending: drops the slow ones
};
