#pragma once

// One run of kvx310: the command line checked whole (names, values, files) before the port is
// opened, then the command on the board. Each command returns its exit status (ToolOptions.h).
// Output goes to the standard output, every error to the standard error in one line.

#include "cli/BoardClient.h"
#include "cli/ToolOptions.h"
#include "records/CsvRecorder.h"
#include "records/RamTable.h"
#include "records/RegisterNames.h"
#include "records/Snapshot.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kvx::cli {

QString tr(const char *text);
void printOut(const QString &text);
void printJson(const QJsonValue &v);
// Says `message` on the standard error and returns `code`.
int error(int code, const QString &message);

class Tool
{
public:
    explicit Tool(const ToolOptions &o, SimulatedPortProvider simulated = {})
        : m_o(o)
        , m_simulated(std::move(simulated))
    {}

    int run();

private:
    using RegisterKey = std::pair<const RegisterDef *, int>; // motor -1: common
    struct Assignment
    {
        Item item;
        std::int64_t value = 0;
    };

    // Checks the command line of each command into the members below; kDone when it holds.
    int check();
    // The options given are the command's own.
    int checkOptions();
    int checkRead();
    int checkWrite();
    int checkGo();
    int checkRam();
    int checkSnapshot();
    int checkRecord();
    int connectBoard(bool polling);

    int info();
    int read();
    int write();
    int go();
    int stop();
    int ram();
    int snapshot();
    int record();
    // The wave shape's cells and, without --write, the table printed.
    int shape(bool write);

    std::optional<std::uint32_t> registerData(const RegisterDef &reg, int motor);
    QString unanswered(const RegisterDef &reg, int motor, const QString &what) const;
    // Why the exchange named went unanswered: the board's silence or the port lost.
    QString failedExchange(const QString &exchange) const;
    std::optional<RamCells> readRam(QString *why);
    // Writes RAM words from `firstWord` on; kDone, or the error said.
    int writeRam(const std::vector<Datagram> &requests, int firstWord);
    [[nodiscard]] std::vector<int> motors() const;

    ToolOptions m_o;
    SimulatedPortProvider m_simulated;
    QString m_command;
    QString m_sub; // ram's and snapshot's
    std::unique_ptr<BoardClient> m_client;
    std::map<RegisterKey, std::uint32_t> m_read; // read once per command

    std::vector<Item> m_items;                  // read
    std::vector<Assignment> m_assignments;      // write
    int m_rampMode = 0;                         // go
    QByteArray m_file;                          // ram write: the file as read
    std::optional<Snapshot> m_wanted;           // snapshot diff, restore
    std::vector<CsvRecorder::Column> m_columns; // record
};

} // namespace kvx::cli
