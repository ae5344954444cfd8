// kvx310 script: the tool's own commands, one a line, on one session of the board, so that a
// recording runs beside a move and a wait. Words are split as a shell splits them, without
// its expansions: blanks between words, '...' and "..." around a word with blanks, # starts a
// comment.

#include "cli/Commands.h"
#include "cli/Tool.h"
#include "settings/FileRead.h"

#include <QFile>

#include <cstdio>
#include <utility>
#include <vector>

namespace kvx::cli {

namespace {

// A script longer than this is a file named by mistake.
constexpr qsizetype kMaxScript = 1024 * 1024;

// Nothing, with `error` set, when a quote is not closed.
std::optional<QStringList> splitWords(const QString &line, QString *error)
{
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (const QChar c : line) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << std::exchange(word, QString());
            inWord = false;
        } else if (c == QLatin1Char('#') && !inWord) {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (!quote.isNull()) {
        *error = tr("a %1 is not closed").arg(quote);
        return std::nullopt;
    }
    if (inWord)
        words << word;
    return words;
}

QString readScript(const QString &path, QByteArray *text)
{
    if (path != QLatin1String("-"))
        return readRegularFile(path, kMaxScript, text);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return in.errorString();
    *text = in.read(kMaxScript + 1);
    return text->size() > kMaxScript ? tr("it is longer than 1 MiB") : QString();
}

// The recordings still running, ended once `until` holds, and told of in one object.
int endRecordings(ToolSession &session, ToolSession::Until until, int line)
{
    if (!session.recording())
        return kDone;
    setOutputMode({outputMode().json, QStringLiteral("record"), line});
    QJsonArray recorded;
    const int code = session.endRecordings(until, &recorded);
    if (!recorded.isEmpty())
        printResult({{QStringLiteral("recordings"), recorded}});
    return code;
}

} // namespace

int runScript(const ToolOptions &options, SimulatedPortProvider simulated)
{
    setOutputMode({options.json, QStringLiteral("script"), 0});
    for (const QString &option : options.given) {
        if (!QStringList{QStringLiteral("port"), QStringLiteral("no-attach"),
                         QStringLiteral("json"), QStringLiteral("quiet")}
                 .contains(option))
            return error(kUsage, tr("script does not take --%1").arg(option));
    }
    if (options.words.size() != 2)
        return error(kUsage, tr("script takes one file name (- for the standard input)"));
    QByteArray text;
    if (const QString why = readScript(options.words[1], &text); !why.isEmpty())
        return error(kUsage, tr("could not read %1: %2").arg(options.words[1], why));

    // Every line is read and checked before the first runs: a mistake on the last line does
    // not leave a motor moving.
    std::vector<std::pair<int, ToolOptions>> lines;
    const QStringList all = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < all.size(); ++n) {
        setOutputMode({options.json, QStringLiteral("script"), int(n) + 1});
        QString why;
        const std::optional<QStringList> words = splitWords(all[n], &why);
        if (!words)
            return error(kUsage, why);
        if (words->isEmpty())
            continue;
        std::optional<ToolOptions> o =
            parseToolOptions(QStringList{QStringLiteral("kvx310")} + *words, &why);
        if (!o)
            return error(kUsage, why);
        for (const char *own : {"port", "no-attach", "help", "version"}) {
            if (o->given.contains(QLatin1String(own)))
                return error(kUsage, tr("--%1 is the script's, not a line's: kvx310 --port PORT "
                                        "script FILE")
                                         .arg(QLatin1String(own)));
        }
        o->port = options.port;
        o->attach = options.attach;
        o->json = o->json || options.json;
        o->quiet = o->quiet || options.quiet;
        lines.emplace_back(int(n) + 1, std::move(*o));
    }
    ToolSession session(options, std::move(simulated), true);
    for (const auto &[n, o] : lines) {
        Tool tool(o, session);
        setOutputMode({o.json, tool.commandName(), n});
        if (const int code = tool.check(false); code != kDone)
            return code;
    }
    for (const auto &[n, o] : lines) {
        setOutputMode({o.json, QStringLiteral("script"), n});
        if (session.interrupted()) {
            const int code = error(kBoardSaidNo, tr("interrupted"));
            endRecordings(session, ToolSession::Until::Now, n);
            return code;
        }
        const int code = Tool(o, session).run();
        // A program that reads the output line by line hears of each command as it ends.
        std::fflush(stdout);
        if (code != kDone) {
            // What was recorded up to here stays, in whole lines.
            endRecordings(session, ToolSession::Until::Now, n);
            return code;
        }
    }
    return endRecordings(session, ToolSession::Until::TimedOver, 0);
}

} // namespace kvx::cli
