#include "platform/registry/IniFile.h"

#include <QList>

namespace
{

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString decoded(const QByteArray &line)
{
    return QString::fromLocal8Bit(line).trimmed();
}

std::optional<QString> sectionName(const QString &line)
{
    const qsizetype close = line.indexOf(QLatin1Char(']'));
    if (!line.startsWith(QLatin1Char('[')) || close < 0)
        return std::nullopt;
    return line.mid(1, close - 1).trimmed();
}

struct EntryLine {
    QString name;
    QString text;
};

std::optional<EntryLine> entryLine(const QString &line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0 || line.startsWith(QLatin1Char(';')))
        return std::nullopt;
    return EntryLine{line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
}

QString unquoted(const QString &text)
{
    const bool quoted = text.size() >= 2 && text.front() == text.back() &&
                        (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\''));
    return quoted ? text.mid(1, text.size() - 2) : text;
}

// Whether the header and the entry line written for an entry read back as its
// section and as itself. One that does not would land under another name, and
// might change what the lines around it mean.
bool readsBack(const QByteArray &header, const QByteArray &line, QStringView section,
               QStringView entry)
{
    const QString entryLineText = decoded(line);
    const auto headerName = sectionName(decoded(header));
    const auto written = entryLine(entryLineText);
    return !header.contains('\n') && !line.contains('\n') && headerName &&
           sameName(*headerName, section) && !sectionName(entryLineText) && written &&
           sameName(written->name, entry);
}

} // namespace

std::optional<QString> IniFile::entry(const QByteArray &contents, QStringView section,
                                      QStringView entry)
{
    bool inSection = false;
    for (const QByteArray &raw : contents.split('\n')) {
        const QString line = decoded(raw);
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (const auto found = entryLine(line); inSection && found && sameName(found->name, entry))
            return unquoted(found->text);
    }
    return std::nullopt;
}

std::optional<QByteArray> IniFile::withEntry(const QByteArray &contents, QStringView section,
                                             QStringView entry, QStringView text)
{
    // New lines follow the file's own line ends.
    const QByteArray lineEnd = contents.contains("\r\n") ? QByteArray("\r") : QByteArray();
    const QByteArray header =
        (QLatin1Char('[') + section.toString() + QLatin1Char(']')).toLocal8Bit() + lineEnd;
    const QByteArray entryText =
        (entry.toString() + QLatin1Char('=') + text.toString()).toLocal8Bit() + lineEnd;
    if (!readsBack(header, entryText, section, entry))
        return std::nullopt;

    QList<QByteArray> lines = contents.split('\n');
    qsizetype lastOfSection = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = decoded(lines[i]);
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            if (inSection)
                lastOfSection = i;
            continue;
        }
        if (!inSection || line.isEmpty())
            continue;
        if (const auto found = entryLine(line); found && sameName(found->name, entry)) {
            lines[i] = entryText;
            return lines.join('\n');
        }
        lastOfSection = i;
    }

    if (lastOfSection >= 0) {
        lines.insert(lastOfSection + 1, entryText);
        return lines.join('\n');
    }
    // The empty item after a final line end is where the new section goes.
    if (lines.last().isEmpty())
        lines.removeLast();
    lines << header << entryText << QByteArray();
    return lines.join('\n');
}
