// The one way the program saves a file: what it keeps of the file it replaces (permissions, a
// symbolic link) and what it refuses to replace. A full disk through the windows' saves is
// tst_filesaves's.

#include "settings/FileSave.h"

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
    // A mode no usual umask gives a new file.
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    const QString chain = dir.filePath(QStringLiteral("chain.ini"));
    QVERIFY(QFile::link(real, link) && QFile::link(link, chain));

    QCOMPARE(saveWholeFile(chain, "new"), QString());
    // Through a chain of links: the file at its end gets the content, the links stay links,
    // and the permissions the user gave the file are kept.
    QVERIFY(QFileInfo(link).isSymLink() && QFileInfo(chain).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("new"));
    struct stat st
    {};
    QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0604u);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{"chain.ini", "link.ini", "real.ini"}));
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
