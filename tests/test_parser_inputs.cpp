// Every input kept in fuzz/, the seeds and the inputs that once broke a
// parser, through the checks the fuzz targets make.

#include "parser_checks.h"

#include <QDir>
#include <QFile>
#include <QTest>

class ParserInputsTest : public QObject
{
    Q_OBJECT

private slots:
    void inputs_data()
    {
        QTest::addColumn<QString>("fileName");
        const QDir fuzz(QStringLiteral(QUORREL_FUZZ_DIR));
        for (const QString &kind : {QStringLiteral("corpus/"), QStringLiteral("regressions/")}) {
            for (const QString &target : {QStringLiteral("registry"), QStringLiteral("ini")}) {
                const QDir folder(fuzz.filePath(kind + target));
                QVERIFY2(kind != u"corpus/" || !folder.isEmpty(), qPrintable(folder.path()));
                for (const QString &name : folder.entryList(QDir::Files))
                    QTest::newRow(qPrintable(kind + target + u'/' + name)) << folder.filePath(name);
            }
        }
    }

    void inputs()
    {
        QFETCH(QString, fileName);
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        const std::optional<QString> broken =
            fileName.contains(u"/registry/") ? checkRegistryFile(input) : checkIniFile(input);
        QVERIFY2(!broken, qPrintable(broken.value_or(QString())));
    }
};

QTEST_GUILESS_MAIN(ParserInputsTest)
#include "test_parser_inputs.moc"
