#pragma once

// The "Global Parameters" page of the register editor: the common registers. The read-only
// telegram words and the six reference switches as last polled, the register chosen in the
// radio group with its editors in " New Value " and its contents in " Actual Values ", and the
// composed telegram with its send button. It composes into the window's one shared telegram,
// like a motor page. User-interface thread only.

#include "chip/Datagram.h"
#include "editor/TelegramGroup.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace kvx {

class HexKeyFilter;
class PollTable;
class TLuLedLittle;
class TSpinEdit;

class TGlobalPage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kItemCount = 4;
    // The flags of the global parameter register, in the order "Copy" ticks them.
    static constexpr int kFlagCount = 9;

    // `telegram` is the window's ComposedTelegram, shared by every register page.
    TGlobalPage(Datagram &telegram, HexKeyFilter &keys, QWidget *parent = nullptr);

    [[nodiscard]] int selectedItem() const;
    void selectItem(int item);

    // Handlers: register selection, any of the 14 editors changed, "&Copy".
    void RGGlobalRegsClick();
    void EditSPICPChange(QObject *sender);
    void BtnCopyGlobalClick();
    void UpdateEnabledEditors();

    // The field decoders the poll cycle calls with a reply's data bytes.
    void ShowSPICoverPosLen(const DataBytes &data);
    void ShowRefSwitches(const DataBytes &data);
    void ShowGlobalParameters(const DataBytes &data);

    // A poll reply of `row`: the common registers' decoders take it, and their display fields
    // show it while the register editor is shown.
    void showPollReply(const PollTable &table, int row, const DataBytes &data, bool editorShown);

    // Shows whether the last "&Send SPI Telegram" got an answer.
    void showSendAnswered(bool answered);

    QGroupBox *GrpGlobalRO = nullptr;
    QLabel *StaticSPILow = nullptr;
    QLabel *StaticSPIHigh = nullptr;
    QGroupBox *GrpRefSw = nullptr;
    // Left 1, Right 1, Left 2, Right 2, Left 3, Right 3.
    TLuLedLittle *LedL1 = nullptr, *LedR1 = nullptr, *LedL2 = nullptr, *LedR2 = nullptr,
                 *LedL3 = nullptr, *LedR3 = nullptr;

    QGroupBox *GrpRegGlobal = nullptr;
    QGroupBox *RGGlobalRegs = nullptr;
    std::array<QRadioButton *, kItemCount> RGGlobalRegsItems{};
    QGroupBox *GrpGlobalNew = nullptr;
    TSpinEdit *EditSPICP = nullptr;
    TSpinEdit *EditSPICL = nullptr;
    QLineEdit *EditSPICT = nullptr;
    TSpinEdit *EditClkDiv = nullptr;
    QLabel *LblClkDiv = nullptr;
    TSpinEdit *EditLSMD = nullptr;
    QLabel *LblLSMD = nullptr;
    // REFMUX, M1R_REF, SPI_CS, SPI_CLK, PoPH, PoFD, PoDAC, csComInd, SPI_CONTINUOS_UPD.
    std::array<QCheckBox *, kFlagCount> Flags{};
    QToolButton *BtnCopyGlobal = nullptr;
    QGroupBox *GrpGlobalAct = nullptr;
    QLabel *StaticSPICP = nullptr;
    QLabel *StaticSPICL = nullptr;
    QLabel *StaticSPICT = nullptr;
    QLabel *StaticClkDiv = nullptr;
    QLabel *StaticLSMD = nullptr;
    // In the order of Flags.
    std::array<TLuLedLittle *, kFlagCount> FlagLeds{};

    QGroupBox *GrpSPIGlobal = nullptr;
    TelegramFields StaticSPIG{};
    QPushButton *BtnSendGlobal = nullptr;
    QLabel *LblNoAnswer = nullptr;

signals:
    void sendClicked();

private:
    void buildReadOnly();
    void buildRegisters(HexKeyFilter &keys);
    void buildTelegram();
    void showTelegram(bool withAddress);
    // The data bits of register item `item` from its editors; the address is left alone.
    void compose(int item);

    Datagram &m_telegram;
};

} // namespace kvx
