#include "parser_checks.h"

#include "platform/registry/IniFile.h"
#include "platform/registry/RegistryDocument.h"

#include <QList>
#include <algorithm>

namespace
{

// The next field of `input` from `position` on, up to a NUL byte or the end;
// the position moves past it.
QString takeField(const QByteArray &input, qsizetype &position)
{
    qsizetype end = input.indexOf('\0', position);
    if (end < 0)
        end = input.size();
    const QString field = QString::fromUtf8(input.mid(position, end - position));
    position = std::min(end + 1, input.size());
    return field;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// A section name that reads back from the "[name]" line written for it.
bool isPlainSection(const QString &name)
{
    return name == name.trimmed() && !hasLineBreak(name) && !name.contains(QLatin1Char(']'));
}

// An entry name that reads back from the "name=text" line written for it: a
// line that starts with ';' is a comment, one that starts with '[' may be a
// section.
bool isPlainEntry(const QString &name)
{
    return name == name.trimmed() && !hasLineBreak(name) && !name.contains(QLatin1Char('=')) &&
           !name.startsWith(QLatin1Char(';')) && !name.startsWith(QLatin1Char('['));
}

// A text that reads back as written: the reader takes off the blanks around
// it and one pair of enclosing quotes.
bool isPlainText(const QString &text)
{
    const bool quoted = text.size() >= 2 && text.front() == text.back() &&
                        (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\''));
    return text == text.trimmed() && !hasLineBreak(text) && !quoted;
}

// Writing an entry changes the file in one place: it replaces one line or
// inserts new ones there. So every line of `before` but at most one (the
// entry's own) is still in `after`, byte for byte, before or after that place.
bool keepsOtherLines(const QByteArray &before, const QByteArray &after)
{
    const QList<QByteArray> old = before.split('\n');
    const QList<QByteArray> now = after.split('\n');
    const qsizetype shorter = std::min(old.size(), now.size());
    qsizetype head = 0;
    while (head < shorter && old[head] == now[head])
        ++head;
    qsizetype tail = 0;
    while (head + tail < shorter && old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    return old.size() - head - tail <= 1;
}

} // namespace

std::optional<QString> checkRegistryFile(const QByteArray &file)
{
    const std::optional<RegistryDocument> document = RegistryDocument::parse(file);
    if (!document)
        return std::nullopt;
    // Every write stores what the parser read, so what it writes must read
    // back as the same store.
    const QByteArray written = document->serialize();
    const std::optional<RegistryDocument> reread = RegistryDocument::parse(written);
    if (!reread)
        return QStringLiteral("the file written from it cannot be read back");
    if (reread->serialize() != written)
        return QStringLiteral("reading back the file written from it changes the store");
    return std::nullopt;
}

std::optional<QString> checkIniFile(const QByteArray &input)
{
    qsizetype position = 0;
    const QString section = takeField(input, position);
    const QString entry = takeField(input, position);
    const QString text = takeField(input, position);
    const QString otherSection = takeField(input, position);
    const QString otherEntry = takeField(input, position);
    const QByteArray contents = input.mid(position);

    const bool plain = isPlainSection(section) && isPlainEntry(entry) && isPlainText(text);
    const std::optional<QByteArray> written = IniFile::withEntry(contents, section, entry, text);
    if (!written)
        return plain ? std::optional(QStringLiteral("a plain entry was refused")) : std::nullopt;
    if (!keepsOtherLines(contents, *written))
        return QStringLiteral("writing the entry changed or lost another line");
    if (plain && IniFile::entry(*written, section, entry) != text)
        return QStringLiteral("the entry written does not read back");
    const bool isOther = !sameName(otherSection, section) || !sameName(otherEntry, entry);
    if (isOther && IniFile::entry(*written, otherSection, otherEntry) !=
                       IniFile::entry(contents, otherSection, otherEntry))
        return QStringLiteral("writing the entry changed what another entry reads");
    return std::nullopt;
}
