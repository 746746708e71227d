#include "keepalive/outgoing.h"

#include <QList>

namespace
{

const QString hidden = QStringLiteral("***");

// The user-info of an address: "user:password@" before the host, with or
// without a scheme in front (libcurl takes both).
QString withoutPassword(const QString &address)
{
    const qsizetype schemeEnd = address.indexOf(QStringLiteral("://"));
    const qsizetype authority = schemeEnd < 0 ? 0 : schemeEnd + 3;
    qsizetype authorityEnd = authority;
    while (authorityEnd < address.size() && !QStringLiteral("/?#").contains(address[authorityEnd]))
        ++authorityEnd;
    const qsizetype at = address.lastIndexOf(u'@', authorityEnd - 1);
    if (at < authority)
        return address;
    // A name alone may be a token: it goes too.
    const qsizetype colon = address.indexOf(u':', authority);
    const QString user = colon >= authority && colon < at
                             ? address.mid(authority, colon - authority) + u':'
                             : QString();
    return address.left(authority) + user + hidden + address.mid(at);
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// Marks that reorder what a reader sees (Unicode's bidirectional algorithm),
// and the two separators that editors take for line breaks.
bool isLayoutControl(char32_t c)
{
    return c == 0x200e || c == 0x200f || (c >= 0x2028 && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString outgoingText(const QString &text)
{
    QString shown;
    for (const char32_t c : withoutPassword(text).toUcs4())
        shown += isControl(c) || isLayoutControl(c)
                     ? QStringLiteral("\\u{%1}").arg(quint32(c), 0, 16)
                     : QString::fromUcs4(&c, 1);
    return shown;
}
