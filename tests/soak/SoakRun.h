#pragma once

// The whole program, offscreen, against a simulated board that drops, truncates, delays and
// pads about one reply in a hundred each, and that is unplugged and plugged in again every so
// often, while a driver clicks its commands at random. Every command is checked against what
// the board took and holds, every value shown against what the board sent for it, and every
// fault against how soon the link takes a reply again.

#include "chip/Datagram.h"
#include "common/AppFixture.h"
#include "sim/PtyBoardServer.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <random>

namespace kvx {

struct SoakOptions
{
    std::int64_t exchanges = 0; // stop after this many exchanges; 0: after `seconds`
    int seconds = 60;
    int hangUpEvery = 30; // seconds between unplugging and plugging in the board
    int faultPeriod = 97; // each fault hits about one frame in this many
    std::uint32_t seed = 1;
};

struct SoakFigures
{
    std::int64_t exchanges = 0;
    std::int64_t faults = 0;
    std::int64_t recovered = 0;
    std::int64_t cutByHangUp = 0; // faults whose recovery the board's unplugging cut short
    std::int64_t openAtEnd = 0;
    std::int64_t worstRecoveryMs = 0;       // on the link's clock; a figure, not a bound
    std::int64_t worstRecoveryRequests = 0; // requests sent after a fault before a reply came
    std::int64_t commands = 0;
    std::int64_t shownChecked = 0;
    std::int64_t reconnects = 0;
    std::int64_t detectedAsPlain = 0;   // detections whose identification was lost
    std::int64_t stalls = 0;            // waits for the watchdog the run cut short
    std::int64_t unexplainedStalls = 0; // of them, with no injected fault before them
    std::int64_t mismatches = 0;
    QStringList firstMismatches;
};

class SoakRun : public QObject
{
public:
    // After a fault the link takes a reply again within one give-up by its watchdog and the
    // requests after it: the one sent once the quiet is over and, where a late reply arrives
    // behind it and spoils its count, the next. Counted, not timed: a loaded machine stretches
    // the time recovery takes, not the steps.
    static constexpr std::int64_t kRecoveryRequests = 3;
    static constexpr quint64 kRecoveryGiveUps = 1;

    explicit SoakRun(const SoakOptions &options);
    ~SoakRun() override;

    // Runs until the exchanges or the time are reached; false when the run could not start.
    bool run();
    [[nodiscard]] const SoakFigures &figures() const { return m_figures; }
    // The event loop's heartbeat, read by the hang watchdog's thread.
    [[nodiscard]] std::int64_t heartbeat() const { return m_heartbeat.load(); }

private:
    struct Taken
    {
        QByteArray request;
        QByteArray reply; // what the board meant to send, without a stray byte
        std::string_view note;
    };

    [[nodiscard]] std::int64_t clock() const { return m_steady.elapsed() + m_skipped; }
    void skip(bool pastQuiet);
    void onFrame(const sim::FrameLogEntry &e);
    void onReplyTaken(bool identification);
    void onShown(int row, const Reply &reply);
    void tick();
    bool connect();
    void reconnect();

    void act();
    void goMotors();
    void stopMotors();
    void registerSend();
    void ramWrite();
    void ramRead();
    void shapeWrite();
    void manualTelegram();
    void checkWrites(const std::map<std::uint8_t, DataBytes> &expected, const char *what);
    [[nodiscard]] int stoppedWord(qsizetype messagesBefore, const QString &pattern);
    [[nodiscard]] bool ramMatches(int fromWord, int toWord);
    void mismatch(const QString &what);
    [[nodiscard]] int random(int lo, int hi)
    {
        return std::uniform_int_distribution(lo, hi)(m_rng);
    }

    SoakOptions m_options;
    SoakFigures m_figures;
    AppFixture m_app;
    sim::PtyBoardServer m_server;
    QString m_link; // COM1: a symbolic link to the board's current terminal
    std::mt19937 m_rng;
    QElapsedTimer m_steady;
    std::int64_t m_skipped = 0;
    QElapsedTimer m_runTime;
    std::int64_t m_lastHangUp = 0;
    bool m_busy = false;
    std::int64_t m_nextAction = 0;
    // Milliseconds the event loop ran, a tick's worth at most between two ticks: a machine too
    // busy to run the program for a while does not make that while count as a stall.
    std::int64_t m_loopTime = 0;
    std::int64_t m_lastTick = 0;
    std::int64_t m_lastTaken = 0; // loop time of the last reply taken
    std::int64_t m_faultAt = -1;  // program clock of the newest fault not yet recovered from
    std::int64_t m_requestsSinceFault = 0; // requests the board took after the newest fault
    quint64 m_giveUpsAtFault = 0;          // the link's give-ups when it came
    std::string_view m_faultNote;
    std::int64_t m_faultsOpen = 0; // faults since the last reply taken
    bool m_skipPending = false;    // a fault's jump to the watchdog is on its way
    struct Sent
    {
        std::uint8_t address = 0;
        QByteArray reply; // empty: the board sent none whole
        std::string_view note;
    };
    Sent m_newest;                // the request the board took last, and its reply
    std::deque<Sent> m_taken;     // the board's replies to the requests whose replies were taken
    QList<Taken> m_commandFrames; // what the board took during the command being checked
    std::atomic<std::int64_t> m_heartbeat{0};
};

} // namespace kvx
