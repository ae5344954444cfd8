#pragma once

// One command of kvx310: its command line checked whole (names, values, files) before the port
// is opened, then the command on the board of its run (ToolSession: the command line's, or a
// script's, shared by its lines). Each command returns its exit status (ToolOptions.h).
// Output goes to the standard output, every error to the standard error in one line; with
// --json one object each (Output.h).

#include "cli/Condition.h"
#include "cli/Output.h"
#include "cli/ToolOptions.h"
#include "cli/ToolSession.h"
#include "records/CsvRecorder.h"
#include "records/RamTable.h"
#include "records/RegisterNames.h"
#include "records/Snapshot.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kvx::cli {

class Tool
{
public:
    Tool(const ToolOptions &o, ToolSession &session)
        : m_o(o)
        , m_session(session)
    {}

    // The checks, then the command.
    int run();
    // Checks the command line into the members below; kDone when it holds. `files`: reads
    // the files it names too (a script's later lines may read what its earlier ones write).
    int check(bool files = true);
    // "read", or "snapshot diff" for a command of several words.
    [[nodiscard]] QString commandName() const;

private:
    using RegisterKey = std::pair<const RegisterDef *, int>; // motor -1: common
    struct Assignment
    {
        Item item;
        std::int64_t value = 0;
    };

    // The options given are the command's own.
    int checkOptions();
    int checkRead();
    int checkWrite();
    int checkGo();
    int checkWait();
    int checkRam(bool files);
    int checkSnapshot(bool files);
    int checkRecord();
    // The commands that watch the board live need the poll cycle.
    [[nodiscard]] bool needsPolling() const;

    int info();
    int read();
    int write();
    int go();
    int stop();
    // The main window's Stop for motor `m`: X_ACTUAL := X_TARGET, then the velocities 0. Empty,
    // with `position` the target; else what went unanswered.
    QString stopAtTarget(int m, int *position);
    int wait();
    int ram();
    int snapshot();
    int record();
    // The wave shape's cells and, without --write, the table printed.
    int shape(bool write);

    // Waits for `c` at the poll cycle's pace until `timeout` seconds have passed; kDone, or
    // the error said. `result` gets the value that made it hold.
    int waitFor(const Condition &c, double timeout, QJsonObject *result);
    // The recording of --record (go) or record, started beside the commands.
    int startRecording(const QString &path, const std::vector<CsvRecorder::Column> &columns);

    std::optional<Reply> registerReply(const RegisterDef &reg, int motor);
    std::optional<std::uint32_t> registerData(const RegisterDef &reg, int motor);
    QString unanswered(const RegisterDef &reg, int motor, const QString &what) const;
    // Why the exchange named went unanswered: the board's silence or the port lost.
    QString failedExchange(const QString &exchange) const;
    std::optional<RamCells> readRam(QString *why);
    // Writes RAM words from `firstWord` on; kDone, or the error said.
    int writeRam(const std::vector<Datagram> &requests, int firstWord);
    [[nodiscard]] std::vector<int> motors() const;

    ToolOptions m_o;
    ToolSession &m_session;
    BoardClient *m_client = nullptr;
    QString m_command;
    QString m_sub;                       // ram's and snapshot's
    std::map<RegisterKey, Reply> m_read; // read once per command

    std::vector<Item> m_items;                  // read
    std::vector<int> m_statusBits;              // read: STATUS and its bits by name
    std::vector<Assignment> m_assignments;      // write
    int m_rampMode = 0;                         // go
    std::optional<Condition> m_condition;       // wait
    QByteArray m_file;                          // ram write: the file as read
    std::optional<Snapshot> m_wanted;           // snapshot diff, restore
    std::vector<CsvRecorder::Column> m_columns; // record, go --record
};

// A value read, as read and write tell it with --json: name, register, motor, value, text,
// data, and the status byte of its reply with the bits set by name.
[[nodiscard]] QJsonObject valueObject(const QString &name, const QString &reg, int motor,
                                      std::int64_t value, const QString &text, std::uint32_t data,
                                      std::uint8_t status);

} // namespace kvx::cli
