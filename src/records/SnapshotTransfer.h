#pragma once

// A snapshot read whole from the board, and a restore written to it, over any request channel:
// the command-line tool's own port, the window it is attached to, or the window's link. The
// caller pauses polling around them.

#include "link/RequestChannel.h"
#include "records/Snapshot.h"

#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kvx {

class SnapshotTransfer
{
public:
    // Says why the exchange named went unanswered ("read of V_MAX of motor 2", "write of RAM
    // word 3"); by default that the board did not answer it.
    using Unanswered = std::function<QString(const QString &exchange)>;

    explicit SnapshotTransfer(RequestChannel &channel, Unanswered unanswered = {});

    // Every setting of the board and its RAM; nothing, with `why`, when an exchange went
    // unanswered.
    std::optional<Snapshot> read(QString *why);
    // Writes `diffs` (in the order differences() gives) to make the board hold `wanted`: each
    // RAM word and each register once, a register read again just before, so that the fields
    // the file leaves alone stay as the board holds them. `written` hears of each difference
    // once its write was answered. Empty when all went; else why it stopped, what was written
    // before, and the write that may have landed though its answer did not come.
    QString restore(const std::vector<Difference> &diffs, const Snapshot &wanted,
                    const std::function<void(const Difference &)> &written = {});

private:
    std::optional<std::uint32_t> registerData(const RegisterDef &reg, int motor);

    RequestChannel &m_channel;
    Unanswered m_unanswered;
    std::map<std::pair<const RegisterDef *, int>, std::uint32_t> m_read;
};

// "read of V_MAX of motor 2", "write of SPI_COVER_POS".
[[nodiscard]] QString exchangeName(const QString &what, const RegisterDef &reg, int motor);

} // namespace kvx
