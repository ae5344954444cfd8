// The settings file: reading, writing one key while keeping everything else, in the encodings
// Windows tools write, and files that count as missing or may not be overwritten. The window's
// use of it is tst_formmain's.

#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kvx;

class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void writingOneKeyKeepsTheRest();
    void keyAddedToMissingSection();
    void garbledFileCountsAsMissingAndIsKept();
    void missingFile();
    void markedFilesKeepTheirPorts_data();
    void markedFilesKeepTheirPorts();
    void unreadableFileIsNotOverwritten_data();
    void unreadableFileIsNotOverwritten();
    void encodingsAsWindowsToolsWriteThem_data();
    void encodingsAsWindowsToolsWriteThem();

private:
    static QString write(const QTemporaryDir &dir, const QByteArray &content);
    static QByteArray read(const QString &path);
};

QString TestIniFile::write(const QTemporaryDir &dir, const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("Eval310.ini"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

QByteArray TestIniFile::read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestIniFile::writingOneKeyKeepsTheRest()
{
    QTemporaryDir dir;
    const QString path = write(dir, "; kept\r\n[Ports]\r\nCOM1=sim\r\nCOM2 = /dev/ttyUSB0\r\n"
                                    "[settings]\r\ncomport=2\r\nOther=x\r\n");
    IniFile ini;
    QVERIFY(ini.load(path));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 0), 2);
    QCOMPARE(ini.section(QStringLiteral("Ports")).value(QStringLiteral("COM2")),
             QStringLiteral("/dev/ttyUSB0"));
    ini.setValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), QStringLiteral("4"));
    QVERIFY(ini.save(path));
    QCOMPARE(read(path), QByteArray("; kept\r\n[Ports]\r\nCOM1=sim\r\nCOM2 = /dev/ttyUSB0\r\n"
                                    "[settings]\r\nCOMPort=4\r\nOther=x\r\n"));
}

void TestIniFile::keyAddedToMissingSection()
{
    QTemporaryDir dir;
    const QString path = write(dir, "[Ports]\nCOM1=sim\n");
    IniFile ini;
    QVERIFY(ini.load(path));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 7), 7);
    ini.setValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), QStringLiteral("-1"));
    QVERIFY(ini.save(path));
    QCOMPARE(read(path), QByteArray("[Ports]\nCOM1=sim\n\n[Settings]\nCOMPort=-1\n"));
}

void TestIniFile::garbledFileCountsAsMissingAndIsKept()
{
    QTemporaryDir dir;
    const QByteArray garbage("[Settings]\nCOMPort=3\n\x00\xFF\xFE", 23);
    const QString path = write(dir, garbage);
    IniFile ini;
    QVERIFY(!ini.load(path));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 0), 0);
    ini.setValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), QStringLiteral("1"));
    QVERIFY(ini.save(path));
    QCOMPARE(read(path), QByteArray("[Settings]\nCOMPort=1\n"));
    QCOMPARE(read(path + QStringLiteral(".bad")), garbage); // nothing the user had is lost
    QVERIFY(ini.save(path));
    QCOMPARE(read(path + QStringLiteral(".bad")), garbage);
}

void TestIniFile::missingFile()
{
    QTemporaryDir dir;
    IniFile ini;
    QVERIFY(!ini.load(dir.filePath(QStringLiteral("none.ini"))));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 0), 0);
    QVERIFY(ini.section(QStringLiteral("Ports")).isEmpty());
}

void TestIniFile::encodingsAsWindowsToolsWriteThem_data()
{
    QTest::addColumn<QByteArray>("content");
    // One byte that is not UTF-8 used to make the whole file count as garbled: the [Ports]
    // mapping was lost at exit.
    QTest::newRow("ANSI, a comment with \"\\xFC\"")
        << QByteArray("; Pr\xFC"
                      "fstand links\r\n[Settings]\r\nCOMPort=2\r\n\r\n[Ports]\r\n"
                      "COM3=/dev/ttyUSB0\r\n");
    QTest::newRow("UTF-8, the same comment")
        << QByteArray("; Pr\xC3\xBC"
                      "fstand links\n[Settings]\nCOMPort=2\n[Ports]\n"
                      "COM3=/dev/ttyUSB0\n");
    QTest::newRow("ANSI value in another section")
        << QByteArray("[Settings]\nCOMPort=2\n[Ports]\nCOM3=/dev/ttyUSB0\n[Notes]\n"
                      "Who=J\xFCrgen\n");
    // A byte-order mark used to hide the first section, in either reading.
    QTest::newRow("byte-order mark, ANSI")
        << QByteArray("\xEF\xBB\xBF[Settings]\r\nCOMPort=2\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n"
                      "; J\xFCrgen\r\n");
    QTest::newRow("byte-order mark, UTF-8")
        << QByteArray("\xEF\xBB\xBF[Settings]\nCOMPort=2\n[Ports]\nCOM3=/dev/ttyUSB0\n");
    // The value read is the line written: the port chosen used to be read back from the
    // other spelling.
    QTest::newRow("two spellings of a key")
        << QByteArray("[Settings]\nCOMPort=2\nCOMPoRt=0\n[Ports]\nCOM3=/dev/ttyUSB0\n");
}

