#pragma once

// Setting how many bytes a terminal gathers before it reports itself readable (VMIN, with no
// inter-byte time), in the kernel's own layout of the settings: tcsetattr would read the
// settings back after writing them, which doubles the cost of a change made twice per reply.
// Linux only.

namespace kvx {

// False when the device refused; its settings are then as they were.
bool setReadMinimum(int fd, int bytes);

} // namespace kvx
