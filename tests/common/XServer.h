#pragma once

// A real X server for the tests whose behaviour only happens there (pointer grabs, a press
// that closes a pop-up): an Xvfb of the test's own on a display it picks itself, started before
// the application object so that the test runs on Qt's xcb platform. Where Xvfb is not
// installed the test runs on the platform it was given and its cases skip (KVX_REQUIRE_X11).
// Linux only; the server goes with the test, and with it should the test die.

#include <QByteArray>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class XServer
{
public:
    // Starts Xvfb and points DISPLAY and QT_QPA_PLATFORM at it; call before the application.
    XServer()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            // Its output would mix with the test's; -displayfd tells the display it found free.
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                     "-nolisten", "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (m_pid > 0)
            m_display = readDisplay(fds[0]);
        ::close(fds[0]);
        if (m_display.isEmpty()) {
            stop();
            return;
        }
        qputenv("DISPLAY", m_display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        started() = true;
    }
    ~XServer() { stop(); }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // The test's own X server is up (false: Xvfb is not installed or did not start).
    [[nodiscard]] static bool running() { return started(); }

private:
    static bool &started()
    {
        static bool up = false;
        return up;
    }
    static QByteArray readDisplay(int fd)
    {
        QByteArray number;
        pollfd p{fd, POLLIN, 0};
        // A server that has not said its display within 10 s counts as not started.
        while (::poll(&p, 1, 10000) > 0) {
            char c = 0;
            const ssize_t got = ::read(fd, &c, 1);
            if (got <= 0 || c == '\n')
                break;
            number += c;
        }
        return number.isEmpty() ? QByteArray() : ':' + number;
    }
    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

    pid_t m_pid = -1;
    QByteArray m_display;
};

// In a case that needs the X server: skips where there is none.
#define KVX_REQUIRE_X11()                                                                          \
    do {                                                                                           \
        if (!XServer::running())                                                                   \
            QSKIP("Xvfb is not installed: this case runs on a real X server");        \
    } while (false)

// QTEST_MAIN on the test's own X server.
#define KVX_X11_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        XServer server;                                                                            \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
