// Every input kept in fuzz/, the seed corpora and the inputs that once broke a
// parser, through the checks that the fuzz targets make. So `make test` keeps
// trying what `make fuzz` found.

#include "parser_checks.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace
{

// One row for each input of a fuzz target: its seeds, then the inputs kept
// after they broke a parser.
void addInputRows(const QString &target)
{
    QTest::addColumn<QString>("fileName");
    const QDir fuzz(QStringLiteral(QUORREL_FUZZ_DIR));
    qsizetype rows = 0;
    for (const QString &kind : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
        const QDir folder(fuzz.filePath(kind + u'/' + target));
        for (const QString &name : folder.entryList(QDir::Files)) {
            QTest::newRow(qPrintable(kind + u'/' + name)) << folder.filePath(name);
            ++rows;
        }
    }
    QVERIFY2(rows > 0, qPrintable(QStringLiteral("no inputs for %1").arg(target)));
}

QByteArray bytesOf(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ParserInputsTest : public QObject
{
    Q_OBJECT

private slots:
    void registryFiles_data() { addInputRows(QStringLiteral("registry")); }

    void registryFiles()
    {
        QFETCH(QString, fileName);
        const std::optional<QString> broken = checkRegistryFile(bytesOf(fileName));
        QVERIFY2(!broken, qPrintable(broken.value_or(QString())));
    }

    void iniFiles_data() { addInputRows(QStringLiteral("ini")); }

    void iniFiles()
    {
        QFETCH(QString, fileName);
        const std::optional<QString> broken = checkIniFile(bytesOf(fileName));
        QVERIFY2(!broken, qPrintable(broken.value_or(QString())));
    }
};

QTEST_GUILESS_MAIN(ParserInputsTest)
#include "test_parser_inputs.moc"
