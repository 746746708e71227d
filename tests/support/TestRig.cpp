#include "support/TestRig.h"

#include <QDir>
#include <QStandardPaths>

QStringList ScriptedDialogs::boxes() const
{
    QStringList boxes;
    for (const Shown &box : shown)
        boxes.append(QStringLiteral("%1 | %2 | %3 | %4")
                         .arg(box.style)
                         .arg(box.title, box.prompt, box.defaultText));
    return boxes;
}

ScriptedDialogs::Answer ScriptedDialogs::answer(QQueue<Answer> &answers)
{
    Answer next = answers.isEmpty() ? Answer() : answers.dequeue();
    if (next.whileOpen)
        next.whileOpen();
    return next;
}

TestRig::TestRig(const QByteArray &settingsFile)
    : homeDir_(temp_.path()), settings_(homeDir_ + QStringLiteral("/config")),
      registry_(homeDir_ + QStringLiteral("/data/registry.reg"))
{
    QStandardPaths::setTestModeEnabled(true);
    if (!settingsFile.isNull() && !writeWholeFile(this->settingsFile(), settingsFile))
        qFatal("the settings file could not be written");
}

TestRig::~TestRig() = default;

frmmain &TestRig::window()
{
    if (!window_)
        window_ = std::make_unique<frmmain>(Services{
            .dialogs = &dialogs,
            .tray = &tray,
            .shell = &shell,
            .settings = &settings_,
            .inet = &inet,
            .clock = &clock,
            .random = &random,
            .registry = &registry_,
        });
    return *window_;
}

bool writeWholeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    return QDir().mkpath(QFileInfo(fileName).absolutePath()) &&
           file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

QByteArray fileBytes(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
