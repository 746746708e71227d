#include "support/ExternalServers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

FtpServer::FtpServer()
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

FtpServer::~FtpServer()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString FtpServer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void FtpServer::putFile(const QString &name, const QByteArray &content) const
{
    QFile file(root_.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s into the FTP root", qPrintable(name));
}

bool FtpServer::start()
{
    QTcpServer probe; // a port free at the time of asking; the server takes it a moment later
    if (!root_.isValid() || !probe.listen(QHostAddress::LocalHost, 0)) {
        why_ = QStringLiteral("no temporary folder or free port");
        return false;
    }
    port_ = probe.serverPort();
    probe.close();
    // Debian's python3-pyftpdlib belongs to the system's interpreter.
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                    QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port_),
                    QStringLiteral("-d"), root_.path()});
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    why_ =
        QStringLiteral("pyftpdlib did not listen: ") + QString::fromLocal8Bit(process_.readAll());
    return false;
}
