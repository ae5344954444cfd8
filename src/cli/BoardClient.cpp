#include "cli/BoardClient.h"

#include "attach/AttachServer.h"
#include "cli/AttachedBoard.h"
#include "cli/LocalBoard.h"
#include "link/PortName.h"

#include <QEventLoop>
#include <QTimer>

namespace kvx::cli {

std::unique_ptr<BoardClient> BoardClient::open(const QString &port,
                                               const QMap<QString, QString> &ports,
                                               const Options &options, QString *error)
{
    const PortTarget target = resolvePortName(port, ports);
    if (options.attach) {
        if (std::unique_ptr<AttachedBoard> window = AttachedBoard::attach(port, target, error))
            return window;
        if (!error->isEmpty())
            return nullptr;
    } else if (target.kind == PortTarget::Kind::Device && AttachServer::heldElsewhere(target)) {
        // Two programs on one line would take each other's replies; a simulated board is the
        // tool's own.
        *error = tr("an Eval310 window holds %1; leave out --no-attach to go through it").arg(port);
        return nullptr;
    }
    auto own = std::make_unique<LocalBoard>(options.polling, options.simulated);
    if (!own->open(port, ports, error))
        return nullptr;
    return own;
}

std::optional<std::uint32_t> BoardClient::read(std::uint8_t address)
{
    const std::optional<Reply> r = requests().DirectRequest(Datagram{address, {}});
    if (!r)
        return std::nullopt;
    return r->data.value();
}

bool BoardClient::write(std::uint8_t address, std::uint32_t data)
{
    return requests().DirectRequest(Datagram::make(address, data)).has_value();
}

void BoardClient::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace kvx::cli
