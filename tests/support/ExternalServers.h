#pragma once

#include <QProcess>
#include <QTemporaryDir>

// pyftpdlib on 127.0.0.1 and a free port, serving a temporary root to
// anonymous users; stopped when the object goes.
class FtpServer
{
public:
    FtpServer();
    ~FtpServer();
    FtpServer(const FtpServer &) = delete;
    FtpServer &operator=(const FtpServer &) = delete;

    // False, with why(), when the server did not come up listening.
    bool start();
    QString why() const { return why_; }
    // "127.0.0.1:port"
    QString address() const;
    void putFile(const QString &name, const QByteArray &content) const;

private:
    QTemporaryDir root_;
    QProcess process_;
    quint16 port_ = 0;
    QString why_;
};
