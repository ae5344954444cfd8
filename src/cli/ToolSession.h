#pragma once

// What the commands of one kvx310 run share, a command line or a whole script: the board,
// opened once, the recordings running beside the commands, and Ctrl+C (and SIGTERM), which
// end what waits and leave the recordings' files whole. User-interface thread.

#include "cli/BoardClient.h"
#include "cli/Recording.h"
#include "cli/ToolOptions.h"

#include <QJsonArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <vector>

namespace kvx::cli {

class ToolSession : public QObject
{
    Q_OBJECT

public:
    // `options`: the run's own (the port, --no-attach). A script polls throughout, so that
    // its recordings and waits follow the poll cycle.
    ToolSession(const ToolOptions &options, SimulatedPortProvider simulated, bool script);
    ~ToolSession() override;

    // The board, opened at the first command that needs it; kDone, or the error said.
    int connect(bool polling);
    [[nodiscard]] BoardClient *client() const { return m_client.get(); }
    [[nodiscard]] bool script() const { return m_script; }

    // A recording started beside the commands; kDone, or the error said.
    int record(const QString &path, const std::vector<CsvRecorder::Column> &columns,
               double duration, bool quiet);
    // What endRecordings waits for before it ends them: nothing, those that end by their
    // duration, or each to end by itself (its duration, its file full, the port lost) or
    // Ctrl+C.
    enum class Until
    {
        Now,
        TimedOver,
        AllOver,
    };
    // Ends the recordings and reports each: what each recorded is added to `summaries`; the
    // first failure's exit status, or kDone.
    int endRecordings(Until until, QJsonArray *summaries);
    [[nodiscard]] bool recording() const { return !m_recordings.empty(); }

    // Ctrl+C or SIGTERM came.
    [[nodiscard]] bool interrupted() const { return m_interrupted; }

signals:
    void interruption();

private:
    void catchSignals();

    ToolOptions m_options;
    SimulatedPortProvider m_simulated;
    bool m_script = false;
    std::unique_ptr<BoardClient> m_client;
    std::vector<std::unique_ptr<Recording>> m_recordings;
    std::unique_ptr<QSocketNotifier> m_signals;
    bool m_interrupted = false;
};

} // namespace kvx::cli
