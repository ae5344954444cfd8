#pragma once

// The 51 fixed read requests of the poll cycle, built from the register map, with the display
// targets and field decoders that the windows attach at run time, and the rule that picks the
// next row. Pure logic: targets are callbacks, so the table needs no widgets.

#include "chip/Datagram.h"
#include "session/EditorPage.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kvx {

enum class TraceKind : std::uint8_t
{
    None,
    Position,
    Velocity,
    TargetVelocity,
    Acceleration,
};

struct PollRowDef
{
    std::uint8_t address = 0;
    int code = 0; // value code: 23 or 11 signed, 0 unsigned or fields, -6 hexadecimal
    std::optional<EditorPage> page; // polled only while the editor shows it; none: every cycle
    int motor = -1;
    TraceKind trace = TraceKind::None;
};

class PollTable
{
public:
    static constexpr int kRowCount = 51;
    static constexpr int kLastRow = kRowCount - 1;
    static constexpr int kFirstCommonRow = 45;

    PollTable();

    [[nodiscard]] const PollRowDef &row(int r) const { return m_rows[std::size_t(r)]; }
    // Rows by what they poll: a motor's register, or a common register (-1 when that common
    // register is not polled).
    [[nodiscard]] static constexpr int motorRow(int motor, int registerIndex)
    {
        return 15 * motor + registerIndex;
    }
    [[nodiscard]] static int commonRow(int commonIndex);

    using TextTarget = std::function<void(const QString &)>;
    using Decoder = std::function<void(const DataBytes &)>;
    void setMainField(int r, TextTarget target)
    {
        m_targets[std::size_t(r)].main = std::move(target);
    }
    void setEditorField(int r, TextTarget target)
    {
        m_targets[std::size_t(r)].editor = std::move(target);
    }
    void setDecoder(int r, Decoder decoder)
    {
        m_targets[std::size_t(r)].decoder = std::move(decoder);
    }

    // Shows a reply for row r: the converted text in the main window's field, the decoder
    // (whether or not the editor is shown), and the editor's field while it is shown.
    // Returns the converted value for the trace recorder.
    std::int64_t show(int r, const DataBytes &data, bool editorShown) const;

    // The row after `current`: row 0 after the last row or after an identification reply,
    // otherwise the next row of every cycle or of the editor's active page.
    [[nodiscard]] static int nextRow(int current, bool afterIdentification, bool editorShown,
                                     EditorPage activePage, const PollTable &table);

private:
    struct Targets
    {
        TextTarget main;
        TextTarget editor;
        Decoder decoder;
    };
    std::array<PollRowDef, kRowCount> m_rows{};
    std::array<Targets, kRowCount> m_targets{};
};

} // namespace kvx
