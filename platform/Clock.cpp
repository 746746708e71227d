#include "platform/Clock.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

namespace
{

// The locale's long time format, which has the seconds, without its time zone
// and the blanks, comma or brackets that set the zone apart. Text between
// quotes is literal and stays (the format of QTime::toString()).
QString timeFormatWithoutZone(const QLocale &locale)
{
    static const QRegularExpression zone(QStringLiteral("[\\s,]*[(\\[]?t+[)\\]]?[\\s,]*"));
    QStringList pieces = locale.timeFormat(QLocale::LongFormat).split(QLatin1Char('\''));
    for (qsizetype i = 0; i < pieces.size(); i += 2)
        pieces[i].remove(zone);
    return pieces.join(QLatin1Char('\''));
}

} // namespace

QString SystemClock::timeOfDay() const
{
    const QLocale locale;
    return locale.toString(QTime::currentTime(), timeFormatWithoutZone(locale));
}
