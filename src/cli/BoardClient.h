#pragma once

// The board the command-line tool talks to. When an Eval310 window holds the port it names, the
// tool attaches (AttachedBoard): its requests go out on the window's link. Otherwise it opens
// the port on a board session of its own (LocalBoard). The commands pause polling around their
// requests, as the windows' do. User-interface thread (the application's only one).

#include "link/RequestChannel.h"
#include "records/CsvRecorder.h"
#include "session/BoardSession.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace kvx::cli {

class BoardClient : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Through the window that holds the port, when there is one; without, a port a window
        // holds is refused.
        bool attach = true;
        // Without polling only the detection's request goes out, no poll after it: a command's
        // first request follows the detection at once. A window polls as it does.
        bool polling = false;
        // Finds the boards of "sim" ports; the program's entry provides it.
        SimulatedPortProvider simulated;
    };

    // Opens `port`: "COM1".."COM9" through `ports` (the settings file's [Ports]), a device path,
    // or "sim", "sim:korve", "sim:pentar" for a simulated board of this process. Nothing, with
    // `error` set, when the port could not be opened, or when a window holds it and
    // `options.attach` is false.
    [[nodiscard]] static std::unique_ptr<BoardClient> open(const QString &port,
                                                           const QMap<QString, QString> &ports,
                                                           const Options &options, QString *error);

    // Waits until the board has been detected and has answered; false with `error` set when
    // it did not answer or the port was lost.
    virtual bool waitForBoard(QString *error) = 0;
    // The device opened, for messages.
    [[nodiscard]] virtual QString device() const = 0;
    // The port vanished (unplugged) since it was opened, or the window let it go.
    [[nodiscard]] virtual bool lost() const = 0;
    [[nodiscard]] virtual QString lostReason() const = 0;

    // Where the commands' requests go.
    [[nodiscard]] virtual RequestChannel &requests() = 0;
    // Polling paused for the holder's lifetime; an attached window pauses for each row.
    [[nodiscard]] virtual std::unique_ptr<PollPause> pausePolling() = 0;
    // What kvx310 info tells (a second of polling measured); nothing when the board was lost.
    virtual std::optional<QJsonObject> facts() = 0;
    // Poll requests the board left unanswered since the tool came (attached: the window's).
    [[nodiscard]] virtual quint64 unansweredPolls() = 0;
    // A recording of the poll cycle into `out`, started; nothing when the window refused it.
    virtual std::unique_ptr<CsvOutput> record(QIODevice &out,
                                              const std::vector<CsvRecorder::Column> &columns) = 0;

    // One read or write with polling paused by the caller; nothing when it went unanswered.
    std::optional<std::uint32_t> read(std::uint8_t address);
    bool write(std::uint8_t address, std::uint32_t data);
    // Lets the event loop run for `ms` (polling, the board's motion).
    static void pause(int ms);

signals:
    void deviceLost(const QString &reason);

protected:
    using QObject::QObject;

    // How long a board may take to be detected and answer: enough for a detection probed again
    // (an identification not trusted) and for the watchdog.
    static constexpr int kDetectionLimitMs = 10'000;
};

} // namespace kvx::cli
