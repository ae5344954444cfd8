#pragma once

// The window's side of the attach socket: while the window holds a port, the command-line
// tool's requests go out on the window's own link, in turn with the poll cycle and with the
// window's commands, so that they show in its traffic view. Clients are served one request
// row at a time, in the order they came. Only the user who runs the window may connect, and
// what clients may hold is bounded: their number, what each has asked and not been answered,
// how long one may stay silent, and the descriptors they leave the window for its own files.
// User-interface thread.

#include "attach/BoardFacts.h"
#include "link/PortName.h"

#include <QByteArray>
#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class QBuffer;
class QLocalSocket;

namespace kvx {
class BoardSession;
}

namespace kvx {

class CsvRecorder;

class AttachServer : public QObject
{
    Q_OBJECT

public:
    // Monotonic milliseconds: how long a client has been silent.
    using Clock = std::function<std::int64_t()>;

    // Clients served at once; another is told the window is busy.
    static constexpr int kMaxClients = 16;
    // A client silent this long, with nothing asked and no recording, is let go.
    static constexpr std::chrono::seconds kIdleLimit{60};
    // Descriptors kept free for the window's own files: a client that would take one of them
    // is turned away at once, long before the system would refuse the server one (Qt's server
    // then closes itself and removes its socket).
    static constexpr int kSpareDescriptors = 32;

    explicit AttachServer(BoardSession &session, QObject *parent = nullptr);
    ~AttachServer() override;

    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Listens for the tool while the session holds `portName`, which stands for `target`.
    // False, with `error`, when there is no socket to be had.
    bool listen(const QString &portName, const PortTarget &target, QString *error);
    // Stops listening and lets every client go, telling each; a request in progress ends
    // unanswered.
    void close();
    // Lets go the clients silent for longer than kIdleLimit; every few seconds by itself.
    void checkClients();
    [[nodiscard]] std::size_t clientCount() const { return m_clients.size(); }
    [[nodiscard]] bool isListening() const { return m_server.isListening(); }
    [[nodiscard]] QString socketPath() const { return m_server.fullServerName(); }

    // Another program answers on the socket of `target`: it holds that port.
    [[nodiscard]] static bool heldElsewhere(const PortTarget &target);

private:
    struct Client
    {
        QByteArray in;
        std::unique_ptr<QBuffer> csv;
        std::unique_ptr<CsvRecorder> recorder;
        std::int64_t heard = 0; // when it last sent anything
        int measuring = 0;      // info asked and not answered
        bool served = false;    // a row of its requests is on the link
    };

    void accept();
    void readFrom(QLocalSocket *socket);
    void dispatch(QLocalSocket *socket, const QJsonObject &message);
    // Works through the queued request rows, one at a time.
    void serve();
    void serveRequests(QLocalSocket *socket, const QJsonObject &message);
    void startRecording(QLocalSocket *socket, const QJsonObject &message);
    void sendRecordings();
    void drop(QLocalSocket *socket);
    static void send(QLocalSocket *socket, const QJsonObject &message);
    // Closes the connection once control is back in the event loop.
    static void letGo(QLocalSocket *socket);
    // Tells the client why and lets it go; it is served no more.
    void turnAway(QLocalSocket *socket, const QString &why);
    // No longer a client; true when it was one.
    bool forget(QLocalSocket *socket);
    [[nodiscard]] bool busy(const QLocalSocket *socket) const;
    [[nodiscard]] QJsonObject hello() const;

    BoardSession &m_session;
    Clock m_clock;
    QLocalServer m_server;
    QString m_port;
    BoardFacts m_facts;
    std::map<QLocalSocket *, Client> m_clients;
    std::deque<std::pair<QPointer<QLocalSocket>, QJsonObject>> m_queue;
    bool m_serving = false;
    QTimer m_recordings; // sends what the recordings have gathered
    QTimer m_checks;     // checkClients
};

} // namespace kvx
