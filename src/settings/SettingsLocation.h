#pragma once

// Where "Eval310.ini" lives: beside the program file when its folder may be written (a build
// or a portable copy, as the program has always kept it), otherwise, and always for an
// installed program, in the user's configuration folder, which is created when the file is
// first written.

#include <QString>

namespace kvx {

// True when `programDir` is the bin/ of an install tree (the desktop entry lies beside it).
[[nodiscard]] bool installed(const QString &programDir);
// The rule itself: the file in `programDir` when it is a writable folder of no install tree,
// else in `configDir`.
[[nodiscard]] QString settingsPathFor(const QString &programDir, const QString &configDir);
// A user's file that does not exist yet starts as a copy of one beside the program, so that a
// file prepared there (an administrator's [Ports]) is not ignored; true when copied.
bool adoptProgramSettings(const QString &programDir, const QString &path);
// The rule for this program: its own folder, or Qt's application configuration location (then
// adopting a file beside the program).
[[nodiscard]] QString defaultSettingsPath();
// Creates the folder of `path` if it is missing; false when it cannot be created.
bool ensureSettingsFolder(const QString &path);

} // namespace kvx
