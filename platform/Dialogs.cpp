#include "platform/Dialogs.h"

#include <QCloseEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QWidget>
#include <limits>

namespace
{

QMessageBox::Icon iconOf(int style)
{
    switch (style & 0x70) {
    case 16:
        return QMessageBox::Critical;
    case Dialogs::Question:
        return QMessageBox::Question;
    case Dialogs::Exclamation:
        return QMessageBox::Warning;
    case Dialogs::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

bool asksYesOrNo(int style)
{
    return (style & 0x0F) == Dialogs::YesNo;
}

// A message box that may insist on an answer from its buttons. Qt takes
// Escape and the close box for the reject or No button (see
// QMessageBox::escapeButton()); for a Yes/No question
// (save before closing?) that would answer No for a user who meant to back out.
class MessageBox final : public QMessageBox
{
public:
    MessageBox(Icon icon, const QString &title, const QString &text, QWidget *owner,
               bool onlyButtonsAnswer)
        : QMessageBox(icon, title, text, NoButton, owner), onlyButtonsAnswer_(onlyButtonsAnswer)
    {
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!(onlyButtonsAnswer_ && event->matches(QKeySequence::Cancel)))
            QMessageBox::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent *event) override
    {
        if (onlyButtonsAnswer_)
            event->ignore();
        else
            QMessageBox::closeEvent(event);
    }

private:
    bool onlyButtonsAnswer_;
};

} // namespace

QWidget *QtDialogs::visibleOwner() const
{
    // A box owned by a hidden window (the window sits in the tray) would be
    // placed relative to nothing useful; it is then centred on the screen.
    return owner_ && owner_->isVisible() ? owner_.data() : nullptr;
}

int QtDialogs::MsgBox(const QString &prompt, int style, const QString &title)
{
    MessageBox box(iconOf(style), title, prompt, visibleOwner(), asksYesOrNo(style));
    if (asksYesOrNo(style)) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (answer == QMessageBox::Yes)
        return Yes;
    if (answer == QMessageBox::No)
        return No;
    return OK;
}

QString QtDialogs::InputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    QInputDialog box(visibleOwner());
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setInputMode(QInputDialog::TextInput);
    // A line edit holds 32,767 characters unless told otherwise, and would cut
    // a longer text it is given to edit.
    if (auto *edit = box.findChild<QLineEdit *>())
        edit->setMaxLength(std::numeric_limits<int>::max());
    box.setTextValue(defaultText);
    if (box.exec() != QDialog::Accepted)
        return {};
    return box.textValue();
}
