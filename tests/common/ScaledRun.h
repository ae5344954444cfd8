#pragma once

// One case of the running test again, in a child process whose windows are drawn at a scale
// (Qt's QT_SCALE_FACTOR on the offscreen platform, whose one screen is 1920 x 1080 device
// pixels: 960 x 540 of the layouts' pixels at 200 %), since a process takes its scale once, at
// start. In the child, scaledRunScale() is that scale and the case does its work; in the test
// itself it is 0 and the case runs the child:
//
//     if (scaledRunScale() == 0) {
//         KVX_RUN_SCALED(scale);
//         return;
//     }

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

[[nodiscard]] inline double scaledRunScale()
{
    return qEnvironmentVariable("KVX_SCALED_RUN").toDouble();
}

// Runs the current case (function and data row) in a child at `scale` and fails the test with
// the child's output when the child failed.
#define KVX_RUN_SCALED(scale)                                                                      \
    do {                                                                                           \
        QString failure_;                                                                          \
        if (!runScaledChild((scale), &failure_))                                                   \
            QFAIL(qPrintable(failure_));                                                           \
    } while (false)

inline bool runScaledChild(double scale, QString *failure)
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1920,
                       "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96}]})") < 0) {
        *failure = QStringLiteral("could not write %1").arg(config);
        return false;
    }
    file.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KVX_SCALED_RUN"), QString::number(scale));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QString which = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        which += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    child.start(QCoreApplication::applicationFilePath(), {which});
    const bool ended = child.waitForFinished(600000);
    if (ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return true;
    *failure = QStringLiteral("at %1: %2").arg(scale).arg(QString::fromLocal8Bit(child.readAll()));
    return false;
}
