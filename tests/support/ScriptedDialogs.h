#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <functional>

// Dialogs that answer from a script instead of a person. Every box shown is
// recorded; an answer may carry an action that runs while the box is "open",
// as the user's typing would, to reproduce what the nested event loop allows.
class ScriptedDialogs final : public Dialogs
{
public:
    struct Shown {
        QString kind; // "MsgBox" or "InputBox"
        QString prompt;
        QString title;
        int style = 0;
        QString defaultText;
    };

    void answerMsgBox(int button, std::function<void()> whileOpen = {});
    void answerInputBox(const QString &text, std::function<void()> whileOpen = {});
    void cancelInputBox(std::function<void()> whileOpen = {});

    int MsgBox(const QString &prompt, int style, const QString &title) override;
    QString InputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override;

    QList<Shown> shown;
    int unanswered = 0; // boxes shown with no scripted answer left

private:
    struct Answer {
        int button = Dialogs::OK;
        QString text;
        std::function<void()> whileOpen;
    };
    QQueue<Answer> msgBoxAnswers_;
    QQueue<Answer> inputBoxAnswers_;
};
