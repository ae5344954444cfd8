// The version text in the title: the build's version and the short form the title shows. The
// window's use of it is tst_formmain's.

#include "app/Version.h"

#include <QTest>

using namespace kvx;

class TestVersion : public QObject
{
    Q_OBJECT

private slots:
    void formatVersion_data();
    void formatVersion();
    void buildVersionMakesTheTitle();
};

void TestVersion::formatVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("four parts") << "1.3.5.0"
                                << "1.35";
    QTest::newRow("two parts") << "1.3"
                               << "1.30";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("three parts: the last character is never taken") << "1.3.5"
                                                                    << "1.30";
    QTest::newRow("two-digit third part") << "2.0.57.1"
                                          << "2.057";
}

void TestVersion::formatVersion()
{
    QFETCH(QString, version);
    QFETCH(QString, shown);
    QCOMPARE(FormatVersion(version), shown);
}

void TestVersion::buildVersionMakesTheTitle()
{
    QCOMPARE(ReadFileVersion(), QStringLiteral("1.3.5.0"));
    QCOMPARE(FormatVersion(ReadFileVersion()), QStringLiteral("1.35"));
}

QTEST_APPLESS_MAIN(TestVersion)
#include "tst_version.moc"
