#include "platform/Clock.h"

#include <QLocale>
#include <QTime>

QString SystemClock::timeOfDay() const
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
}
