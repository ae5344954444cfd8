#pragma once

// A bare pseudo-terminal for tests: the component under test opens `path`, the test plays the
// device on the master side byte by byte.

#include <QByteArray>
#include <QString>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class PtyPair
{
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        // Keep a descriptor of the other side so that its settings persist and closing the
        // component's side does not hang the master up.
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (m_slave >= 0 && ::tcgetattr(m_slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_slave, TCSANOW, &tio);
        }
    }
    ~PtyPair() { hangUp(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    [[nodiscard]] bool ok() const { return m_master >= 0 && m_slave >= 0; }
    [[nodiscard]] QString path() const { return m_path; }

    // A board on a real line answers a request no sooner than its request and its own bytes
    // can cross a 19200 bit/s line: about 4.7 ms for a whole 4-byte reply, 7.8 ms for the
    // 10-byte identification.
    static constexpr int kLinePaceMs = 10;

    bool send(const QByteArray &bytes)
    {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Answers a request that has just gone out, at the pace of a line.
    bool reply(const QByteArray &bytes)
    {
        QTest::qWait(kLinePaceMs);
        return send(bytes);
    }
    // Everything the component has sent so far, without waiting.
    QByteArray received()
    {
        QByteArray all;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            all.append(buf, qsizetype(n));
        }
        return all;
    }
    void hangUp()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
