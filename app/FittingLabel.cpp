#include "app/FittingLabel.h"

#include <QCheckBox>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>

namespace
{

// Below this the text stops shrinking and is elided instead.
constexpr qreal smallestPointSize = 6.0;
constexpr qreal shrinkStep = 0.25;

// Room a button's caption has: the control's width less what the style draws
// around the text (the box or circle of a check or option button, the bevel
// of a push button).
int captionRoom(const QAbstractButton *button)
{
    const QStyle *style = button->style();
    if (qobject_cast<const QCheckBox *>(button))
        return button->width() - style->pixelMetric(QStyle::PM_IndicatorWidth) -
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    if (qobject_cast<const QRadioButton *>(button))
        return button->width() - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) -
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    return button->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin);
}

// Whether the caption shows whole in the given font.
bool captionFits(QWidget *control, const QFont &font)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        const QString shown = QString(button->text()).remove(QLatin1Char('&'));
        return QFontMetrics(font).horizontalAdvance(shown) <= captionRoom(button);
    }
    // A wrapping label's height for its width depends on its own font.
    auto *label = qobject_cast<QLabel *>(control);
    label->setFont(font);
    return label->heightForWidth(label->width()) <= label->height();
}

} // namespace

QFont shrunkToFit(QFont font, const std::function<bool(const QFont &)> &fits)
{
    while (!fits(font) && font.pointSizeF() - shrinkStep >= smallestPointSize)
        font.setPointSizeF(font.pointSizeF() - shrinkStep);
    return font;
}

void fitStaticCaption(QWidget *control)
{
    const QFont designed = control->font();
    const QFont fitted =
        shrunkToFit(designed, [control](const QFont &font) { return captionFits(control, font); });
    // A caption that fits keeps following the window's font.
    control->setFont(fitted == designed ? QFont() : fitted);
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
