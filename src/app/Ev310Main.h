#pragma once

// The main window "KVX310 Evaluation Kit": the port and its connection, the live status of the
// chip and the three motors, and the motion commands. Owns the board session (serial port,
// board link, poll table, scheduler and its poll timer), which the register editor and the
// graphic display are given at creation; those windows and the warning dialog are attached
// after it so that it can show and close them. User-interface thread only.

#include "controls/Hint95.h"
#include "session/BoardSession.h"
#include "settings/PortCatalog.h"
#include "settings/ProgramSettings.h"

#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QStatusBar;

namespace kvx {

class TFormAdvanced;
class WindowRecording;
class AttachServer;
class TFormGraphics;
class TFormTraffic;
class TFormWarning;
class THint95;
class TLuLedLittle;
class TSpinEdit;

struct MotorGroup
{
    QGroupBox *Grp = nullptr;
    TSpinEdit *EditXTarget = nullptr;
    TSpinEdit *EditVTarget = nullptr;
    TSpinEdit *EditVMin = nullptr;
    TSpinEdit *EditVMax = nullptr;
    TSpinEdit *EditAMax = nullptr;
    TSpinEdit *EditVActual = nullptr;
    QLabel *LblXTarget = nullptr;
    QLabel *LblVTarget = nullptr;
    QLabel *LblVMin = nullptr;
    QLabel *LblVMax = nullptr;
    QLabel *LblAMax = nullptr;
    QLabel *LblEVact = nullptr;
    QLabel *LblMode = nullptr;
    QComboBox *CbRampMode = nullptr;
    QPushButton *BtnStop = nullptr;
    QPushButton *BtnGo = nullptr;
    QLabel *StaticXAct = nullptr;
    QLabel *StaticVAct = nullptr;
    QLabel *StaticAAct = nullptr;
    QLabel *StaticVTarget = nullptr;
};

class TFormMain : public QWidget
{
    Q_OBJECT

public:
    // `settingsPath` is the INI file; by default "Eval310.ini" beside the program file, or in
    // the user's configuration folder where the program's folder may not be written.
    explicit TFormMain(const QString &settingsPath = {}, QWidget *parent = nullptr);
    ~TFormMain() override;

    // The windows created after this one.
    void attachWindows(TFormAdvanced *advanced, TFormGraphics *graphics, TFormWarning *warning,
                       TFormTraffic *traffic = nullptr);

    // Controls; all of them lie on the client area, which scrolls when the window is smaller.
    QScrollArea *ScrollBox = nullptr;
    QWidget *Client = nullptr;
    QGroupBox *GrpCOM = nullptr;
    QComboBox *ComboCOM = nullptr;
    QPushButton *BtnOpen = nullptr;
    QPushButton *BtnClose = nullptr;
    QLabel *StaticInfo1 = nullptr;
    QLabel *StaticInfo2 = nullptr;
    QGroupBox *GrpMore = nullptr;
    QPushButton *BtnCmd310 = nullptr;
    QPushButton *BtnGraphics = nullptr;
    QPushButton *BtnTraffic = nullptr;
    QPushButton *BtnPorts = nullptr;
    QCheckBox *CheckSlow = nullptr;
    QPushButton *BtnKVX620 = nullptr;
    QPushButton *BtnRecord = nullptr;
    QLabel *LblRecord = nullptr; // the recording's time and size while it runs
    QGroupBox *GrpStatus = nullptr;
    std::array<TLuLedLittle *, 8> StatusLeds{}; // by status bit
    std::array<MotorGroup, 3> Motors{};
    QGroupBox *GrpAll = nullptr;
    QPushButton *BtnStopAll = nullptr;
    QPushButton *BtnGoAll = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    // The balloon hints of every window of the program.
    THint95 *Hint95 = nullptr;

    QString BaseTitle;

    // The connection and the poll cycle, shared with the other windows.
    [[nodiscard]] BoardSession &session() { return m_session; }

    [[nodiscard]] QString settingsPath() const { return m_settings.path(); }

    // Handlers.
    void BtnOpenClick();
    void BtnCloseClick();
    void BtnCmd310Click();
    void BtnGraphicsClick();
    void BtnTrafficClick();
    // The "Ports" dialog; OK writes [Ports], which the next "&Open" reads.
    void BtnPortsClick();
    // Starts a recording of the poll cycle into a CSV file, or stops the one running.
    void BtnRecordClick();
    [[nodiscard]] WindowRecording &recording() { return *m_recording; }
    // Where the command-line tool finds this window while it holds a port.
    [[nodiscard]] AttachServer &attachServer() { return *m_attach; }
    // Where the "Ports" dialog finds serial devices; the system's by default.
    void setDeviceSource(DeviceSource source) { m_deviceSource = std::move(source); }
    void BtnKVX620Click() {}
    // Motion commands; the clicked button (or list) tells the motor.
    void BtnGo1Click(QObject *sender);
    void BtnStop1Click(QObject *sender);
    void BtnGoAllClick();
    void BtnStopAllClick();
    // One handler for the three motors' lists, told apart by the sender.
    void CbRampMode1Change(QObject *sender);
    // Every hint: at most 200 pixels wide, shown for 5 seconds.
    void Hint95ShowHint(QString &hint, bool &canShow, THintInfo &info);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void FormClose();
    void buildInterface();
    void buildMotorGroup(int m);
    void wireSession();
    void setConnectedControls(bool open);
    void showStatus(const QString &first, const QString &second);
    // What the link knows of the board, in the two status lines.
    void showBoardState(BoardState state);
    void showStatusBits(std::uint8_t status);
    void showIdentified(BoardVariant variant);
    // No board known: the plain caption, no "Use Slow SPI", no status bits.
    void showNoBoard();
    void onDeviceLost(const QString &reason);
    void closeConnection();
    // The recording ends with what it holds; `why` when it ended by itself.
    void stopRecording(const QString &why = {});
    void showRecording();
    // After the port opened: the tool may attach to this window from now on.
    void listenForTool();
    // Empty when the command went out whole; else why it stopped before its writes, and what
    // of it was written.
    [[nodiscard]] QString goMotor(int motor);
    // Tells the user of the motors whose Go stopped; `stopped` holds goMotor's answers.
    void reportGoStopped(const std::array<QString, kMotorCount> &stopped);
    void stopMotor(int motor);
    [[nodiscard]] bool confirmLowAcceleration(int minimum);
    [[nodiscard]] int motorOf(QObject *sender) const;
    [[nodiscard]] QString openFailureDetail() const;

    BoardSession m_session;
    std::unique_ptr<AttachServer> m_attach;
    std::unique_ptr<WindowRecording> m_recording;
    std::array<QLabel *, PollTable::kRowCount> m_rowFields{}; // the live value shown of each row
    ProgramSettings m_settings;
    TFormAdvanced *m_advanced = nullptr;
    TFormGraphics *m_graphics = nullptr;
    TFormTraffic *m_traffic = nullptr;
    DeviceSource m_deviceSource;
    TFormWarning *m_warning = nullptr;
    bool m_closing = false;
};

} // namespace kvx
