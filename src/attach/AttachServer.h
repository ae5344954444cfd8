#pragma once

// The window's side of the attach socket: while the window holds a port, the command-line
// tool's requests go out on the window's own link, in turn with the poll cycle and with the
// window's commands, so that they show in its traffic view. Clients are served one request
// row at a time, in the order they came. Only the user who runs the window may connect.
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

#include <deque>
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
    explicit AttachServer(BoardSession &session, QObject *parent = nullptr);
    ~AttachServer() override;

    // Listens for the tool while the session holds `portName`, which stands for `target`.
    // False, with `error`, when there is no socket to be had.
    bool listen(const QString &portName, const PortTarget &target, QString *error);
    // Stops listening and lets every client go; a request in progress ends unanswered.
    void close();
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
    [[nodiscard]] QJsonObject hello() const;

    BoardSession &m_session;
    QLocalServer m_server;
    QString m_port;
    BoardFacts m_facts;
    std::map<QLocalSocket *, Client> m_clients;
    std::deque<std::pair<QPointer<QLocalSocket>, QJsonObject>> m_queue;
    bool m_serving = false;
    QTimer m_recordings; // sends what the recordings have gathered
};

} // namespace kvx
