#pragma once

// The register editor's tab pages, in tab order. The poll table names the page on which a
// row is polled, the editor shows them, and the poll scheduler follows the one shown.

namespace kvx {

enum class EditorPage
{
    Motor1,
    Motor2,
    Motor3,
    Global,
    Ram,
};

inline constexpr int kEditorPageCount = 5;

[[nodiscard]] constexpr EditorPage motorPage(int motor)
{
    return static_cast<EditorPage>(motor);
}

} // namespace kvx
