// Where the settings file lives: beside the program when its folder may be written, otherwise
// in the user's configuration folder, created when the file is first written.

#include "settings/SettingsLocation.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace kvx;

class TestSettingsLocation : public QObject
{
    Q_OBJECT

private slots:
    void chosenFolder_data();
    void chosenFolder();
    void configFolderCreatedOnFirstUse();
    void preparedFileAdopted();
};

void TestSettingsLocation::chosenFolder_data()
{
    QTest::addColumn<QString>("programDir"); // below the test's temporary folder
    QTest::addColumn<int>("mode");           // permissions given to it; 0 leaves them
    QTest::addColumn<bool>("beside");
    QTest::newRow("a build or portable copy") << "bin" << 0 << true;
    // Root may write anywhere: the file stays where it can be kept.
    QTest::newRow("a read-only folder") << "bin" << 0555 << (::geteuid() == 0);
    QTest::newRow("no such folder") << "missing/bin" << 0 << false;
    QTest::newRow("a file, not a folder") << "file" << 0 << false;
    QTest::newRow("an install tree") << "usr/bin" << 0 << false;
}

void TestSettingsLocation::chosenFolder()
{
    QFETCH(QString, programDir);
    QFETCH(int, mode);
    QFETCH(bool, beside);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString program = root.filePath(programDir);
    if (programDir == QStringLiteral("bin"))
        QVERIFY(QDir().mkpath(program));
    if (programDir == QStringLiteral("usr/bin")) {
        // Writable, even without root: its desktop entry tells it is installed.
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("usr/share/applications"))));
        QFile entry(
            root.filePath(QStringLiteral("usr/share/applications/org.kvx310.EvalKit.desktop")));
        QVERIFY(entry.open(QIODevice::WriteOnly));
    }
    if (programDir == QStringLiteral("file")) {
        QFile f(program);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    if (mode != 0)
        QVERIFY(QFile::setPermissions(
            program, QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther)));
    const QString config = root.filePath(QStringLiteral("config/KVX310 Evaluation Kit"));
    const QString path = settingsPathFor(program, config);
    QCOMPARE(path, QDir(beside ? program : config).filePath(QStringLiteral("Eval310.ini")));
    // The probe leaves nothing behind.
    if (beside)
        QCOMPARE(QDir(program).entryList(QDir::Files), QStringList());
    QFile::setPermissions(program,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestSettingsLocation::configFolderCreatedOnFirstUse()
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("a/b/Eval310.ini"));
    QVERIFY(ensureSettingsFolder(path));
    QVERIFY(QDir(root.filePath(QStringLiteral("a/b"))).exists());
    // A file in the way: no folder, and the caller's save then fails quietly.
    QFile blocker(root.filePath(QStringLiteral("a/file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    QVERIFY(!ensureSettingsFolder(root.filePath(QStringLiteral("a/file/Eval310.ini"))));
}

void TestSettingsLocation::preparedFileAdopted()
{
    // An installed program with a file prepared beside it: the user's file starts as its copy,
    // once; what the user has then is never overwritten.
    QTemporaryDir root;
    const QString program = root.filePath(QStringLiteral("usr/bin"));
    QVERIFY(QDir().mkpath(program));
    QFile prepared(QDir(program).filePath(QStringLiteral("Eval310.ini")));
    QVERIFY(prepared.open(QIODevice::WriteOnly));
    prepared.write("[Ports]\nCOM1=/dev/ttyUSB0\n");
    prepared.close();
    const QString user = root.filePath(QStringLiteral("config/Eval310.ini"));
    QVERIFY(adoptProgramSettings(program, user));
    QFile copy(user);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("[Ports]\nCOM1=/dev/ttyUSB0\n"));
    QVERIFY(!adoptProgramSettings(program, user));
    QVERIFY(!adoptProgramSettings(program, QDir(program).filePath(QStringLiteral("Eval310.ini"))));
}

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
