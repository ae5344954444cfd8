#pragma once

// The command-line tool's connection to the board. When an Eval310 window holds the port it
// names, the tool attaches: its requests go out on the window's link. Otherwise the tool opens
// the port on a board session of its own, named as the windows name it, with a detection that
// ends as soon as a plain board has answered. The commands pause polling around their
// requests, as the windows' do. User-interface thread (the application's only one).

#include "cli/AttachedBoard.h"
#include "session/BoardSession.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QIODevice;

namespace kvx::cli {

class BoardClient : public QObject
{
    Q_OBJECT

public:
    // `simulated` finds the boards of "sim" ports; the program's entry provides it.
    explicit BoardClient(SimulatedPortProvider simulated = {}, QObject *parent = nullptr);
    ~BoardClient() override;

    // Opens `port`: "COM1".."COM9" through `ports` (the settings file's [Ports]), a device
    // path, or "sim", "sim:korve", "sim:pentar" for a simulated board of this process; through
    // the window that holds it when `attach`. False with `error` set when the port could not
    // be opened, or when a window holds it and `attach` is false.
    bool open(const QString &port, const QMap<QString, QString> &ports, bool attach,
              QString *error);
    [[nodiscard]] bool attached() const { return m_attached != nullptr; }
    // Without polling only the detection's request goes out, no poll after it: a command's
    // first request follows the detection at once. Before open().
    void setPolling(bool polling) { m_session.scheduler().setDetectionOnly(!polling); }
    // Waits until the board has been detected and has answered; false with `error` set when
    // it did not answer or the port was lost.
    bool waitForBoard(QString *error);
    // The device opened, for messages.
    [[nodiscard]] QString device() const;
    // The ten bytes a KORVE or Pentar board identified itself with, or a plain board's
    // ordinary answer to the identification request.
    [[nodiscard]] const QByteArray &identification() const { return m_identification; }

    // The port vanished (unplugged) since it was opened, or the window let it go.
    [[nodiscard]] bool lost() const;
    [[nodiscard]] QString lostReason() const;

    // Where the commands' requests go.
    [[nodiscard]] RequestChannel &requests();
    // Polling paused for the holder's lifetime; an attached window pauses for each row.
    [[nodiscard]] std::unique_ptr<PollPause> pausePolling();
    // One read or write with polling paused by the caller; nothing when it went unanswered.
    std::optional<std::uint32_t> read(std::uint8_t address);
    bool write(std::uint8_t address, std::uint32_t data);
    // Lets the event loop run for `ms` (polling, the board's motion).
    void pause(int ms);
    // What kvx310 info tells (a second of polling measured); nothing when the board was lost.
    std::optional<QJsonObject> facts();
    // Poll requests the board left unanswered since the tool came (attached: the window's).
    [[nodiscard]] quint64 unansweredPolls();
    // A recording of the poll cycle into `out`, started; nothing when the window refused it.
    std::unique_ptr<CsvOutput> record(QIODevice &out,
                                      const std::vector<CsvRecorder::Column> &columns);

signals:
    void deviceLost(const QString &reason);

private:
    bool attachTo(const QString &port, const PortTarget &target);

    BoardSession m_session;
    std::unique_ptr<AttachedBoard> m_attached;
    QString m_attachedDevice;
    quint64 m_unansweredBefore = 0; // the window's count when the tool attached
    QByteArray m_identification;
    bool m_lost = false;
    QString m_lostReason;
};

} // namespace kvx::cli