void TestIniFile::encodingsAsWindowsToolsWriteThem()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = write(dir, content);
    IniFile ini;
    QVERIFY(ini.load(path));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 0), 2);
    QCOMPARE(ini.section(QStringLiteral("Ports")).value(QStringLiteral("COM3")),
             QStringLiteral("/dev/ttyUSB0"));
    ini.setValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), QStringLiteral("4"));
    QVERIFY(ini.save(path));
    QByteArray expected = content;
    expected.replace("COMPort=2", "COMPort=4"); // every other byte as it was
    QCOMPARE(read(path), expected);
    QVERIFY(!QFile::exists(path + QStringLiteral(".bad")));
}

void TestIniFile::markedFilesKeepTheirPorts_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("withPort"); // after COM3 is set to "sim:korve"
    const QByteArray mark("\xEF\xBB\xBF");
    // Written back unchanged, a file of only a mark used to gain a line end.
    QTest::newRow("only a mark") << mark << mark + "[Ports]\nCOM3=sim:korve\n";
    QTest::newRow("two marks, UTF-8") << mark + mark + "[Ports]\nCOM3=/dev/ttyUSB0\n"
                                      << mark + mark + "[Ports]\nCOM3=sim:korve\n";
    // Read as Windows-1252 the second mark hid the first [Ports]; once the rewrite made the
    // file UTF-8, it no longer did, and the port written was not the one read back.
    QTest::newRow("two marks, ANSI, the section twice")
        << mark + mark + "[Ports]\nCOM3=/dev/ttyS2\n[Ports]\nCOM3=x\xAF\n"
        << mark + mark + "[Ports]\nCOM3=sim:korve\n[Ports]\nCOM3=x\xAF\n";
}

void TestIniFile::markedFilesKeepTheirPorts()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, withPort);
    QTemporaryDir dir;
    const QString path = write(dir, content);
    IniFile ini;
    QVERIFY(ini.load(path));
    QVERIFY(ini.save(path));
    QCOMPARE(read(path), content);
    ini.setValue(QStringLiteral("Ports"), QStringLiteral("COM3"), QStringLiteral("sim:korve"));
    QVERIFY(ini.save(path));
    QCOMPARE(read(path), withPort);
    IniFile again;
    QVERIFY(again.load(path));
    QCOMPARE(again.value(QStringLiteral("Ports"), QStringLiteral("COM3")),
             std::optional<QString>(QStringLiteral("sim:korve")));
}

void TestIniFile::unreadableFileIsNotOverwritten_data()
{
    QTest::addColumn<QString>("kind");
    // What cannot be read is unknown: writing our one key would have replaced all of it. A
    // named pipe used to hang the program before any window appeared, a link to /dev/zero to
    // abort it, and a huge file to cost hundreds of megabytes and be rewritten at exit.
    QTest::newRow("directory") << "dir";
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
    QTest::newRow("larger than a settings file") << "large";
}

void TestIniFile::unreadableFileIsNotOverwritten()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Eval310.ini"));
    QByteArray large;
    if (kind == QLatin1String("dir")) {
        QVERIFY(QDir().mkdir(path)); // exists, cannot be read as a file, whatever the rights
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("zero")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else {
        large = "[Settings]\nCOMPort=2\n" + QByteArray(IniFile::kMaxSize, ';');
        write(dir, large);
    }
    IniFile ini;
    QVERIFY(!ini.load(path));
    QCOMPARE(ini.intValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), 0), 0);
    ini.setValue(QStringLiteral("Settings"), QStringLiteral("COMPort"), QStringLiteral("1"));
    QVERIFY(!ini.save(path));
    if (kind == QLatin1String("dir"))
        QVERIFY(QFileInfo(path).isDir());
    else if (kind == QLatin1String("large"))
        QCOMPARE(read(path), large);
    else
        QCOMPARE(QFileInfo(path).isFile(), false);
    QVERIFY(!QFile::exists(path + QStringLiteral(".bad")));
}

QTEST_APPLESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
