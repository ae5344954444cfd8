#include "sim/SimulatedPorts.h"

#include "sim/PtyBoardServer.h"

#include <QCoreApplication>
#include <QMap>
#include <QPointer>

namespace kvx::sim {

QString SimulatedPorts::terminalFor(const QString &variant, QString *error)
{
    static QMap<int, QPointer<PtyBoardServer>> servers;

    const auto v = parseVariant(variant.toStdString());
    if (!v) {
        if (error)
            *error = QStringLiteral("unknown simulated board \"%1\"").arg(variant);
        return {};
    }
    QPointer<PtyBoardServer> &server = servers[int(*v)];
    if (!server || !server->serving()) {
        delete server.data();
        BoardOptions options;
        options.variant = *v;
        // Paced like a real 19200 bit/s line, so that cycle times and plots look as they
        // will with the board.
        options.lineTiming = true;
        // Owned by the application so that it goes before the event dispatcher does.
        server = new PtyBoardServer(options, QCoreApplication::instance());
        if (!server->start(error)) {
            delete server.data();
            return {};
        }
    }
    return server->terminalPath();
}

} // namespace kvx::sim
