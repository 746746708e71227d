#include "support/ScriptedDialogs.h"

void ScriptedDialogs::answerMsgBox(int button, std::function<void()> whileOpen)
{
    msgBoxAnswers_.enqueue({button, QString(), std::move(whileOpen)});
}

void ScriptedDialogs::answerInputBox(const QString &text, std::function<void()> whileOpen)
{
    inputBoxAnswers_.enqueue({Dialogs::OK, text, std::move(whileOpen)});
}

void ScriptedDialogs::cancelInputBox(std::function<void()> whileOpen)
{
    // A cancelled input box returns the empty text.
    inputBoxAnswers_.enqueue({Dialogs::OK, QString(), std::move(whileOpen)});
}

int ScriptedDialogs::MsgBox(const QString &prompt, int style, const QString &title)
{
    shown.append({QStringLiteral("MsgBox"), prompt, title, style, QString()});
    if (msgBoxAnswers_.isEmpty()) {
        ++unanswered;
        return Dialogs::OK;
    }
    Answer answer = msgBoxAnswers_.dequeue();
    if (answer.whileOpen)
        answer.whileOpen();
    return answer.button;
}

QString ScriptedDialogs::InputBox(const QString &prompt, const QString &title,
                                  const QString &defaultText)
{
    shown.append({QStringLiteral("InputBox"), prompt, title, 0, defaultText});
    if (inputBoxAnswers_.isEmpty()) {
        ++unanswered;
        return {};
    }
    Answer answer = inputBoxAnswers_.dequeue();
    if (answer.whileOpen)
        answer.whileOpen();
    return answer.text;
}
