#pragma once

// Opens a terminal device non-blocking and raw, as a test that plays the program's side does.

#include <QString>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

inline int openRawTerminal(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}
