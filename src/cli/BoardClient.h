#pragma once

// The command-line tool's connection to the board: the windows' board session on a port
// named as the windows name it, detection that ends as soon as a plain board has answered,
// and single requests for the commands. The commands pause polling around their requests,
// as the windows' do. User-interface thread (the application's only one).

#include "session/BoardSession.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace kvx::cli {

class BoardClient : public QObject
{
    Q_OBJECT

public:
    explicit BoardClient(QObject *parent = nullptr);

    [[nodiscard]] BoardSession &session() { return m_session; }
    [[nodiscard]] BoardLink &link() { return m_session.link(); }

    // Opens `port`: "COM1".."COM9" through `ports` (the settings file's [Ports]), a device
    // path, or "sim", "sim:korve", "sim:pentar" for a simulated board of this process. False
    // with `error` set when the port could not be opened.
    bool open(const QString &port, const QMap<QString, QString> &ports, QString *error);
    // Without polling only the detection's request goes out, no poll after it: a command's
    // first request follows the detection at once. Before open().
    void setPolling(bool polling) { m_session.scheduler().setDetectionOnly(!polling); }
    // Waits until the board has been detected and has answered; false with `error` set when
    // it did not answer or the port was lost.
    bool waitForBoard(QString *error);
    // The device opened, for messages.
    [[nodiscard]] QString device() const { return m_session.lastOpen().device; }
    // The ten bytes a KORVE or Pentar board identified itself with, or a plain board's
    // ordinary answer to the identification request.
    [[nodiscard]] const QByteArray &identification() const { return m_identification; }

    // The port vanished (unplugged) since it was opened, and what the system said.
    [[nodiscard]] bool lost() const { return m_lost; }
    [[nodiscard]] const QString &lostReason() const { return m_lostReason; }

    // One read or write with polling paused by the caller; nothing when it went unanswered.
    std::optional<std::uint32_t> read(std::uint8_t address);
    bool write(std::uint8_t address, std::uint32_t data);
    // Lets the event loop run for `ms` (polling, the board's motion).
    void pause(int ms);

signals:
    void deviceLost(const QString &reason);

private:
    BoardSession m_session;
    QByteArray m_identification;
    bool m_lost = false;
    QString m_lostReason;
};

} // namespace kvx::cli
