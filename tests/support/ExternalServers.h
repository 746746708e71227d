#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A server program on 127.0.0.1 and a free port, with a temporary folder of
// its own; stopped when the object goes.
class ServerProcess
{
public:
    ServerProcess();
    virtual ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // False, with why(), when the server did not come up listening.
    bool start();
    QString why() const { return why_; }
    // "127.0.0.1:port"
    QString address() const;

protected:
    virtual QString program() const = 0;
    virtual QStringList arguments() const = 0;
    QString pathOf(const QString &name) const { return folder_.filePath(name); }
    quint16 port() const { return port_; }

private:
    bool waitUntilListening();

    QTemporaryDir folder_;
    QProcess process_;
    quint16 port_ = 0;
    QString why_;
};

// pyftpdlib serving a temporary root to anonymous users.
class FtpServer final : public ServerProcess
{
public:
    void putFile(const QString &name, const QByteArray &content) const;

protected:
    QString program() const override;
    QStringList arguments() const override;
};

// tinyproxy, logging every request it forwards.
class TinyProxy final : public ServerProcess
{
public:
    // The requests it has forwarded so far, as their request lines.
    QStringList requestLines() const;

protected:
    QString program() const override;
    QStringList arguments() const override;

private:
    QString configPath() const { return pathOf(QStringLiteral("tinyproxy.conf")); }
    QString logPath() const { return pathOf(QStringLiteral("tinyproxy.log")); }
};
