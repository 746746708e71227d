#include "support/ExternalServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace
{

constexpr int startupLimitMs = 10000;

// Free at the time of asking; the server takes it a moment later.
quint16 freeLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

ServerProcess::ServerProcess()
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

ServerProcess::~ServerProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString ServerProcess::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

bool ServerProcess::start()
{
    port_ = freeLocalPort();
    if (!folder_.isValid() || port_ == 0) {
        why_ = QStringLiteral("no temporary folder or free port");
        return false;
    }
    // The output goes to a file: a full pipe would stall a chatty server.
    process_.setStandardOutputFile(pathOf(QStringLiteral("output.txt")));
    process_.start(program(), arguments());
    if (!process_.waitForStarted(startupLimitMs)) {
        why_ = program() + QStringLiteral(": ") + process_.errorString();
        return false;
    }
    return waitUntilListening();
}

bool ServerProcess::waitUntilListening()
{
    const QDeadlineTimer deadline(startupLimitMs);
    while (!deadline.hasExpired()) {
        if (process_.state() == QProcess::NotRunning)
            break;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    QFile output(pathOf(QStringLiteral("output.txt")));
    why_ = program() + QStringLiteral(" did not listen: ") +
           (output.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(output.readAll())
                                             : output.errorString());
    return false;
}

void FtpServer::putFile(const QString &name, const QByteArray &content) const
{
    const QString root = pathOf(QStringLiteral("root"));
    if (!QDir().mkpath(root) || !writeFile(root + u'/' + name, content))
        qFatal("cannot write %s into the FTP root", qPrintable(name));
}

QString FtpServer::program() const
{
    // Debian's python3-pyftpdlib belongs to the system's interpreter; the
    // python3 found first on the path may be another one.
    return QStringLiteral("/usr/bin/python3");
}

QStringList FtpServer::arguments() const
{
    const QString root = pathOf(QStringLiteral("root"));
    if (!QDir().mkpath(root))
        qFatal("cannot make the FTP root %s", qPrintable(root));
    return {QStringLiteral("-m"), QStringLiteral("pyftpdlib"),
            QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"), QString::number(port()),
            QStringLiteral("-d"), root};
}

QStringList TinyProxy::requestLines() const
{
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    // CONNECT   Dec 06 21:48:44.986 [10492]: Request (file descriptor 5): GET http://… HTTP/1.1
    static const QRegularExpression request(
        QStringLiteral(R"(Request \(file descriptor \d+\): (.*))"));
    QStringList lines;
    for (const QString &line : QString::fromLocal8Bit(log.readAll()).split(u'\n')) {
        if (const QRegularExpressionMatch match = request.match(line); match.hasMatch())
            lines.append(match.captured(1).trimmed());
    }
    return lines;
}

QString TinyProxy::program() const
{
    return QStringLiteral("tinyproxy");
}

QStringList TinyProxy::arguments() const
{
    const QByteArray config = "Port " + QByteArray::number(port()) +
                              "\nListen 127.0.0.1\nLogFile \"" + logPath().toUtf8() +
                              "\"\nLogLevel Info\nMaxClients 16\nTimeout 30\n";
    if (!writeFile(configPath(), config))
        qFatal("cannot write %s", qPrintable(configPath()));
    // -d keeps it in the foreground, where this object can stop it.
    return {QStringLiteral("-d"), QStringLiteral("-c"), configPath()};
}
