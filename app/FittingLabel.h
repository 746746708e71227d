#pragma once

#include <QLabel>
#include <functional>

// The largest size of `font`, down to a floor of 6 points in quarter-point
// steps, at which `fits` holds; the floor when none does.
QFont shrunkToFit(QFont font, const std::function<bool(const QFont &)> &fits);

// Captions that never change (of a button, or of a wrapping label) are given a
// smaller size of the dialog font where the desktop's font is too wide for the
// place the design gives them.
void fitStaticCaption(QWidget *control);

// A one-line label whose text always shows whole: when it is wider than the
// label, the text is drawn in a smaller size of the label's font, down to a
// floor below which it is elided instead. The caption itself (text(), what
// screen readers read) is never changed.
class FittingLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit FittingLabel(const QString &text = QString(), QWidget *parent = nullptr);

    // The font the text is drawn in at the label's present size and text.
    QFont fittedFont() const;
    // The text as drawn: the whole text, or elided when even the smallest size
    // is too wide.
    QString drawnText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int room() const;
    // As much of the text as could show at any size.
    QString showable() const;
};
