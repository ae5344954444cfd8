#pragma once

// A register snapshot: every setting of every motor, of the common registers and the RAM, as
// a text a person can read and edit: "[Motor 1]" .. "[Motor 3]", "[Common]" and "[RAM]"
// sections of "NAME = VALUE" lines, values as kvx310 read prints them, the RAM as 8 rows of 16
// comma-separated hexadecimal bytes. A value left out of the file is left as the board holds
// it. A value outside the register editor's range (P_MUL 0 of a board just reset) is followed
// by a comment that the board held it, "# held: P_MUL = 0": a restore writes it back, but no
// other value outside the ranges without being told to. How two snapshots differ, the order in
// which a restore writes, and what it refuses. Pure logic.

#include "records/RegisterNames.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kvx {

struct SnapshotValue
{
    Item item;
    int motor = -1; // 0..2; -1 for a common register
    std::int64_t value = 0;
    // Outside the editor's range, and what the board held when the file was saved.
    bool held = false;
};

// A snapshot file is a few KiB; one far longer is not read (parseSnapshot refuses it too).
inline constexpr qsizetype kMaxSnapshotSize = 64 * 1024;

struct Snapshot
{
    std::vector<SnapshotValue> values;
    std::optional<std::array<std::uint8_t, kRamByteCount>> ram;
};

// The registers a snapshot reads, per motor or common: those that hold a setting.
[[nodiscard]] std::vector<const RegisterDef *> snapshotRegisters(bool common);
// The settings of one register's data, in field order.
void addRegister(Snapshot &s, const RegisterDef &reg, int motor, std::uint32_t data);

// The comment a snapshot file starts with: which program took it, of what board, when, and how
// to read the file.
[[nodiscard]] QString snapshotHeading(const QString &program, const QString &device);
[[nodiscard]] QByteArray snapshotText(const Snapshot &s, const QString &heading);
// Nothing, with `error` naming the line, when a line is neither a section, a value of it, a
// comment nor blank, or a value is beyond its field's bits, or the text is longer than
// kMaxSnapshotSize. What the error quotes of the file is escaped and cut short.
[[nodiscard]] std::optional<Snapshot> parseSnapshot(const QByteArray &text, QString *error);

struct Difference
{
    Item item;
    int motor = -1;   // -1: a common register; with ramByte >= 0: the RAM
    int ramByte = -1; // 0..127 for a RAM byte
    std::int64_t board = 0;
    std::int64_t wanted = 0;
    QString boardText;
    QString wantedText;
    // The editor's range ("0 to 2047") when the file sets a value outside it that the board did
    // not hold when the file was saved; empty otherwise.
    QString outside;
};

// What `wanted` sets differently from `board`, in the order a restore writes it: the RAM,
// the common registers (the global parameters first), then each motor's configuration, its ramp
// mode, and its position and velocities last, so that a motor moves only once all of its parameters
// are in place.
[[nodiscard]] std::vector<Difference> differences(const Snapshot &board, const Snapshot &wanted);
// The rank of a motor register in a restore: configuration first, motion last.
[[nodiscard]] int restoreRank(int registerIndex);
// The rank of a common register: the global parameters first.
[[nodiscard]] int commonRank(int registerIndex);
// "M1 V_MAX" or "SPI_COVER_POS" or "RAM 0x41".
[[nodiscard]] QString label(const Difference &d);

// What a restore of `diffs` onto `board` does that the editor and Go refuse, each in one line:
// values outside the editor's ranges that the board did not hold when the file was saved
// ("M1 V_MAX = 4095, outside the editor's 0 to 2047"), and motors it sets moving (it writes their
// RAMP_MODE, X_TARGET or X_ACTUAL and leaves them in RAMP or SOFTMODE with X_TARGET away from
// X_ACTUAL) with an A_MAX below what their dividers allow ("motor 1 would start with A_MAX 0,
// below 16, the least its dividers allow"), as Go refuses them. A restore writes them only
// when forced.
struct RestoreRefusals
{
    QStringList outside;
    QStringList moves;
    [[nodiscard]] bool empty() const { return outside.isEmpty() && moves.isEmpty(); }
};
[[nodiscard]] RestoreRefusals restoreRefusals(const Snapshot &board,
                                              const std::vector<Difference> &diffs);

} // namespace kvx
