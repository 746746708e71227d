#include "support/TestRig.h"

using namespace Qt::StringLiterals;

ScriptedDialogs::Answer ScriptedDialogs::answer(QQueue<Answer> &answers, int style,
                                                const QString &title, const QString &prompt,
                                                const QString &defaultText)
{
    boxes.append(u"%1 | %2 | %3 | %4"_s.arg(style).arg(title, prompt, defaultText));
    Answer next = answers.isEmpty() ? Answer() : answers.dequeue();
    if (next.whileOpen)
        next.whileOpen();
    return next;
}

TestRig::TestRig(const QByteArray &settingsFile, const QByteArray &registryFile)
    : homeDir_(temp_.path()), settings_(homeDir_ + QStringLiteral("/config")),
      registry_(homeDir_ + QStringLiteral("/data/registry.reg")),
      attemptLog_(homeDir_ + QStringLiteral("/state/attempts.log"))
{
    QStandardPaths::setTestModeEnabled(true);
    if ((!settingsFile.isNull() && !writeWholeFile(this->settingsFile(), settingsFile)) ||
        (!registryFile.isNull() && !writeWholeFile(registry_.fileName(), registryFile)))
        qFatal("the stores could not be written");
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
            .inet = transfers,
            .clock = &clock,
            .random = &random,
            .registry = &registry_,
            .tcpip = system,
            .attemptLog = &attemptLog_,
            .notifier = &notifier,
        });
    return *window_;
}

QString TestRig::save()
{
    QTest::mouseClick(window().Command8, Qt::LeftButton);
    return lastPrompt();
}

void TestRig::pickSpeed(const QString &speed)
{
    window().Combo1->setCurrentIndex(window().Combo1->findText(speed));
    emit window().Combo1->activated(window().Combo1->currentIndex());
}

QString TestRig::optimizeFor(const QString &speed)
{
    pickSpeed(speed);
    QTest::mouseClick(window().Command12, Qt::LeftButton);
    return lastPrompt();
}

QString TestRig::lastPrompt() const
{
    return dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.last().section(u" | "_s, 2, 2);
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
