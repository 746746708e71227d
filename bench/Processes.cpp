#include "bench/Processes.h"

#include "platform/store/SettingsStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr std::chrono::seconds helperStartLimit{20};

double milliseconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_usec) / 1e3;
}

// The strings and the null-ended pointer array that exec wants.
class CStrings
{
public:
    explicit CStrings(const QStringList &strings)
    {
        for (const QString &string : strings)
            storage_.push_back(string.toStdString());
        for (std::string &string : storage_)
            pointers_.push_back(string.data());
        pointers_.push_back(nullptr);
    }
    char *const *data() { return pointers_.data(); }

private:
    std::vector<std::string> storage_;
    std::vector<char *> pointers_;
};

QByteArray readToEnd(int fd)
{
    QByteArray output;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, count);
        else if (count == 0 || errno != EINTR)
            return output;
    }
}

std::optional<qint64> switchesOfThread(const QString &statusPath)
{
    QFile status(statusPath);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    qint64 switches = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:") ||
            line.startsWith("nonvoluntary_ctxt_switches:"))
            switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return switches;
}

} // namespace

double millisecondsBetween(SteadyTime from, SteadyTime to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::optional<FinishedRun> runToEnd(const QString &program, const QStringList &arguments,
                                    const QProcessEnvironment &environment)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    CStrings argv(QStringList{program} + arguments);
    CStrings envp(environment.toStringList());

    FinishedRun run;
    pid_t pid = 0;
    run.started = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program.toLocal8Bit().constData(), &actions, nullptr,
                                    argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return std::nullopt;
    }
    run.output = readToEnd(pipeFds[0]);
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    run.ended = std::chrono::steady_clock::now();
    if (!WIFEXITED(status))
        return std::nullopt;
    run.cpuMs = milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
    return run;
}

Helper::Helper(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment)
{
    process_.setProcessEnvironment(environment);
    process_.setStandardErrorFile(QProcess::nullDevice());
    // The kernel ends the helper when the bench goes, however the bench ends.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process_.start(program, arguments);
}

Helper::~Helper()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished();
}

std::optional<QString> Helper::nextLine(std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
            return std::nullopt;
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

std::optional<ThreadSwitches> contextSwitches(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return std::nullopt;
    ThreadSwitches switches;
    for (const QString &thread : threads) {
        // A thread that ends while it is read is left out, as if already gone.
        if (const std::optional<qint64> count =
                switchesOfThread(tasks.filePath(thread + QStringLiteral("/status"))))
            switches.insert(thread, *count);
    }
    return switches;
}

qint64 switchesBetween(const ThreadSwitches &before, const ThreadSwitches &after)
{
    qint64 switches = 0;
    for (auto thread = after.cbegin(); thread != after.cend(); ++thread)
        switches += thread.value() - before.value(thread.key(), 0);
    for (auto thread = before.cbegin(); thread != before.cend(); ++thread)
        switches += after.contains(thread.key()) ? 0 : 1;
    return switches;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

XServer::XServer()
    : process_(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")},
               QProcessEnvironment::systemEnvironment())
{
    // Xvfb writes the display number it took once it accepts clients.
    if (const std::optional<QString> number = process_.nextLine(helperStartLimit))
        screen_ = Screen{QStringLiteral("Xvfb"), u':' + *number};
}

Profile::Profile(const QString &host)
{
    QDir(home_.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home_.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QtSettingsStore settings(home_.filePath(QStringLiteral(".config")));
    const QString application = QStringLiteral("Quorrel");
    const QString section = QStringLiteral("options");
    settings.write(application, section, QStringLiteral("host0"), host);
    settings.write(application, section, QStringLiteral("interval"), QStringLiteral("30"));
    static_cast<void>(settings.commit());
}

QProcessEnvironment Profile::environment(const Screen &screen) const
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("HOME"), home_.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       home_.filePath(QStringLiteral(".config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       home_.filePath(QStringLiteral(".local/share")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       home_.filePath(QStringLiteral("runtime")));
    if (screen.display.isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    else
        environment.insert(QStringLiteral("DISPLAY"), screen.display);
    return environment;
}

Server::Server(const QString &bench)
    : process_(bench, {QStringLiteral("--serve")}, QProcessEnvironment::systemEnvironment())
{
    const std::optional<QString> line = process_.nextLine(helperStartLimit);
    if (line && line->startsWith(QStringLiteral("port ")))
        port_ = static_cast<quint16>(line->mid(5).toUInt());
}

QString Server::host(const QString &path) const
{
    return QStringLiteral("127.0.0.1:%1%2").arg(port_).arg(path);
}

QString Server::url(const QString &path) const
{
    return QStringLiteral("http://") + host(path);
}

quint16 refusingPort()
{
    // Free when asked; nothing on the machine takes a port so soon again.
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return 0;
    return listener.serverPort();
}
