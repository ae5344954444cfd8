#include "link/async32.h"

#ifdef Q_OS_LINUX
#include "link/ReadMinimum.h"
#endif

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#endif

namespace kvx {

#ifdef Q_OS_LINUX
static_assert(sizeof(serial_rs485) == sizeof(std::array<std::uint32_t, 8>));
#endif

namespace {

using namespace std::chrono_literals;
constexpr int kProviderRs232 = 1; // provider subtype of a plain RS-232 port

QSerialPort::Parity qtParity(TParity p)
{
    switch (p) {
    case TParity::paNone:
        return QSerialPort::NoParity;
    case TParity::paOdd:
        return QSerialPort::OddParity;
    case TParity::paEven:
        return QSerialPort::EvenParity;
    case TParity::paMark:
        return QSerialPort::MarkParity;
    case TParity::paSpace:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(TStopbits s)
{
    switch (s) {
    case TStopbits::sb10:
        return QSerialPort::OneStop;
    case TStopbits::sb15:
        return QSerialPort::OneAndHalfStop;
    case TStopbits::sb20:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// Qt only reports an error class and the system's text; the handler of OnOpen gets an errno
// value recovered from that text, so that "permission denied" and "no such device" can be told
// apart by number as well.
int systemErrorCode(const QSerialPort &port)
{
    const QString text = port.errorString();
    for (int code : {ENOENT, ENODEV, ENXIO, EACCES, EBUSY, EIO, EINVAL}) {
        if (text == QString::fromLocal8Bit(std::strerror(code)))
            return code;
    }
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return ENOENT;
    case QSerialPort::PermissionError:
        // Qt says this also when another program holds the device's lock file.
        return text.contains(QLatin1String("lock"), Qt::CaseInsensitive) ? EBUSY : EACCES;
    case QSerialPort::OpenError:
        return EBUSY;
    default:
        return EIO;
    }
}

} // namespace

int baudRateValue(TBaudRate rate)
{
    static constexpr int kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return kRates[static_cast<int>(rate)];
}

TCustomComm32::TCustomComm32(QObject *parent)
    : ByteTransport(parent)
    , m_rtsTimer(new QTimer(this))
    , m_dispatchTimer(new QTimer(this))
{
    m_rtsTimer->setTimerType(Qt::PreciseTimer);
    m_rtsTimer->setSingleShot(true);
    connect(m_rtsTimer, &QTimer::timeout, this, [this] {
        endTransmissionIfDrained();
        if (m_rtsRaised)
            armRtsTimer();
    });
    m_dispatchTimer->setSingleShot(true);
    m_dispatchTimer->setInterval(0);
    connect(m_dispatchTimer, &QTimer::timeout, this, [this] { runPostedEvents(); });
}

TCustomComm32::~TCustomComm32()
{
    Close();
}

bool TCustomComm32::Connected() const
{
    return m_port && m_port->isOpen() && !m_lost;
}

void TCustomComm32::failOpen(int code, const QString &text)
{
    m_lastError = code != 0 ? code : EIO;
    m_lastErrorText = text;
}

bool TCustomComm32::openTarget(QString *error, int *code)
{
    // The system's own names ("COM1" is /dev/ttyS0 here); the program's port list and its
    // simulated boards are resolved by whoever names the device.
    m_lastTarget = resolvePortName(m_deviceName, {});
    QString path = m_lastTarget.path;
    if (m_lastTarget.kind != PortTarget::Kind::Device || path.isEmpty()) {
        *code = ENOENT;
        *error = tr("no device name");
        return false;
    }
    // Qt puts "/dev/" in front of bare names; a relative path must reach it as a path.
    if (path.contains(QLatin1Char('/')) && QFileInfo(path).isRelative())
        path = QFileInfo(path).absoluteFilePath();
    m_openedDevice = path;

    auto *port = new QSerialPort(this);
    port->setPortName(path);
    port->setReadBufferSize(m_readBufferSize);
    if (!port->open(QIODevice::ReadWrite)) {
        *code = systemErrorCode(*port);
        *error = port->errorString();
        delete port;
        return false;
    }
    m_port = port;
    return true;
}

void TCustomComm32::Open()
{
    Close();
    m_lastError = 0;
    m_lastErrorText.clear();
    m_openedDevice.clear();
    m_lost = false;
    m_modemLines = true;
    m_pseudoTerminal = false;
    m_driverRtsToggle = false;
    m_errorCountsMissing = false;

    QString error;
    int code = 0;
    if (m_databits == TDatabits::da4) {
        code = EINVAL;
        error = tr("4 data bits are not supported on this system");
    }
    if (code != 0 || !openTarget(&error, &code)) {
        failOpen(code, error);
        if (OnOpen)
            OnOpen(this, kProviderRs232, m_lastError);
        return;
    }
    ++m_generation;

    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onPortError(int(e)); });
    if (!applyLineSettings()) {
        const QString text = m_port->errorString();
        Close();
        failOpen(EINVAL, text);
        if (OnOpen)
            OnOpen(this, kProviderRs232, m_lastError);
        return;
    }
    applyFlowControl();
    m_readThreshold = 0; // unknown: Qt's own setting
    setReadThreshold(1);
    applyNativeOptions();
    // Qt keeps whatever the device received before it was opened; a stale reply would be
    // taken for the answer to the first request.
    m_port->clear(QSerialPort::AllDirections);

    if (!m_simple) {
        connect(m_port, &QSerialPort::readyRead, this, [this] { postEvents(evRxChar); });
        connect(m_port, &QSerialPort::bytesWritten, this, [this] {
            if (OnTxEmpty && m_port && m_port->bytesToWrite() == 0)
                postEvents(evTxEmpty);
        });
    }
    if (OnOpen)
        OnOpen(this, kProviderRs232, 0);
}

void TCustomComm32::Close()
{
    m_rtsTimer->stop();
    m_dispatchTimer->stop();
    m_rtsRaised = false;
    m_eventsPosted = false;
    m_postedMask = 0;
    m_readThreshold = 1;
    m_fetched.clear();
    if (!m_port)
        return;
    ++m_generation;
    QSerialPort *port = m_port;
    m_port = nullptr;
#ifdef Q_OS_LINUX
    // The driver's RS-485 mode outlives the descriptor; the next user of the port gets it back
    // as it was.
    if (m_savedRs485 && port->isOpen()) {
        serial_rs485 previous{};
        std::memcpy(&previous, m_savedRs485->data(), sizeof previous);
        ::ioctl(int(port->handle()), TIOCSRS485, &previous);
    }
    // So does the low-latency setting.
    serial_struct serial{};
    if (m_setLowLatency && port->isOpen() &&
        ::ioctl(int(port->handle()), TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(int(port->handle()), TIOCSSERIAL, &serial);
    }
#endif
    m_savedRs485.reset();
    m_setLowLatency = false;
    m_driverRtsToggle = false;
    port->disconnect(this);
    port->close();
    // Close may run inside one of the port's own signals; it must outlive that call.
    port->deleteLater();
}

bool TCustomComm32::applyLineSettings()
{
    const auto dataBits = static_cast<QSerialPort::DataBits>(static_cast<int>(m_databits) + 4);
    return m_port->setBaudRate(baudRateValue(m_baudRate)) && m_port->setDataBits(dataBits) &&
           m_port->setParity(qtParity(m_parity)) && m_port->setStopBits(qtStopBits(m_stopbits));
}

void TCustomComm32::applyFlowControl()
{
    if (!m_port)
        return;
    switch (m_flowControl) {
    case TFlowControl::fcDefault:
        return;
    case TFlowControl::fcCTS:
        m_port->setFlowControl(QSerialPort::HardwareControl);
        break;
    case TFlowControl::fcSoftware:
        m_port->setFlowControl(QSerialPort::SoftwareControl);
        applyNativeOptions(); // the XON / XOFF characters
        break;
    case TFlowControl::fcNone:
    case TFlowControl::fcDTR:
    case TFlowControl::fcRTSToggle:
        m_port->setFlowControl(QSerialPort::NoFlowControl);
        break;
    }
    // A pseudo-terminal has no modem lines: Qt reports an unsupported operation, which only
    // means there is nothing to drive.
    if (m_modemLines && !m_port->setDataTerminalReady(true))
        m_modemLines = false;
    if (m_flowControl == TFlowControl::fcRTSToggle) {
#ifdef Q_OS_LINUX
        const int fd = int(m_port->handle());
        serial_rs485 previous{};
        if (!m_savedRs485 && ::ioctl(fd, TIOCGRS485, &previous) == 0) {
            std::array<std::uint32_t, 8> saved{};
            std::memcpy(saved.data(), &previous, sizeof previous);
            m_savedRs485 = saved;
        }
        serial_rs485 rs485{};
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        m_driverRtsToggle = ::ioctl(fd, TIOCSRS485, &rs485) == 0;
#endif
        if (!m_driverRtsToggle && m_modemLines && !m_port->setRequestToSend(false))
            m_modemLines = false;
    } else if (m_flowControl != TFlowControl::fcCTS && m_modemLines) {
        m_modemLines = m_port->setRequestToSend(true);
    }
}

void TCustomComm32::applyNativeOptions()
{
#ifdef Q_OS_LINUX
    if (!m_port)
        return;
    const int fd = int(m_port->handle());
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    // Only parity checking has a termios counterpart; the other options have none on Linux.
    if (m_options.testFlag(osParityCheck))
        tio.c_iflag |= INPCK;
    else
        tio.c_iflag &= ~tcflag_t(INPCK);
    tio.c_cc[VSTART] = static_cast<cc_t>(m_xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(m_xoffChar);
    ::tcsetattr(fd, TCSANOW, &tio);
    // Unix 98 pseudo-terminal slaves: a program at the other end, not a line.
    struct stat st
    {};
    m_pseudoTerminal = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
                       major(st.st_rdev) <= 143;
    // A USB adapter hands received bytes over once per latency window, 16 ms by default for
    // some; asked for low latency, their drivers shorten it to about a millisecond, and a reply
    // reaches the program as soon as the line has carried it. A device without the setting (a
    // pseudo-terminal, most built-in ports) refuses the request and stays as it is.
    serial_struct serial{};
    if (!m_setLowLatency && ::ioctl(fd, TIOCGSERIAL, &serial) == 0 &&
        !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        m_setLowLatency = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
#endif
}

void TCustomComm32::setBaudRate(TBaudRate rate)
{
    m_baudRate = rate;
    if (m_port)
        m_port->setBaudRate(baudRateValue(rate));
}

void TCustomComm32::setParity(TParity parity)
{
    m_parity = parity;
    if (m_port)
        m_port->setParity(qtParity(parity));
}

void TCustomComm32::setStopbits(TStopbits stopbits)
{
    m_stopbits = stopbits;
    if (m_port)
        m_port->setStopBits(qtStopBits(stopbits));
}

void TCustomComm32::setDatabits(TDatabits databits)
{
    m_databits = databits;
    if (m_port && databits != TDatabits::da4)
        m_port->setDataBits(static_cast<QSerialPort::DataBits>(static_cast<int>(databits) + 4));
}

void TCustomComm32::setReadBufferSize(int size)
{
    // Qt takes 0 for "unlimited"; a board that floods the line must not grow memory.
    m_readBufferSize = std::max(size, 1);
    if (m_port)
        m_port->setReadBufferSize(m_readBufferSize);
}

void TCustomComm32::setFlowControl(TFlowControl flow)
{
    m_flowControl = flow;
    applyFlowControl();
}

void TCustomComm32::setXonChar(std::uint8_t c)
{
    m_xonChar = c;
    applyNativeOptions();
}

void TCustomComm32::setXoffChar(std::uint8_t c)
{
    m_xoffChar = c;
    applyNativeOptions();
}

void TCustomComm32::setOptions(TComm32Options options)
{
    m_options = options;
    applyNativeOptions();
}

int TCustomComm32::WriteBytes(const void *buffer, int count)
{
    if (!Connected() || count < 0)
        return -1;
    if (m_port->bytesToWrite() > 0) {
        m_port->flush();
        if (m_port->bytesToWrite() > 0)
            return 0;
    }
    if (count == 0)
        return 0;
    beginTransmission();
    const char *bytes = static_cast<const char *>(buffer);
    int written = 0;
    // RTS drops once what is written now has left.
    const auto armRts = qScopeGuard([this] {
        if (m_rtsRaised && Connected())
            armRtsTimer();
    });
#ifdef Q_OS_LINUX
    // Straight to the system while Qt holds no backlog: Qt would only buffer the bytes until
    // the event loop runs, and arm and disarm a "writable" notification for every frame.
    const ssize_t n = ::write(int(m_port->handle()), bytes, size_t(count));
    if (n == count)
        return count;
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        if (deviceGone())
            markLost(tr("The device stopped answering or was unplugged"));
        return -1;
    }
    written = n > 0 ? int(n) : 0;
#endif
    // What the system did not take waits in Qt's buffer and goes out as room appears.
    m_port->clearError();
    if (m_port->write(bytes + written, count - written) != count - written)
        return -1;
    m_port->flush();
    // A full system queue (Qt calls it a resource error too) only leaves the rest pending.
    if (m_lost || m_port->error() == QSerialPort::WriteError)
        return -1;
    return m_port->bytesToWrite() == 0 ? count : 0;
}

int TCustomComm32::ReadBytes(void *buffer, int count)
{
    if (!Connected() || count < 0)
        return -1;
    // Bytes fetched by a look come first: they are older than anything Qt reads after them.
    const int early = std::min(count, int(m_fetched.size()));
    std::memcpy(buffer, m_fetched.constData(), std::size_t(early));
    m_fetched.remove(0, early);
    if (early == count)
        return count;
    const qint64 n = m_port->read(static_cast<char *>(buffer) + early, count - early);
    return n < 0 ? (early > 0 ? early : -1) : early + int(n);
}

int TCustomComm32::OutQueueCount()
{
    if (!Connected())
        return 0;
    if (m_port->bytesToWrite() > 0)
        m_port->flush();
    if (!m_port)
        return 0;
    const int queued = unsent();
    if (queued == 0)
        endTransmissionIfDrained();
    return queued;
}

int TCustomComm32::inQueueCount()
{
    if (!Connected())
        return 0;
    int queued = int(m_fetched.size() + m_port->bytesAvailable());
#ifdef Q_OS_LINUX
    // The system hands what a terminal has received over to its readers apart, late on a busy
    // host; the count alone would miss bytes that came before the look, and a checkpoint would
    // take a line with a reply's tail on its way for quiet. A look through poll() has the
    // hand-over done first (it waits for no byte that has not come).
    pollfd look{int(m_port->handle()), POLLIN, 0};
    ::poll(&look, 1, 0);
    int pending = 0;
    if (::ioctl(int(m_port->handle()), FIONREAD, &pending) == 0 && pending > 0)
        queued += pending;
#endif
    return queued;
}

void TCustomComm32::fetchInput()
{
    if (!Connected())
        return;
#ifdef Q_OS_LINUX
    const int fd = int(m_port->handle());
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) != 0 || pending <= 0)
        return;
    if (pending < m_readThreshold) {
        // Fewer than the threshold: the system does not report them readable, so Qt would
        // not read them, and the threshold stays as it is. What Qt holds is older and goes
        // first; reading it also lets Qt hear of the device again should it have found it
        // empty once.
        m_fetched += m_port->readAll();
        QByteArray bytes(pending, '\0');
        const ssize_t n = ::read(fd, bytes.data(), std::size_t(pending));
        if (n > 0)
            m_fetched += bytes.left(n);
        return;
    }
#endif
    // Qt reads from the device only when its notifier has fired; this reads now.
    m_port->waitForReadyRead(0);
}

void TCustomComm32::setReadThreshold(int bytes)
{
    bytes = std::clamp(bytes, 1, 255);
    if (bytes == m_readThreshold || !Connected())
        return;
#ifdef Q_OS_LINUX
    // In raw mode with no inter-byte time the terminal reports itself readable only once
    // VMIN bytes wait (the line discipline is the same for every serial driver, USB ones
    // included); a non-blocking read still returns whatever has come. VMIN is no line
    // setting: baud rate, framing and modem lines stay as they are.
    if (setReadMinimum(int(m_port->handle()), bytes)) {
        m_readThreshold = bytes;
        return;
    }
#endif
    // Every byte is reported at once, as a threshold of one.
    m_readThreshold = 1;
}

double TCustomComm32::characterTime() const
{
    static constexpr double kStopBits[] = {1.0, 1.5, 2.0};
    const double bits = 1.0 + (static_cast<int>(m_databits) + 4) +
                        (m_parity == TParity::paNone ? 0.0 : 1.0) +
                        kStopBits[static_cast<int>(m_stopbits)];
    return bits * 1e6 / baudRateValue(m_baudRate);
}

void TCustomComm32::PurgeInput()
{
    if (!Connected())
        return;
    m_fetched.clear();
    m_port->clear(QSerialPort::Input);
    // Qt stops reading from the device once its buffer is full and only starts again on a
    // read; after a purge nothing would ever be received again.
    m_port->setReadBufferSize(m_readBufferSize);
}

void TCustomComm32::PurgeOutput()
{
    if (Connected())
        m_port->clear(QSerialPort::Output);
    endTransmissionIfDrained();
}

quint64 TCustomComm32::lineErrors() const
{
#ifdef Q_OS_LINUX
    // The driver counts the bytes that came with a framing or parity error, or were lost to
    // an overrun; not every driver keeps the counts.
    // Asked after every read: a driver without them (a pseudo-terminal) is not asked again.
    serial_icounter_struct counts{};
    if (!Connected() || m_errorCountsMissing)
        return 0;
    if (::ioctl(int(m_port->handle()), TIOCGICOUNT, &counts) == 0)
        return quint64(counts.frame) + quint64(counts.parity) + quint64(counts.overrun) +
               quint64(counts.buf_overrun);
    m_errorCountsMissing = errno == ENOTTY || errno == EINVAL;
#endif
    return 0;
}

void TCustomComm32::beginTransmission()
{
    if (m_flowControl != TFlowControl::fcRTSToggle || m_driverRtsToggle || !m_modemLines)
        return;
    if (!m_rtsRaised) {
        m_rtsRaised = m_port->setRequestToSend(true);
        if (!m_rtsRaised)
            m_modemLines = false;
    }
}

int TCustomComm32::unsent() const
{
    int queued = int(m_port->bytesToWrite());
#ifdef Q_OS_LINUX
    int pending = 0;
    if (::ioctl(int(m_port->handle()), TIOCOUTQ, &pending) == 0 && pending > 0)
        queued += pending;
#endif
    return queued;
}

void TCustomComm32::armRtsTimer()
{
    // RTS drops once the last stop bit has left: one look when the bytes queued now can have
    // left, and another a character later for each byte still there then.
    const double micros = (std::max(unsent(), 1) + 1) * characterTime();
    m_rtsTimer->start(std::max(1, int(std::ceil(micros / 1000.0))));
}

void TCustomComm32::endTransmissionIfDrained()
{
    if (!m_rtsRaised)
        return;
    if (!Connected()) {
        m_rtsRaised = false;
        m_rtsTimer->stop();
        return;
    }
    if (m_port->bytesToWrite() > 0)
        return;
#ifdef Q_OS_LINUX
    // RTS must stay up until the last stop bit has left the shift register, not just the
    // queue; drivers that cannot tell are taken at the queue count.
    const int fd = int(m_port->handle());
    int pending = 0;
    if (::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0)
        return;
    unsigned lsr = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0)
        return;
#endif
    m_port->setRequestToSend(false);
    m_rtsRaised = false;
    m_rtsTimer->stop();
}

void TCustomComm32::postEvents(unsigned mask)
{
    // Handlers run from the event loop, never inside Qt's readyRead: Qt does not emit
    // readyRead again while a slot connected to it runs, and a handler may open a message box
    // or wait for a reply. A handler that waits keeps receiving notifications, since each one
    // comes from a fresh pass of the (nested) loop. A zero timer rather than a posted call:
    // at 19200 bit/s every byte is a notification, and a timer needs no wake-up of the loop.
    m_postedMask |= mask;
    if (m_eventsPosted)
        return;
    m_eventsPosted = true;
    m_dispatchTimer->start();
}

void TCustomComm32::runPostedEvents()
{
    const unsigned mask = m_postedMask;
    m_postedMask = 0;
    m_eventsPosted = false;
    DispatchEvents(mask);
}

void TCustomComm32::DispatchEvents(unsigned mask)
{
    if (!Connected())
        return;
    mask &= m_monitorEvents.toInt();
    const quint64 generation = m_generation;
    const int count = int(m_fetched.size() + m_port->bytesAvailable());
    const int errors = m_lastPortError;
    m_lastPortError = 0;
    // A handler may close the device; the ones after it then have nothing to report.
    auto stillOpen = [&] { return generation == m_generation && Connected(); };

    if ((mask & evBreak) && OnBreak)
        OnBreak(this);
    if ((mask & evCTS) && OnCTS && stillOpen())
        OnCTS(this);
    if ((mask & evDSR) && OnDSR && stillOpen())
        OnDSR(this);
    if ((mask & evError) && OnError && stillOpen())
        OnError(this, errors);
    if ((mask & evRing) && OnRing && stillOpen())
        OnRing(this);
    if ((mask & evRlsd) && OnRLSD && stillOpen())
        OnRLSD(this);
    if ((mask & evRxChar) && count > 0 && stillOpen()) {
        if (OnRxChar)
            OnRxChar(this, count);
        if (stillOpen())
            emit bytesReady(count);
    }
    if ((mask & evRxFlag) && OnRxFlag && stillOpen() &&
        m_port->peek(m_port->bytesAvailable()).contains(char(m_evtChar)))
        OnRxFlag(this);
    if ((mask & evTxEmpty) && OnTxEmpty && stillOpen())
        OnTxEmpty(this);
}

bool TCustomComm32::deviceGone() const
{
#ifdef Q_OS_LINUX
    // Qt reports a full transmit queue (EAGAIN) and a spurious empty read with the same error
    // codes as a vanished device; only the descriptor can tell them apart.
    pollfd p{int(m_port->handle()), POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0)
        return errno != EINTR;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

void TCustomComm32::onPortError(int error)
{
    const auto e = static_cast<QSerialPort::SerialPortError>(error);
    switch (e) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError: // no modem lines: the port works on
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (m_lost || !m_port)
            return;
        if (deviceGone()) {
            // Qt's text then is whatever failed last, often nothing to do with the device.
            markLost(tr("The device stopped answering or was unplugged"));
            return;
        }
        if (e != QSerialPort::WriteError)
            return; // the device is there: Qt retries the read or the write by itself
        break;
    default:
        break;
    }
    m_lastPortError = error;
    postEvents(evError);
}

void TCustomComm32::markLost(const QString &reason)
{
    // Qt 6.4 reports a hung-up device as read errors in a flood and leaves it open. From the
    // first one on the component counts as closed, so that nobody waits for a transmit queue
    // that will never empty; the close itself and the report follow from the event loop,
    // outside Qt's own signal.
    if (m_lost)
        return;
    m_lost = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, reason] {
            if (generation == m_generation)
                deviceLost(reason);
        },
        Qt::QueuedConnection);
}

void TCustomComm32::deviceLost(const QString &reason)
{
    Close();
    if (OnDeviceLost)
        OnDeviceLost(this, reason);
}

} // namespace kvx
