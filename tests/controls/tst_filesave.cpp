// The one way the program saves a file: what it keeps of the file it replaces (permissions, a
// symbolic link) and what it refuses to replace. A full disk through the windows' saves is
// tst_filesaves's.

#include "controls/FileSave.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kvx;

class TestFileSave : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhatTheOldFileWas();
    void deviceIsNotReplaced();
};

void TestFileSave::replacesWhatTheOldFileWas()
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.ini"));
    const QString link = dir.filePath(QStringLiteral("link.ini"));
    QFile file(real);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(QFile::link(real, link));

    QCOMPARE(saveWholeFile(link, "new"), QString());
    // Through the link: the file it names gets the content, the link stays one, and the
    // permissions the user gave the file are kept (a new file would get the umask's).
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("new"));
    struct stat st
    {};
    QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{"link.ini", "real.ini"}));
}

void TestFileSave::deviceIsNotReplaced()
{
    // Renamed over, a device or a pipe would be a plain file from then on: a save to
    // /dev/null by root would have replaced the system's.
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QVERIFY(!saveWholeFile(pipe, "x").isEmpty());
    QVERIFY(!QFileInfo(pipe).isFile());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{"pipe"});
}

QTEST_MAIN(TestFileSave)
#include "tst_filesave.moc"
