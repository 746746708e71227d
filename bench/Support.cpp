// The table and the processes the bench runs.

#include "bench/Bench.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

Child spawn(const QString &program, const QStringList &arguments, const QStringList &environment)
{
    static const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    // execve's null-ended arrays, pointing into strings kept here.
    QByteArrayList strings[2];
    std::vector<char *> pointers[2];
    for (const int list : {0, 1}) {
        for (const QString &string : list == 0 ? QStringList{program} + arguments : environment)
            strings[list].append(string.toLocal8Bit());
        for (QByteArray &string : strings[list])
            pointers[list].push_back(string.data());
        pointers[list].push_back(nullptr);
    }
    Child child{0, memfd_create("quorrel-bench-output", MFD_CLOEXEC)};
    // vfork: the child borrows the bench's memory until its exec, so that its
    // CPU time is the program's own and not that of a copy of the bench.
    child.pid = child.output < 0 ? -1 : vfork();
    if (child.pid == 0) {
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && dup2(child.output, STDOUT_FILENO) >= 0 &&
            dup2(devNull, STDERR_FILENO) >= 0)
            execve(pointers[0][0], pointers[0].data(), pointers[1].data());
        _exit(127);
    }
    if (child.pid < 0)
        qFatal("the bench could not start %s", pointers[0][0]);
    return child;
}

QByteArray outputOf(const Child &child)
{
    // Opened anew, so that the read starts at the beginning whatever the child wrote.
    return fileBytes(u"/proc/self/fd/%1"_s.arg(child.output));
}

std::optional<double> awaitValue(const Child &child, const QByteArray &tag,
                                 std::chrono::milliseconds limit)
{
    for (const auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
        const QByteArray output = outputOf(child);
        // Whole lines only: the last may be still being written.
        const QList<double> values = valuesTagged(output.left(output.lastIndexOf('\n') + 1), tag);
        if (!values.isEmpty())
            return values.first();
    }
    return std::nullopt;
}

Ended reap(Child &child)
{
    rusage usage{};
    while (wait4(child.pid, nullptr, 0, &usage) < 0 && errno == EINTR) {
    }
    const timeval &user = usage.ru_utime;
    const timeval &system = usage.ru_stime;
    const Ended ended{outputOf(child),
                      (user.tv_sec + system.tv_sec) * 1e3 + (user.tv_usec + system.tv_usec) / 1e3};
    close(child.output);
    child = Child{};
    return ended;
}

void end(Child &child)
{
    if (child.pid > 0 && kill(child.pid, SIGKILL) == 0)
        reap(child);
}

QList<double> valuesTagged(const QByteArray &text, const QByteArray &tag)
{
    QList<double> values;
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(tag))
            values.append(line.mid(tag.size()).simplified().split(' ').value(0).toDouble());
    }
    return values;
}

// The stores' folders lie under HOME; the runtime folder must be private, as the home is.
QStringList Tools::environment(const QString &xDisplay, const QString &runtime) const
{
    return {u"PATH=/usr/bin:/bin"_s, u"LANG=C.UTF-8"_s, u"HOME="_s + home.path(),
            u"XDG_RUNTIME_DIR="_s + (runtime.isEmpty() ? home.path() : runtime),
            xDisplay.isEmpty() ? u"QT_QPA_PLATFORM=offscreen"_s : u"DISPLAY="_s + xDisplay};
}

namespace
{

struct Summary {
    double median, min, max;
    qsizetype runs;
};

std::optional<Summary> summarize(QList<double> values)
{
    if (values.isEmpty())
        return std::nullopt;
    std::ranges::sort(values);
    const qsizetype middle = values.size() / 2;
    return Summary{values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2,
                   values.first(), values.last(), values.size()};
}

// Three or four significant digits, the smallest and largest as the median.
QString written(const std::optional<Summary> &summary, const QString &unit)
{
    if (!summary)
        return u"—"_s;
    const double size = std::abs(summary->median);
    const int decimals = size < 1 ? 3 : size < 100 ? 2 : 1;
    const auto number = [&](double value) { return QString::number(value, 'f', decimals); };
    return u"%1%2 (%3–%4, %5 runs)"_s
        .arg(number(summary->median), unit.isEmpty() ? QString() : u' ' + unit,
             number(summary->min), number(summary->max))
        .arg(summary->runs);
}

} // namespace

QString markdown(const QList<Row> &rows)
{
    QString text = u"| figure | measured on | Quorrel: median (min–max, runs) | reference: median "
                   "(min–max, runs) | ratio | target | met |\n"
                   "| --- | --- | --- | --- | --- | --- | --- |\n"_s;
    for (const Row &row : rows) {
        const std::optional<Summary> quorrel = summarize(row.quorrel);
        const std::optional<Summary> reference = summarize(row.reference);
        const QString ratio =
            quorrel && reference && reference->median > 0
                ? QString::number(quorrel->median / reference->median, 'f', 2) + u" ×"_s
                : QString();
        QString met;
        if (row.target && quorrel) {
            const auto &[name, limit, low, ofReference] = *row.target;
            met = (low ? quorrel->min >= *low && quorrel->max <= limit
                       : quorrel->median <=
                             limit * (reference && ofReference ? reference->median : 1))
                      ? u"met"_s
                      : u"**missed**"_s;
        }
        QStringList cells{row.figure,
                          row.measuredOn,
                          written(quorrel, row.unit),
                          row.referenceName.isEmpty()
                              ? QString()
                              : row.referenceName + u": "_s + written(reference, row.unit),
                          ratio,
                          row.target ? row.target->text : QString(),
                          met};
        for (QString &cell : cells)
            cell = cell.isEmpty() ? u"—"_s : cell;
        text += u"| "_s + cells.join(u" | "_s) + u" |\n"_s;
    }
    return text;
}
