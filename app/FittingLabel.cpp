#include "app/FittingLabel.h"

#include <QPainter>

namespace
{

// Below this the text stops shrinking and is elided instead.
constexpr qreal smallestPointSize = 6.0;
constexpr qreal shrinkStep = 0.25;

} // namespace

QFont shrunkToFit(QFont font, const std::function<bool(const QFont &)> &fits)
{
    while (!fits(font) && font.pointSizeF() - shrinkStep >= smallestPointSize)
        font.setPointSizeF(font.pointSizeF() - shrinkStep);
    return font;
}

FittingLabel::FittingLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

QFont FittingLabel::fittedFont() const
{
    const int room = contentsRect().width() - 2 * margin();
    return shrunkToFit(font(), [&](const QFont &candidate) {
        return QFontMetrics(candidate).horizontalAdvance(text()) <= room;
    });
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
