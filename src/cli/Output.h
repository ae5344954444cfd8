#pragma once

// Where kvx310 writes: results on the standard output, every error in one line on the standard
// error. With --json each command writes one JSON object on one line, its result or its error,
// each with the command and the exit status, so that a program reads a script's output line by
// line. User-interface thread.

#include <QJsonObject>
#include <QString>

namespace kvx::cli {

struct OutputMode
{
    bool json = false;
    QString command; // as the objects name it: "read", "snapshot diff"
    int line = 0;    // of a script; 0 on a command line
};

void setOutputMode(const OutputMode &mode);
[[nodiscard]] const OutputMode &outputMode();

QString tr(const char *text);
void printOut(const QString &text);
// The command's one result object (with --json), with "command" and "exit" added.
void printResult(QJsonObject result, int code = 0);
// Says `message` on the standard error (as an object with --json, with `details`) and returns
// `code`.
int error(int code, const QString &message, const QJsonObject &details = {});

} // namespace kvx::cli
