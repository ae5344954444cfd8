#include "link/ReadMinimum.h"

// The kernel's struct termios and its indices, which are not the C library's on every
// architecture; this file includes nothing that declares the C library's.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace kvx {

bool setReadMinimum(int fd, int bytes)
{
    struct termios tio
    {};
    if (::ioctl(fd, TCGETS, &tio) != 0)
        return false;
    tio.c_cc[VMIN] = static_cast<cc_t>(bytes);
    tio.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS, &tio) == 0;
}

} // namespace kvx
