#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// Message and input boxes. Both are modal for the user only: timers and other
// events keep being handled while they are open.
class Dialogs
{
public:
    // Button codes returned by MsgBox.
    static constexpr int OK = 1;
    static constexpr int Yes = 6;
    static constexpr int No = 7;

    // Style values: buttons plus icon.
    static constexpr int OkOnly = 0;
    static constexpr int YesNo = 4;
    static constexpr int Question = 32;
    static constexpr int Exclamation = 48;
    static constexpr int Information = 64;

    virtual ~Dialogs() = default;

    virtual int MsgBox(const QString &prompt, int style, const QString &title) = 0;
    // The text typed when the user presses OK, an empty text on Cancel.
    virtual QString InputBox(const QString &prompt, const QString &title,
                             const QString &defaultText) = 0;
};

// QMessageBox and QInputDialog, centred over the owner window when it is shown.
class QtDialogs final : public Dialogs
{
public:
    void setOwner(QWidget *owner) { owner_ = owner; }

    int MsgBox(const QString &prompt, int style, const QString &title) override;
    QString InputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override;

private:
    QWidget *visibleOwner() const;

    QPointer<QWidget> owner_;
};
