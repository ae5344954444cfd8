// The one way the program saves a file: what it keeps of the file it replaces (permissions, a
// symbolic link), what it refuses to replace, which links it follows (the user's own only), and
// the file a recording opens. A full disk through the windows' saves is tst_filesaves's.

#include "settings/FileSave.h"

#include "chip/ValueFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace kvx;

class TestFileSave : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhatTheOldFileWas();
    void deviceIsNotReplaced();
    void onlyOwnLinksAreFollowed_data();
    void onlyOwnLinksAreFollowed();
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

void TestFileSave::onlyOwnLinksAreFollowed_data()
{
    QTest::addColumn<int>("owner"); // of the link in the middle of the chain
    QTest::addColumn<bool>("dangling");
    QTest::newRow("own link") << int(::geteuid()) << false;
    QTest::newRow("own dangling link: the file is made where it points")
        << int(::geteuid()) << true;
    // "ln -s ~victim/.ssh/id_ed25519 /tmp/snap.txt" by another user: the victim's key stays.
    QTest::newRow("another user's link") << 4242 << false;
    QTest::newRow("another user's dangling link") << 4242 << true;
}

void TestFileSave::onlyOwnLinksAreFollowed()
{
    QFETCH(int, owner);
    QFETCH(bool, dangling);
    if (owner != int(::geteuid()) && ::geteuid() != 0)
        QSKIP("only root can give a link to another user (lchown), as CI's runs do");
    for (const bool record : {false, true}) {
        QTemporaryDir dir;
        const QString key = dir.filePath(QStringLiteral("id")), planted = key + QLatin1Char('>');
        QFile file(key);
        QVERIFY(dangling || (file.open(QIODevice::WriteOnly) && file.write("secret") == 6));
        file.close();
        QVERIFY(QFile::link(key, planted) && QFile::link(planted, planted + QLatin1Char('>')));
        QCOMPARE(::lchown(QFile::encodeName(planted).constData(), uid_t(owner), gid_t(owner)), 0);
        const QString why = record ? openToRecord(planted + QLatin1Char('>'), file)
                                   : saveWholeFile(planted + QLatin1Char('>'), "new");
        QVERIFY(!file.isOpen() || file.write("new") == 3);
        file.close();
        QFile written(key);
        const bool own = owner == int(::geteuid());
        QCOMPARE(written.open(QIODevice::ReadOnly), own || !dangling);
        QCOMPARE(written.readAll(), own ? QByteArray("new") : QByteArray(dangling ? "" : "secret"));
        QCOMPARE(
            why,
            own ? QString()
                : quoted(planted) +
                      QStringLiteral(
                          " is a symbolic link of another user (uid 4242); it is not followed"));
    }
}

QTEST_MAIN(TestFileSave)
#include "tst_filesave.moc"
