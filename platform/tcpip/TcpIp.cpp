#include "platform/tcpip/TcpIp.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>

namespace
{

constexpr int capNetAdmin = 12;

// pkexec's own exit statuses; the helper never ends with these. pkexec ends
// with 127 too when no agent could ask for the password, and says so.
constexpr int authorizationDismissed = 126;
constexpr int notAuthorized = 127;
constexpr char noAgent[] = "No authentication agent";

bool mayChangeTheNetwork()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> capNetAdmin) & 1;
    }
    return false;
}

QStringList setArguments(const tcpip::Settings &values)
{
    QStringList arguments{QStringLiteral("set")};
    for (const auto &[value, number] : values)
        arguments.append(tcpip::nameOf(value) + u'=' + QString::number(number));
    return arguments;
}

// Runs the program to its end in a local event loop, so the window keeps
// painting while an authorization dialog is open.
void runToEnd(QProcess &process)
{
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    process.start();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
}

} // namespace

SystemTcpIp::SystemTcpIp(QString helper) : helper_(std::move(helper)) {}

QString SystemTcpIp::installedHelper()
{
    const QString besideProgram =
        QCoreApplication::applicationDirPath() + QStringLiteral("/quorrel-tcpip");
    return QFileInfo(besideProgram).isExecutable() ? besideProgram
                                                   : QStringLiteral(QUORREL_TCPIP_HELPER);
}

std::optional<long long> SystemTcpIp::value(tcpip::Setting which)
{
    if (which == tcpip::Setting::LinkMtu)
        return tcpip::linkMtu(tcpip::defaultLink());
    const tcpip::Settings configured = tcpip::readConfiguration();
    const auto found = configured.find(which);
    return found == configured.end() ? std::nullopt : std::optional(found->second);
}

std::optional<Failure> SystemTcpIp::change(const tcpip::Settings &values)
{
    // Without a link there is nothing to change, and no password to ask for.
    if (tcpip::defaultLink().isEmpty())
        return describe(tcpip::HelperStatus::NoLink);
    QProcess process;
    const bool direct = mayChangeTheNetwork();
    process.setProgram(direct ? helper_ : QStringLiteral("pkexec"));
    process.setArguments(direct ? setArguments(values)
                                : QStringList{helper_} + setArguments(values));
    runToEnd(process);
    // The helper's and pkexec's own words on a failure, for whoever reads
    // Quorrel's output.
    const QByteArray said = process.readAllStandardError();
    std::fwrite(said.constData(), 1, static_cast<size_t>(said.size()), stderr);
    if (process.error() == QProcess::FailedToStart)
        return Failure{tr("%1 could not be started").arg(process.program())};
    if (process.exitStatus() == QProcess::CrashExit)
        return Failure{tr("%1 ended abnormally").arg(process.program())};
    if (!direct && process.exitCode() == authorizationDismissed)
        return Failure{tr("the authorization was cancelled")};
    if (!direct && process.exitCode() == notAuthorized && said.contains(noAgent))
        return Failure{tr("no authentication agent is running to ask for the password")};
    if (!direct && process.exitCode() == notAuthorized)
        return Failure{tr("the authorization was refused")};
    return describe(tcpip::HelperStatus{process.exitCode()});
}

std::optional<Failure> SystemTcpIp::describe(tcpip::HelperStatus status)
{
    switch (status) {
    case tcpip::HelperStatus::Done:
        return std::nullopt;
    case tcpip::HelperStatus::Refused:
        return Failure{tr("the helper refused the values")};
    case tcpip::HelperStatus::NoLink:
        return Failure{tr("no network link carries a default route")};
    case tcpip::HelperStatus::NotWritten:
        return Failure{tr("the configuration in /etc could not be written")};
    case tcpip::HelperStatus::NotApplied:
        return Failure{tr("the running system refused a value")};
    case tcpip::HelperStatus::Unsafe:
        return Failure{tr("the helper found its folder /etc/quorrel or its limits unsafe")};
    case tcpip::HelperStatus::Busy:
        return Failure{tr("another change of the values did not end")};
    default:
        return Failure{tr("the helper failed with status %1").arg(static_cast<int>(status))};
    }
}
