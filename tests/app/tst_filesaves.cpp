// Every save of the program on a full disk, through the windows' own paths: the old file stays
// byte for byte, no temporary file is left behind, and the user is told, but for the settings
// written at close, which fail in silence. The saving function's own rules (permissions, links,
// devices) are tst_filesave's; the RAM page's save is tst_rampage's.

#include "common/AppFixture.h"
#include "common/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>

using namespace kvx;

class TestFileSaves : public QObject
{
    Q_OBJECT

private slots:
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
};

namespace {

enum Save
{
    SettingsAtClose,
    PlotData,
    PlotPicture,
    PlotAllData,
    PlotSvg,
    Traffic,
};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestFileSaves::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<int>("save");
    // Each used to leave an empty or cut file in place of the old one, without a word: the
    // system's save file took a failed last flush for success.
    QTest::newRow("settings written at close") << int(SettingsAtClose);
    QTest::newRow("plot data") << int(PlotData);
    QTest::newRow("plot picture") << int(PlotPicture);
    QTest::newRow("plot data, all motors") << int(PlotAllData);
    QTest::newRow("plot picture as SVG") << int(PlotSvg);
    QTest::newRow("traffic") << int(Traffic);
}

void TestFileSaves::fullDiskKeepsTheOldFile()
{
    QFETCH(int, save);
    AppFixture app;
    const QByteArray old = "; the user's own notes\n[Ports]\nCOM2=/dev/ttyUSB0\n";
    QString path;
    if (save == SettingsAtClose) {
        QVERIFY(app.writeSettings(old));
        path = app.iniPath();
    } else {
        path = QFileInfo(app.iniPath()).dir().filePath(QStringLiteral("saved.out"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    }
    app.createWindows();
    app.fileAnswer = path;
    const QStringList before = QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden);
    {
        // Room for a few bytes only: every save runs out of it part of the way.
        const FileSizeLimit full(16);
        QVERIFY(full.set());
        switch (save) {
        case SettingsAtClose:
            app.main().close();
            break;
        case PlotData:
            app.graphics().exportData(0);
            break;
        case PlotPicture:
            app.graphics().savePicture(0);
            break;
        case PlotAllData:
            app.graphics().exportAllData();
            break;
        case PlotSvg:
            app.graphics().exportPicture(PictureFormat::Svg);
            break;
        case Traffic: {
            QSignalSpy saved(&app.traffic(), &TFormTraffic::saved);
            app.traffic().BtnSaveClick();
            QVERIFY(saved.wait(AppFixture::kEventWait));
            QCOMPARE(saved.first().first().toBool(), false);
            break;
        }
        }
    }
    QCOMPARE(contentOf(path), old);
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden), before);
    if (save == SettingsAtClose) {
        QVERIFY(app.messages.isEmpty());
        return;
    }
    QCOMPARE(app.messages.size(), 1);
    const MessageRequest &told = app.messages.first();
    QVERIFY2((told.text + told.informative).contains(QLatin1String("saved.out")),
             qPrintable(told.text));
    QVERIFY2(told.informative.contains(qt_error_string(EFBIG)), qPrintable(told.informative));
}

QTEST_MAIN(TestFileSaves)
#include "tst_filesaves.moc"
