#include "soak/SoakRun.h"

#include "chip/AccelScaling.h"
#include "chip/RegisterMap.h"
#include "chip/ValueFormat.h"
#include "controls/FloatSpinEdit.h"
#include "controls/SpinEdit.h"
#include "editor/MotorPage.h"
#include "editor/RamPage.h"
#include "records/MicrostepShape.h"
#include "records/RamTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <ranges>
#include <cstdlib>

namespace kvx {

namespace {

using namespace std::chrono_literals;

constexpr int kMaxShownMismatches = 20;
// A reply comes within a few milliseconds. A wait this long (while the event loop ran) that is
// not a fault's known wait is cut short by moving the link's clock to its watchdog; it is longer
// than a late reply and the quiet after it take.
constexpr std::int64_t kStallMs = 1500;
// The driver ticks every 10 ms; a longer gap between ticks is a machine too busy to run the
// program, and counts as this much.
constexpr std::int64_t kTickCredit = 50;
// A late reply comes within the quiet after the watchdog, or after it, in turn.
constexpr std::chrono::milliseconds kLateBy[] = {300ms, 700ms};
constexpr int kDetectionWaitMs = 15000;

sim::Faults soakFaults(int round, int period)
{
    // About one frame in `period` each (97: periods prime to each other), so that the faults
    // meet every position of the poll cycle and each other.
    sim::Faults f;
    f.dropEvery = period;
    f.truncateEvery = period + 4;
    f.strayEvery = period + 6;
    f.lateEvery = period + 10;
    f.strayAt = sim::StrayPosition(round % 3);
    f.lateBy = kLateBy[round % 2];
    return f;
}

QByteArray withoutStray(QByteArray reply, sim::StrayPosition at)
{
    const qsizetype position = at == sim::StrayPosition::Before   ? 0
                               : at == sim::StrayPosition::Inside ? 2
                                                                  : reply.size() - 1;
    reply.remove(position, 1);
    return reply;
}

QByteArray replyBytes(const Reply &r)
{
    const char bytes[4] = {char(r.status), char(r.data.high), char(r.data.mid), char(r.data.low)};
    return QByteArray(bytes, 4);
}

Datagram low16(std::uint8_t address, int value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return Datagram{address, {0, std::uint8_t(v >> 8), std::uint8_t(v)}};
}

bool isWriteFrame(const QByteArray &request)
{
    return request.size() == 5 && !isReadAddress(std::uint8_t(request.at(1)));
}

DataBytes dataOf(const QByteArray &request)
{
    return DataBytes{std::uint8_t(request.at(2)), std::uint8_t(request.at(3)),
                     std::uint8_t(request.at(4))};
}

} // namespace

SoakRun::SoakRun(const SoakOptions &options)
    : m_options(options)
    , m_server([&options] {
        sim::BoardOptions b;
        b.variant = sim::Variant::Pentar;
        b.lineTiming = true;
        b.faults = soakFaults(0, options.faultPeriod);
        return b;
    }())
    , m_link(QFileInfo(m_app.iniPath()).dir().filePath(QStringLiteral("ttyKVX")))
    , m_rng(options.seed)
{
    m_steady.start();
}

SoakRun::~SoakRun() = default;

void SoakRun::skip(bool pastQuiet)
{
    m_skipped += BoardLink::kWatchdogTimeout.count() + 1;
    m_app.session().scheduler().TimerActionsTimer();
    if (!pastQuiet)
        return;
    m_skipped += BoardLink::kLateQuiet.count() + 1;
    m_app.session().scheduler().TimerActionsTimer();
}

void SoakRun::mismatch(const QString &what)
{
    ++m_figures.mismatches;
    if (m_figures.firstMismatches.size() < kMaxShownMismatches)
        m_figures.firstMismatches << what;
}

void SoakRun::onFrame(const sim::FrameLogEntry &e)
{
    if (e.request.size() != 5)
        return; // probes, start-up sequences and abandoned pieces are no exchanges
    ++m_figures.exchanges;
    const auto address = std::uint8_t(e.request.at(1));
    QByteArray reply = e.reply;
    const bool fault =
        e.note == "dropped" || e.note == "truncated" || e.note == "late" || e.note == "stray byte";
    if (e.note == "stray byte")
        reply = withoutStray(reply, m_server.board().options().faults.strayAt);
    if (fault) {
        ++m_figures.faults;
        ++m_faultsOpen;
        m_faultAt = clock();
        m_faultNote = e.note;
        m_requestsSinceFault = 0;
        m_giveUpsAtFault = m_app.session().link().counters().unanswered;
    } else if (m_faultsOpen > 0) {
        ++m_requestsSinceFault;
    }
    // The reply the board meant for the request it has just taken; nothing when it sends none
    // whole. The program takes replies one request at a time, so a reply it takes now can only
    // be the answer to this request.
    const bool whole =
        reply.size() == 4 && e.note != "dropped" && e.note != "truncated" && e.note != "silent";
    m_newest = {address, whole ? reply : QByteArray(), e.note};
    m_commandFrames << Taken{e.request, reply, e.note};

    // The board holds its answer back or never completes it: rather than wait out the 2 s
    // watchdog in real time, the link's clock jumps to it once the bytes that do come are in.
    const bool lost = e.note == "dropped" || e.note == "truncated";
    if (lost || e.note == "late") {
        m_skipPending = true;
        QTimer::singleShot(20, this, [this, lost] {
            m_skipPending = false;
            skip(lost);
        });
    }
}

void SoakRun::onReplyTaken(bool identification)
{
    m_lastTaken = m_loopTime;
    if (!identification) {
        m_taken.push_back(m_newest);
        // Direct replies are never shown; old ones only keep the search long.
        while (m_taken.size() > 256)
            m_taken.pop_front();
    }
    if (m_faultsOpen == 0)
        return;
    m_figures.worstRecoveryMs = std::max(m_figures.worstRecoveryMs, clock() - m_faultAt);
    m_figures.worstRecoveryRequests =
        std::max(m_figures.worstRecoveryRequests, m_requestsSinceFault);
    const quint64 giveUps = m_app.session().link().counters().unanswered - m_giveUpsAtFault;
    if (m_requestsSinceFault <= kRecoveryRequests && giveUps <= kRecoveryGiveUps)
        m_figures.recovered += m_faultsOpen;
    else
        mismatch(QStringLiteral("a reply was taken only after %1 requests and %2 give-ups "
                                "after a fault (%3)")
                     .arg(m_requestsSinceFault)
                     .arg(giveUps)
                     .arg(QLatin1String(m_faultNote.data(), qsizetype(m_faultNote.size()))));
    m_faultsOpen = 0;
}

void SoakRun::onShown(int row, const Reply &reply)
{
    ++m_figures.shownChecked;
    const std::uint8_t address = m_app.session().table().row(row).address;
    const QByteArray shown = replyBytes(reply);
    // The reply shown is one the program took for a request of this row's address, and it is
    // what the board sent for that very request: not a late answer to an earlier one, nor
    // another register's.
    for (auto it = m_taken.begin(); it != m_taken.end(); ++it) {
        if (it->address == address && it->reply == shown) {
            m_taken.erase(m_taken.begin(), it + 1);
            return;
        }
    }
    QString sent;
    for (const Sent &t : m_taken) {
        if (t.address == address)
            sent += QStringLiteral(" %1 (%2)")
                        .arg(QString::fromLatin1(t.reply.toHex(' ')),
                             QLatin1String(t.note.data(), qsizetype(t.note.size())));
    }
    mismatch(QStringLiteral("row %1 shows %2; the board sent for it:%3")
                 .arg(row)
                 .arg(QString::fromLatin1(shown.toHex(' ')), sent));
}

bool SoakRun::connect()
{
    QFile::remove(m_link);
    if (!QFile::link(m_server.terminalPath(), m_link))
        return false;
    // Faults meet the detection too: it may take a watchdog or two.
    m_app.main().BtnOpenClick();
    const QDeadlineTimer deadline(kDetectionWaitMs);
    while (m_app.main().StaticInfo1->text() != QStringLiteral("The board is active.") &&
           !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // A detection whose one identification was lost ends as a plain board's, as the link
    // has it; the board is then used as one.
    const QString said = m_app.main().StaticInfo2->text();
    if (said == QStringLiteral("KVX310 evaluation board detected!")) {
        ++m_figures.detectedAsPlain;
        return true;
    }
    return said == QStringLiteral("Pentar detected!");
}

void SoakRun::reconnect()
{
    ++m_figures.reconnects;
    // No reply is due while the board is away, nor during the detection after it.
    m_lastTaken = m_loopTime + kDetectionWaitMs;
    const qsizetype before = m_app.messages.size();
    m_server.hangUp();
    const QDeadlineTimer told(AppFixture::kEventWait);
    while (m_app.messages.size() == before && !told.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (m_app.messages.size() == before ||
        m_app.messages.last().text != QStringLiteral("The connection to port COM1 was lost."))
        mismatch(QStringLiteral("unplugging the board was not reported"));
    m_app.messages.clear();
    m_server.board().setFaults(soakFaults(int(m_figures.reconnects), m_options.faultPeriod));
    m_figures.cutByHangUp += m_faultsOpen;
    m_faultsOpen = 0;
    m_taken.clear();
    if (!m_server.start() || !connect())
        mismatch(QStringLiteral("the board was not detected after plugging it in again: %1 / %2")
                     .arg(m_app.main().StaticInfo1->text(), m_app.main().StaticInfo2->text()));
    m_lastTaken = m_loopTime;
}

void SoakRun::tick()
{
    const std::int64_t real = m_runTime.elapsed();
    m_heartbeat.store(real);
    m_loopTime += std::clamp<std::int64_t>(real - m_lastTick, 0, kTickCredit);
    m_lastTick = real;
    const std::int64_t now = m_loopTime;
    if (m_app.session().Connected() && !m_skipPending && now - m_lastTaken > kStallMs) {
        // Land on the watchdog of the request sent after the last reply, not beyond it.
        ++m_figures.stalls;
        if (m_faultsOpen == 0) {
            // The board answered; the program stopped taking its replies.
            ++m_figures.unexplainedStalls;
            mismatch(QStringLiteral("no reply was taken for %1 ms with no fault injected")
                         .arg(now - m_lastTaken));
        }
        m_skipped += std::max<std::int64_t>(0, BoardLink::kWatchdogTimeout.count() + 1 -
                                                   (now - m_lastTaken));
        m_lastTaken = now;
        m_app.session().scheduler().TimerActionsTimer();
    }
    if (m_busy || real < m_nextAction)
        return;
    m_busy = true;
    if (m_options.hangUpEvery > 0 &&
        real - m_lastHangUp >= std::int64_t(m_options.hangUpEvery) * 1000) {
        m_lastHangUp = real;
        reconnect();
    } else {
        act();
    }
    m_busy = false;
    m_nextAction = m_runTime.elapsed() + random(20, 400);
}

bool SoakRun::run()
{
    m_app.createWindows();
    m_app.session().setClock([this] { return clock(); });
    QObject::connect(&m_app.session().link(), &BoardLink::replyTaken, this,
                     [this](bool identification) { onReplyTaken(identification); });
    QObject::connect(&m_app.session().scheduler(), &PollScheduler::pollReplyShown, this,
                     [this](int row, const Reply &r) { onShown(row, r); });
    m_server.board().onFrame = [this](const sim::FrameLogEntry &e) { onFrame(e); };
    // The warning about a low acceleration is answered "Continue" without asking.
    m_app.warning().CheckNotify->setChecked(true);
    sim::ChipModel &chip = m_server.board().chip();
    for (int m = 0; m < kMotorCount; ++m) {
        chip.exchange(Datagram{motorWriteAddress(m, motor::Dividers),
                               {0, std::uint8_t(((2 + m) << 4) | (6 + m)), 0}});
        chip.exchange(Datagram{motorWriteAddress(m, motor::RefConfRampMode),
                               {0x00, std::uint8_t(0x10 * (m + 1)), 0}});
    }
    if (!m_server.start() || !m_app.mapCom1(m_link) || !connect())
        return false;
    m_app.advanced().show();
    m_runTime.start();
    m_lastTaken = 0;
    m_lastTick = 0;
    m_loopTime = 0;

    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, this, [this] { tick(); });
    driver.start(10);
    while ((m_options.exchanges > 0 && m_figures.exchanges < m_options.exchanges) ||
           (m_options.exchanges == 0 && m_runTime.elapsed() < m_options.seconds * 1000LL))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    driver.stop();
    // Faults of the last moments are recovered from before the figures are read.
    const QDeadlineTimer settle(3000);
    while (m_faultsOpen > 0 && !settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    m_figures.openAtEnd = m_faultsOpen;
    return true;
}

void SoakRun::act()
{
    m_commandFrames.clear();
    ++m_figures.commands;
    switch (random(0, 9)) {
    case 0:
    case 1:
        goMotors();
        break;
    case 2:
        stopMotors();
        break;
    case 3:
    case 4:
        registerSend();
        break;
    case 5:
        ramWrite();
        break;
    case 6:
        ramRead();
        break;
    case 7:
        shapeWrite();
        break;
    default:
        manualTelegram();
        break;
    }
}

void SoakRun::checkWrites(const std::map<std::uint8_t, DataBytes> &expected, const char *what)
{
    for (const Taken &t : m_commandFrames) {
        if (!isWriteFrame(t.request))
            continue;
        const auto address = std::uint8_t(t.request.at(1));
        const auto it = expected.find(address);
        if (it == expected.end())
            mismatch(QStringLiteral("%1 wrote 0x%2, which it never writes")
                         .arg(QLatin1String(what))
                         .arg(address, 2, 16, QLatin1Char('0')));
        else if (dataOf(t.request) != it->second)
            mismatch(QStringLiteral("%1 wrote %2 to 0x%3, not %4")
                         .arg(QLatin1String(what), QString::fromLatin1(t.request.toHex(' ')))
                         .arg(address, 2, 16, QLatin1Char('0'))
                         .arg(it->second.value(), 6, 16, QLatin1Char('0')));
    }
}

void SoakRun::goMotors()
{
    TFormMain &main = m_app.main();
    const sim::ChipModel &chip = m_server.board().chip();
    const int only = random(-1, kMotorCount - 1); // -1: "All G&o!"
    std::map<std::uint8_t, DataBytes> expected;
    for (int m = 0; m < kMotorCount; ++m) {
        MotorGroup &g = main.Motors[std::size_t(m)];
        const int mode = random(0, 3);
        const int a = random(1, 2047);
        const int vMax = random(1, 2047);
        const int vMin = random(0, 50);
        const int vTarget = random(-2047, 2047);
        const int xTarget = random(-90000, 90000);
        const int vActual = random(-2047, 2047);
        g.CbRampMode->setCurrentIndex(mode);
        g.EditAMax->setValue(a);
        g.EditVMax->setValue(vMax);
        g.EditVMin->setValue(vMin);
        g.EditVTarget->setValue(vTarget);
        g.EditXTarget->setValue(xTarget);
        g.EditVActual->setValue(vActual);
        if (only >= 0 && only != m)
            continue;
        // What the command may write, from the chip's registers as they stand before it.
        const std::uint32_t dividers = chip.peek(motorReadAddress(m, motor::Dividers));
        const RegisterDef &reg = motorRegister(motor::Dividers);
        const int pulsDiv = int(unpackField(reg.fields[field::Dividers_PulsDiv], dividers));
        const int rampDiv = int(unpackField(reg.fields[field::Dividers_RampDiv], dividers));
        const PMulPDiv p = CalcPMulPDiv(a, rampDiv, pulsDiv);
        const DataBytes refConf =
            DataBytes::fromValue(chip.peek(motorReadAddress(m, motor::RefConfRampMode)));
        expected[motorWriteAddress(m, motor::PMulPDiv)] = {0, std::uint8_t(p.pMul),
                                                           std::uint8_t(p.pDiv)};
        expected[motorWriteAddress(m, motor::RefConfRampMode)] = {refConf.high, refConf.mid,
                                                                  std::uint8_t(mode)};
        const bool velocity = mode == int(RampMode::Velocity);
        expected[motorWriteAddress(m, motor::AMax)] = DataBytes::fromValue(std::uint32_t(a));
        expected[motorWriteAddress(m, motor::VMax)] =
            low16(0, velocity ? std::abs(vTarget) : vMax).data;
        expected[motorWriteAddress(m, motor::VMin)] = low16(0, vMin).data;
        expected[motorWriteAddress(m, motor::XTarget)] =
            DataBytes::fromValue(std::uint32_t(xTarget) & kDataMask);
        expected[motorWriteAddress(m, motor::VTarget)] = low16(0, vTarget).data;
        expected[motorWriteAddress(m, motor::VActual)] = low16(0, vActual).data;
    }
    if (only < 0)
        main.BtnGoAllClick();
    else
        main.BtnGo1Click(main.Motors[std::size_t(only)].BtnGo);
    checkWrites(expected, "Go");
}

void SoakRun::stopMotors()
{
    TFormMain &main = m_app.main();
    const int only = random(-1, kMotorCount - 1);
    std::map<std::uint8_t, DataBytes> expected;
    for (int m = 0; m < kMotorCount; ++m) {
        if (only >= 0 && only != m)
            continue;
        const int x = main.Motors[std::size_t(m)].EditXTarget->boundedValue();
        expected[motorWriteAddress(m, motor::XActual)] =
            DataBytes::fromValue(std::uint32_t(x) & kDataMask);
        expected[motorWriteAddress(m, motor::VTarget)] = {};
        expected[motorWriteAddress(m, motor::VActual)] = {};
    }
    if (only < 0)
        main.BtnStopAllClick();
    else
        main.BtnStop1Click(main.Motors[std::size_t(only)].BtnStop);
    checkWrites(expected, "Stop");
}

void SoakRun::registerSend()
{
    TFormAdvanced &editor = m_app.advanced();
    editor.PageControl->setCurrentIndex(int(EditorPage::Motor1));
    // A target position, or a read of any motor register.
    const int m = random(0, kMotorCount - 1);
    const Datagram telegram = random(0, 1) == 0
                                  ? Datagram::make(motorWriteAddress(m, motor::XTarget),
                                                   std::uint32_t(random(0, 0xFFFFFF)))
                                  : Datagram{motorReadAddress(m, random(0, 15)), {}};
    editor.ComposedTelegram = telegram;
    editor.BtnSendMot1Click();
    const bool saidAnswered = editor.MotorPages[0]->LblNoAnswer->isHidden();
    const QByteArray sent = m_app.session().link().frame(telegram);
    int taken = 0;
    bool answeredWhole = false;
    for (const Taken &t : m_commandFrames) {
        if (t.request != sent)
            continue;
        ++taken;
        answeredWhole = t.note != "dropped" && t.note != "truncated" && t.note != "late";
    }
    // A read may also meet the poll of the same register that was out when the click came, be
    // asked again when its reply was lost, and once more when its reply was the first after a
    // give-up (not used: it may have been the late one).
    const int mostReads = 1 + 1 + BoardLink::kReadRetries + 1;
    if (taken == 0 ? saidAnswered : taken > (isReadAddress(telegram.address) ? mostReads : 1))
        mismatch(
            QStringLiteral("the register page's send reached the board %1 times and was "
                           "said %2")
                .arg(taken)
                .arg(saidAnswered ? QStringLiteral("answered") : QStringLiteral("unanswered")));
    else if (saidAnswered && !answeredWhole)
        mismatch(QStringLiteral("the register page's send was said answered; the board's reply "
                                "never came whole"));
}

int SoakRun::stoppedWord(qsizetype messagesBefore, const QString &pattern)
{
    // A line that never fell quiet is given up before the word is sent: a stop at that word
    // too, and an honest one on a host too busy to see the quiet.
    const QRegularExpression re(pattern + QStringLiteral("|RAM word (\\d+) could not be sent"));
    for (qsizetype i = messagesBefore; i < m_app.messages.size(); ++i) {
        const QRegularExpressionMatch match = re.match(m_app.messages.at(i).text);
        if (match.hasMatch())
            return (match.hasCaptured(1) ? match.captured(1) : match.captured(2)).toInt();
    }
    // The board is unplugged only between commands: any other message is one too many.
    for (qsizetype i = messagesBefore; i < m_app.messages.size(); ++i)
        mismatch(QStringLiteral("unexpected message: %1").arg(m_app.messages.at(i).text));
    return m_app.messages.size() > messagesBefore ? -2 : -1; // -2: some other message
}

bool SoakRun::ramMatches(int fromWord, int toWord)
{
    const RamCells cells = m_app.advanced().RamPage->cells();
    const sim::ChipModel &chip = m_server.board().chip();
    for (int b = 2 * fromWord; b < 2 * toWord; ++b) {
        if (cells[std::size_t(b)].toUInt(nullptr, 16) != chip.ramByte(b))
            return false;
    }
    return true;
}

void SoakRun::ramWrite()
{
    TRamPage &page = *m_app.advanced().RamPage;
    for (int b = 0; b < kRamByteCount; ++b)
        page.setCell(b, QString::number(random(0, 255), 16).rightJustified(2, QLatin1Char('0')));
    const qsizetype before = m_app.messages.size();
    page.BtnWriteRAMClick();
    const int word = stoppedWord(before, QStringLiteral("write of RAM word (\\d+)"));
    if (word == -2)
        return; // the port was lost: nothing to hold it to
    const int done = word < 0 ? kRamByteCount / 2 : word;
    if (!ramMatches(0, done))
        mismatch(
            QStringLiteral("after Write to RAM the board does not hold words 0..%1").arg(done));
    if (word >= 0)
        return;
    // Said done: every word's write was answered.
    for (const Taken &t : m_commandFrames) {
        if (t.note == "dropped" || t.note == "truncated" || t.note == "late")
            mismatch(QStringLiteral("Write to RAM said nothing of an unanswered word"));
    }
}

void SoakRun::ramRead()
{
    TRamPage &page = *m_app.advanced().RamPage;
    const RamCells before = page.cells();
    const qsizetype messages = m_app.messages.size();
    page.BtnReadRAMClick();
    const int word = stoppedWord(messages, QStringLiteral("read of RAM word (\\d+)"));
    if (word == -2)
        return;
    if (word >= 0) {
        if (page.cells() != before)
            mismatch(QStringLiteral("a Read from RAM that stopped changed the table"));
    } else if (!ramMatches(0, kRamByteCount / 2)) {
        mismatch(QStringLiteral("after Read from RAM the table is not what the board holds"));
    }
}

void SoakRun::shapeWrite()
{
    TRamPage &page = *m_app.advanced().RamPage;
    page.EditSigma->setValue(random(-10, 10) / 10.0);
    const qsizetype before = m_app.messages.size();
    page.BtnShapeCWClick();
    const int word = stoppedWord(before, QStringLiteral("write of RAM word (\\d+)"));
    if (word == -2)
        return;
    const int firstWord = kShapeFirstByte / 2;
    const int done = word < 0 ? kRamByteCount / 2 : word;
    if (!ramMatches(firstWord, done))
        mismatch(QStringLiteral("after the shape write the board does not hold words %1..%2")
                     .arg(firstWord)
                     .arg(done));
}

void SoakRun::manualTelegram()
{
    TRamPage &page = *m_app.advanced().RamPage;
    const int m = random(0, kMotorCount - 1);
    const Datagram d = random(0, 2) == 0 ? Datagram::make(motorWriteAddress(m, motor::VMin),
                                                          std::uint32_t(random(0, 50)))
                                         : Datagram{motorReadAddress(m, random(0, 15)), {}};
    const std::uint8_t bytes[4] = {d.address, d.data.high, d.data.mid, d.data.low};
    for (int i = 0; i < 4; ++i)
        page.EditSPIMan[std::size_t(i)]->setText(hexText(bytes[i]));
    page.BtnSendSPIManClick();
    QByteArray shown;
    for (QLineEdit *box : page.StaticSPIMan)
        shown.append(char(box->text().toUInt(nullptr, 16)));
    if (page.StaticSPIMan[0]->text() == QStringLiteral("--"))
        return; // said unanswered
    const QByteArray sent = m_app.session().link().frame(d);
    // A read whose reply was lost is asked again: what is shown is the last attempt's answer.
    for (const Taken &t : std::views::reverse(m_commandFrames)) {
        if (t.request != sent)
            continue;
        if (t.note == "dropped" || t.note == "truncated" || t.note == "late" || t.reply != shown)
            mismatch(QStringLiteral("the manual telegram shows %1, the board sent %2 (%3)")
                         .arg(QString::fromLatin1(shown.toHex(' ')),
                              QString::fromLatin1(t.reply.toHex(' ')),
                              QLatin1String(t.note.data(), qsizetype(t.note.size()))));
        return;
    }
    mismatch(QStringLiteral("the manual telegram shows a reply, but the board never took it"));
}

} // namespace kvx
