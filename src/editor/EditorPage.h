#pragma once

// The register editor's tab pages, in tab order. The poll scheduler hears of the register bank
// the page shows, not of the page.

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

} // namespace kvx
