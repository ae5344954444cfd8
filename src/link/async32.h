#pragma once

// The serial-port component: one RS-232 device opened by name with its line settings, event
// notifications on the user-interface thread, non-blocking writes that reach the system at
// once, reads of bytes already received, the transmit-queue count and purges of both queues.
// TCustomComm32 holds all behaviour; TComm32 is the class the program uses. Built on Qt's
// serial port module and the native handle where Qt lacks something. Lives on, and must only
// be used from, the thread that owns it (the user-interface thread).

#include "link/ByteTransport.h"
#include "link/PortName.h"

#include <QFlags>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QSerialPort;
class QTimer;

namespace kvx {

enum class TBaudRate
{
    cbr110,
    cbr300,
    cbr600,
    cbr1200,
    cbr2400,
    cbr4800,
    cbr9600,
    cbr14400,
    cbr19200,
    cbr38400,
    cbr56000,
    cbr57600,
    cbr115200,
    cbr128000,
    cbr256000,
};
[[nodiscard]] int baudRateValue(TBaudRate rate);

enum class TParity
{
    paNone,
    paOdd,
    paEven,
    paMark,
    paSpace,
};
enum class TStopbits
{
    sb10,
    sb15,
    sb20,
};
enum class TDatabits
{
    da4,
    da5,
    da6,
    da7,
    da8,
};

enum TComm32Option : unsigned
{
    osParityCheck = 0x01,
    osDsrSensitivity = 0x02,
    osIgnoreXOff = 0x04,
    osErrorChar = 0x08,
    osNullStrip = 0x10,
};
Q_DECLARE_FLAGS(TComm32Options, TComm32Option)

enum class TFlowControl
{
    fcNone,
    fcCTS,
    fcDTR,
    fcSoftware,
    fcDefault,
    fcRTSToggle,
};

// Event bits, as the device reports them.
enum TC32EventType : unsigned
{
    evRxChar = 0x01,
    evRxFlag = 0x02,
    evTxEmpty = 0x04,
    evCTS = 0x08,
    evDSR = 0x10,
    evRlsd = 0x20,
    evBreak = 0x40,
    evError = 0x80,
    evRing = 0x100,
};
Q_DECLARE_FLAGS(TC32EventState, TC32EventType)
inline constexpr unsigned kAllEvents = 0x1FF;

using TC32NotifyEvent = std::function<void(QObject *sender)>;
using TC32RxCharEvent = std::function<void(QObject *sender, int count)>;
using TC32ErrorEvent = std::function<void(QObject *sender, int errors)>;
using TC32OpenEvent = std::function<void(QObject *sender, int providerSubType, int error)>;
using TC32LostEvent = std::function<void(QObject *sender, const QString &reason)>;

class TCustomComm32 : public ByteTransport
{
    Q_OBJECT

public:
    explicit TCustomComm32(QObject *parent = nullptr);
    ~TCustomComm32() override;

    // Line settings; setters take effect at once while the device is open.
    [[nodiscard]] QString DeviceName() const { return m_deviceName; }
    void setDeviceName(const QString &name) { m_deviceName = name; }
    [[nodiscard]] TBaudRate BaudRate() const { return m_baudRate; }
    void setBaudRate(TBaudRate rate);
    [[nodiscard]] TParity Parity() const { return m_parity; }
    void setParity(TParity parity);
    [[nodiscard]] TStopbits Stopbits() const { return m_stopbits; }
    void setStopbits(TStopbits stopbits);
    [[nodiscard]] TDatabits Databits() const { return m_databits; }
    void setDatabits(TDatabits databits);
    [[nodiscard]] TC32EventState MonitorEvents() const { return m_monitorEvents; }
    void setMonitorEvents(TC32EventState events) { m_monitorEvents = events; }
    [[nodiscard]] int ReadBufferSize() const { return m_readBufferSize; }
    void setReadBufferSize(int size);
    [[nodiscard]] int WriteBufferSize() const { return m_writeBufferSize; }
    void setWriteBufferSize(int size) { m_writeBufferSize = size; }
    [[nodiscard]] TFlowControl FlowControl() const { return m_flowControl; }
    void setFlowControl(TFlowControl flow);
    [[nodiscard]] std::uint8_t XonChar() const { return m_xonChar; }
    void setXonChar(std::uint8_t c);
    [[nodiscard]] std::uint8_t XoffChar() const { return m_xoffChar; }
    void setXoffChar(std::uint8_t c);
    [[nodiscard]] std::uint8_t EvtChar() const { return m_evtChar; }
    void setEvtChar(std::uint8_t c) { m_evtChar = c; }
    [[nodiscard]] TComm32Options Options() const { return m_options; }
    void setOptions(TComm32Options options);
    [[nodiscard]] bool Simple() const { return m_simple; }
    void setSimple(bool simple) { m_simple = simple; }

    void Open();
    void Close();
    [[nodiscard]] bool Connected() const override;

