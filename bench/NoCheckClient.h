#pragma once

// The yardstick for the program's poll rate on a real pseudo-terminal: a client that sends the
// next request the moment a whole reply is in, with no check of any kind, against a kvx310-sim
// of its own with the same options. What it reaches is what the line, the simulated board and
// this host allow; the program's share of it is what its checks cost. It is woken once a whole
// reply waits, as the program is once it has learnt its line, so that its processor time is
// the least a client of this line pays on this host.

#include "BenchBoard.h"
#include "link/RequestFrame.h"

#include <QElapsedTimer>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace bench {

class NoCheckClient
{
public:
    // False when the board could not be started or opened.
    bool open(const QStringList &boardOptions)
    {
        QByteArray path;
        if (!startBoard(m_sim, m_dir.filePath(QStringLiteral("Eval310.ini")), "nocheck",
                        boardOptions, &path))
            return false;
        m_fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            return false;
        termios t{};
        ::tcgetattr(m_fd, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B19200);
        t.c_cc[VMIN] = 4;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(m_fd, TCSANOW, &t);
        return true;
    }
    ~NoCheckClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_sim.terminate();
        m_sim.waitForFinished(3000);
    }

    // Polls for `seconds` without returning to the event loop; the replies answered whole.
    long long run(double seconds)
    {
        const QByteArray frame =
            kvx::requestFrame(kvx::Datagram{0x01, {}}, kvx::BoardVariant::Plain, false);
        long long answered = 0;
        QElapsedTimer clock;
        clock.start();
        while (double(clock.nsecsElapsed()) / 1e9 < seconds) {
            if (::write(m_fd, frame.constData(), size_t(frame.size())) != frame.size())
                break;
            int got = 0;
            char reply[16];
            // A reply lost would stall it: 100 ms without a byte ends the wait.
            pollfd p{m_fd, POLLIN, 0};
            while (got < 4 && ::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(m_fd, reply, sizeof reply);
                if (n <= 0)
                    break;
                got += int(n);
            }
            answered += got >= 4 ? 1 : 0;
        }
        return answered;
    }

private:
    QProcess m_sim;
    QTemporaryDir m_dir;
    int m_fd = -1;
};

// Exchanges a second, or -1 when the board could not be started or opened.
inline double noCheckRate(const QStringList &boardOptions, double seconds)
{
    NoCheckClient client;
    if (!client.open(boardOptions))
        return -1;
    QElapsedTimer clock;
    clock.start();
    const long long answered = client.run(seconds);
    return double(answered) / (double(clock.nsecsElapsed()) / 1e9);
}

} // namespace bench
