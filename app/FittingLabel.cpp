#include "app/FittingLabel.h"

#include <QPainter>

namespace
{

// Below this the text stops shrinking and is elided instead.
constexpr qreal smallestPointSize = 6.0;
constexpr qreal shrinkStep = 0.25;

int textWidth(const QFont &font, const QString &text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

FittingLabel::FittingLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

QFont FittingLabel::fittedFont() const
{
    QFont fitted = font();
    const int room = contentsRect().width() - 2 * margin();
    while (textWidth(fitted, text()) > room &&
           fitted.pointSizeF() - shrinkStep >= smallestPointSize)
        fitted.setPointSizeF(fitted.pointSizeF() - shrinkStep);
    return fitted;
}

QString FittingLabel::drawnText() const
{
    const int room = contentsRect().width() - 2 * margin();
    return QFontMetrics(fittedFont()).elidedText(text(), Qt::ElideRight, room);
}

void FittingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(fittedFont());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.drawText(room, static_cast<int>(alignment()), drawnText());
}
