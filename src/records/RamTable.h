#pragma once

// The RAM page's table without a window: which cell holds which RAM byte, the two-digit check,
// the 64 read and write datagrams, the RAM read whole over any request channel, and the
// configuration file (8 lines of 16 comma-separated fields) written and read by its rules.
// Cells are texts, as the grid holds them. No widgets.

#include "chip/Datagram.h"
#include "link/RequestChannel.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QIODevice;

namespace kvx {

inline constexpr int kRamRows = 8;
inline constexpr int kRamColumns = 16;

// The grid's cell texts, by RAM byte.
using RamCells = std::array<QString, kRamByteCount>;
// The RAM's bytes, by address.
using RamBytes = std::array<std::uint8_t, kRamByteCount>;

// Exactly two characters, each 0-9, A-F or a-f.
[[nodiscard]] bool isTwoDigitHex(const QString &text);
// The first byte whose cell fails the check, or -1.
[[nodiscard]] int firstInvalidCell(const RamCells &cells);

// The reads of words 0..63, in order.
[[nodiscard]] std::vector<Datagram> ramReadRequests();
// The writes of words `firstWord`..63 from cells that all pass the check.
[[nodiscard]] std::vector<Datagram> ramWriteRequests(const RamCells &cells, int firstWord = 0);
// Reads words 0..63 over `channel`, in order, and unpacks each reply: byte 2w from bits 7..0,
// byte 2w + 1 from bits 15..8. `progress` hears of each word answered (1..64). Nothing when a
// word went unanswered: a word without its own answer would take another's bytes. `stopped`,
// when given, then holds the row as far as it went. The caller pauses polling around it.
[[nodiscard]] std::optional<RamBytes> readRam(RequestChannel &channel,
                                              RequestChannel::Batch *stopped = nullptr,
                                              const std::function<void(int done)> &progress = {});
// The grid's cells of `bytes`: two upper-case hexadecimal digits each.
[[nodiscard]] RamCells ramCells(const RamBytes &bytes);

// The file as the program writes it: each cell's text unchanged, lines ended by CR LF.
[[nodiscard]] QByteArray ramFileText(const RamCells &cells);

// Reads a configuration file into `cells`: line r fills row r from the left, a field that is
// a hexadecimal number of at most FFFFFFFF becomes its upper-case text (two digits at least),
// any other "00"; the field after a comma is read only while the line goes on, and cells after
// a line's last field keep their text. A line ends at LF (CR is never part of it), 0x1A ends
// the file, a missing line reads as empty. Lines of any length take no memory, but scanning
// stops after kMaxScan bytes: a file that has not given 8 lines by then is Cut, and like one
// that could not be read to the end (ReadError) it leaves the rows it did not reach as they
// were.
enum class RamLoad
{
    Done,
    Cut,
    ReadError,
};
inline constexpr qsizetype kMaxScan = 1024 * 1024;
RamLoad loadRamFile(QIODevice &file, RamCells &cells);

} // namespace kvx
