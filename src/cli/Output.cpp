#include "cli/Output.h"

#include "chip/ValueFormat.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

namespace kvx::cli {

namespace {

OutputMode g_mode;

void writeObject(QJsonObject o, int code, FILE *to)
{
    o.insert(QStringLiteral("command"), g_mode.command);
    o.insert(QStringLiteral("exit"), code);
    if (g_mode.line > 0)
        o.insert(QStringLiteral("line"), g_mode.line);
    const QByteArray text = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), to);
    std::fflush(to);
}

} // namespace

void setOutputMode(const OutputMode &mode)
{
    g_mode = mode;
}

const OutputMode &outputMode()
{
    return g_mode;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

void printResult(QJsonObject result, int code)
{
    if (g_mode.json)
        writeObject(std::move(result), code, stdout);
}

int error(int code, const QString &message, const QJsonObject &details)
{
    std::fflush(stdout);
    if (g_mode.json) {
        QJsonObject o = details;
        o.insert(QStringLiteral("error"), message);
        writeObject(o, code, stderr);
        return code;
    }
    // One line, whatever a path or a file put into it.
    const QString where = g_mode.line > 0 ? tr("line %1: ").arg(g_mode.line) : QString();
    std::fprintf(stderr, "kvx310: %s%s\n", qPrintable(where), qPrintable(controlsEscaped(message)));
    return code;
}

} // namespace kvx::cli