    // Returns the bytes written at once, 0 while a previous write is still in progress, -1 on
    // failure. What is accepted is handed to the system before it returns.
    int WriteBytes(const void *buffer, int count) override;
    // Reads up to `count` bytes already received; -1 on failure.
    int ReadBytes(void *buffer, int count) override;
    // Bytes not yet on the wire: Qt's write buffer and the system's transmit queue.
    int OutQueueCount() override;
    // Bytes received and not yet read: Qt's buffer and what the system still holds.
    int inQueueCount() override;
    // Moves what the system holds into the buffer ReadBytes reads from, at once.
    void fetchInput() override;
    // Lets the system gather up to `bytes` received bytes (1..255) before it reports them, so
    // that a reply whose length is known wakes the program once rather than once per byte. It
    // only delays the notification: fetchInput and a smaller threshold still hand over what
    // has come. Where the system cannot be told, every byte is reported as before.
    void setReadThreshold(int bytes) override;
    // What the system gathers now before it reports received bytes; 1 where it cannot.
    [[nodiscard]] int readThreshold() const override { return m_readThreshold; }
    // How long one character takes on the line with the current settings, in microseconds.
    [[nodiscard]] double characterTime() const override;
    // False on a pseudo-terminal: its peer is a program, not a line.
    [[nodiscard]] bool pacedLine() const override { return !m_pseudoTerminal; }
    void PurgeInput() override;
    void PurgeOutput() override;
    [[nodiscard]] quint64 lineErrors() const override;

    // What the last Open tried, for the message that tells the user why it failed.
    [[nodiscard]] const PortTarget &lastTarget() const { return m_lastTarget; }
    [[nodiscard]] QString openedDevice() const { return m_openedDevice; }
    [[nodiscard]] int lastError() const { return m_lastError; }
    [[nodiscard]] QString lastErrorText() const { return m_lastErrorText; }

    // Handlers; OnDeviceLost is raised once when an open device disappears, after the
    // component has closed itself.
    TC32OpenEvent OnOpen;
    TC32NotifyEvent OnBreak;
    TC32NotifyEvent OnCTS;
    TC32NotifyEvent OnDSR;
    TC32ErrorEvent OnError;
    TC32NotifyEvent OnRing;
    TC32NotifyEvent OnRLSD;
    TC32RxCharEvent OnRxChar;
    TC32NotifyEvent OnRxFlag;
    TC32NotifyEvent OnTxEmpty;
    TC32LostEvent OnDeviceLost;

protected:
    // Runs the handlers of the events in `mask`, in the fixed order of the event table.
    void DispatchEvents(unsigned mask);

private:
    void postEvents(unsigned mask);
    void runPostedEvents();
    void onPortError(int error);
    [[nodiscard]] bool deviceGone() const;
    void markLost(const QString &reason);
    void deviceLost(const QString &reason);
    bool openTarget(QString *error, int *code);
    bool applyLineSettings();
    void applyFlowControl();
    void applyNativeOptions();
    void beginTransmission();
    void armRtsTimer();
    // Bytes not yet on the line: Qt's buffer and the system's transmit queue.
    [[nodiscard]] int unsent() const;
    void endTransmissionIfDrained();
    void failOpen(int code, const QString &text);

    QString m_deviceName = QStringLiteral("COM2");
    TBaudRate m_baudRate = TBaudRate::cbr9600;
    TParity m_parity = TParity::paNone;
    TStopbits m_stopbits = TStopbits::sb10;
    TDatabits m_databits = TDatabits::da8;
    TC32EventState m_monitorEvents = TC32EventState::fromInt(kAllEvents);
    int m_readBufferSize = 4096;
    int m_writeBufferSize = 2048;
    TFlowControl m_flowControl = TFlowControl::fcDefault;
    std::uint8_t m_xonChar = 17;
    std::uint8_t m_xoffChar = 19;
    std::uint8_t m_evtChar = 0;
    TComm32Options m_options;
    bool m_simple = false;

    PortTarget m_lastTarget;
    QString m_openedDevice;
    int m_lastError = 0;
    QString m_lastErrorText;

    QPointer<QSerialPort> m_port;
    quint64 m_generation = 0; // bumps at every open and close; stale posted events see it
    unsigned m_postedMask = 0;
    bool m_eventsPosted = false;
    bool m_lost = false; // the device vanished; it counts as closed until Close runs
    int m_lastPortError = 0;
    int m_readThreshold = 1;
    std::optional<std::array<std::uint32_t, 8>> m_savedRs485; // the driver's RS-485 settings
    bool m_setLowLatency = false; // the driver's low-latency flag was set by this open
    bool m_modemLines = true;     // false on devices without RTS/DTR, such as a pseudo-terminal
    bool m_pseudoTerminal = false;
    bool m_driverRtsToggle = false;            // the driver raises RTS around each transmission
    mutable bool m_errorCountsMissing = false; // the driver keeps no counts of damaged bytes
    bool m_rtsRaised = false;
    QTimer *m_rtsTimer = nullptr; // lowers RTS once the last byte has left
    QByteArray m_fetched;         // read by a look, fewer than the threshold; older than Qt's next
    QTimer *m_dispatchTimer = nullptr; // runs the gathered notifications; Close stops it
};

class TComm32 : public TCustomComm32
{
    Q_OBJECT

public:
    using TCustomComm32::TCustomComm32;
};

} // namespace kvx

Q_DECLARE_OPERATORS_FOR_FLAGS(kvx::TComm32Options)
Q_DECLARE_OPERATORS_FOR_FLAGS(kvx::TC32EventState)
