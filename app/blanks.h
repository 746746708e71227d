#pragma once

#include <QString>

// True when text sorts after a run of `blanks` spaces, comparing UTF-16 code
// units by value (a text that begins with the other sorts after it). Used to
// refuse empty and blank-only input and to judge a fetched document.
inline bool sortsAfterBlanks(const QString &text, int blanks)
{
    return QString::compare(text, QString(blanks, QLatin1Char(' ')), Qt::CaseSensitive) > 0;
}
