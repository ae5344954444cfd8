#pragma once

// The tool's side of the attach socket: the board an Eval310 window holds, reached through the
// window, which puts the tool's requests on its own link in turn with its poll cycle. Each
// waits by processing events until the window answers; a window that closes ends every wait
// unanswered. User-interface thread.

#include "cli/BoardClient.h"
#include "link/PortName.h"
#include "link/RequestChannel.h"
#include "records/CsvRecorder.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace kvx::cli {

class AttachedBoard : public BoardClient, public RequestChannel
{
    Q_OBJECT

public:
    explicit AttachedBoard(QObject *parent = nullptr);
    ~AttachedBoard() override;

    // The window of this user that holds `target` (named `port` on the command line), greeted;
    // nothing when no window holds it, or, with `error` set, when a window holds it that let
    // the tool go, or when no folder of the user's own tells whether one holds the device.
    [[nodiscard]] static std::unique_ptr<AttachedBoard>
    attach(const QString &port, const PortTarget &target, QString *error);
    // False when no window of this user answers on `path`.
    bool connectTo(const QString &path);
    // The window's port and board: port, device, variant, identification, active, detecting,
    // and the requests its board has left unanswered.
    std::optional<QJsonObject> hello();
    // The board's facts as kvx310 info tells them; the window takes a second to measure.
    std::optional<QJsonObject> info();
    // The window records its poll cycle into these columns and sends the lines (csv()); false
    // when it refused.
    bool startRecording(const std::vector<CsvRecorder::Column> &columns);

    std::optional<Reply> DirectRequest(const Datagram &d) override;
    Batch directRequests(std::span<const Datagram> datagrams,
                         const std::function<void(int done)> &progress = {},
                         bool showsReplies = false) override;

    // The window may still be detecting its board.
    bool waitForBoard(QString *error) override;
    [[nodiscard]] QString device() const override { return m_device; }
    // The window went away (closed its port, or ended).
    [[nodiscard]] bool lost() const override { return m_lost; }
    [[nodiscard]] QString lostReason() const override { return m_lostReason; }
    [[nodiscard]] RequestChannel &requests() override { return *this; }
    // The window pauses its polling for each row of requests.
    [[nodiscard]] std::unique_ptr<PollPause> pausePolling() override { return nullptr; }
    std::optional<QJsonObject> facts() override { return info(); }
    // The window's count since the tool came.
    [[nodiscard]] quint64 unansweredPolls() override;
    std::unique_ptr<CsvOutput> record(QIODevice &out,
                                      const std::vector<CsvRecorder::Column> &columns) override;

signals:
    void csv(const QByteArray &text);
    void answered(int id);

private:
    // Sends `message` with a fresh id and waits for the answer that carries it.
    std::optional<QJsonObject> call(QJsonObject message);
    void readMessages();
    void loseConnection(const QString &reason);

    QLocalSocket m_socket;
    QByteArray m_in;
    int m_nextId = 1;
    std::map<int, QJsonObject> m_answers;
    bool m_lost = false;
    bool m_goodbye = false; // the window said it lets the port go
    QString m_lostReason;
    QString m_device;
    quint64 m_unansweredBefore = 0; // the window's count when the tool attached
};

// A recording the window makes and sends: the lines go to the file as they come.
class AttachedRecording : public CsvOutput
{
    Q_OBJECT

public:
    AttachedRecording(AttachedBoard &board, QIODevice &out,
                      const std::vector<CsvRecorder::Column> &columns, QObject *parent = nullptr);

    [[nodiscard]] double seconds() const override;
    // The window took the recording on.
    [[nodiscard]] bool started() const { return m_started; }

private:
    QElapsedTimer m_since;
    bool m_started = false;
};

} // namespace kvx::cli
