#include "app/FittingLabel.h"

#include <QPainter>
#include <algorithm>

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

int FittingLabel::room() const
{
    return contentsRect().width() - 2 * margin();
}

QString FittingLabel::showable() const
{
    // Each character takes a pixel at least: the rest of a longer text cannot
    // show, and measuring it all would cost every paint of a very long text.
    return text().left(std::max(room(), 0) + 1);
}

QFont FittingLabel::fittedFont() const
{
    const QString measured = showable();
    return shrunkToFit(font(), [&](const QFont &candidate) {
        return QFontMetrics(candidate).horizontalAdvance(measured) <= room();
    });
}

QString FittingLabel::drawnText() const
{
    return QFontMetrics(fittedFont()).elidedText(showable(), Qt::ElideRight, room());
}

void FittingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(fittedFont());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.drawText(area, static_cast<int>(alignment()), drawnText());
}
