#pragma once

// One motor page of the register editor ("Motor 1" to "Motor 3"): the register chosen in the
// radio group, its fields edited in " New Value ", the registers as last polled in " Actual
// Values " and " Read Only Values ", and the composed telegram with its send button. Written
// once and made three times; the page composes into the window's one shared telegram. Its
// items, fields and ranges all come from the register map. User-interface thread only.

#include "chip/Datagram.h"
#include "editor/MotorItems.h"
#include "editor/TelegramGroup.h"

#include <QWidget>

#include <array>
#include <vector>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace kvx {

class PollTable;
class TCheckedComboBinary;
class TLuLedLittle;
class TSpinEdit;

class TMotorPage : public QWidget
{
    Q_OBJECT

public:
    // `telegram` is the window's ComposedTelegram, shared by every register page.
    TMotorPage(int motor, Datagram &telegram, QWidget *parent = nullptr);

    [[nodiscard]] int motor() const { return m_motor; }
    [[nodiscard]] int selectedItem() const;
    void selectItem(int item);

    // Handlers: register selection (RGMot1Click), any editor or selector changed
    // (EditXTarg1Change), "&Copy" (BtnCopyMot1Click).
    void RGMotClick();
    void EditChange(QObject *sender);
    void BtnCopyClick();
    void UpdateEnabledEditors();

    // The field decoders the poll cycle calls with a reply's data bytes.
    void ShowAgtatAleatV0Thres(const DataBytes &data);
    void ShowPMulPDiv(const DataBytes &data);
    void ShowRefConfRampMode(const DataBytes &data);
    void ShowIMaskIFlags(const DataBytes &data);
    void ShowPulsdivRampdivMStepres(const DataBytes &data);

    // A poll reply of `row`: this motor's decoders take it, and its display fields show it
    // while the register editor is shown.
    void showPollReply(const PollTable &table, int row, const DataBytes &data, bool editorShown);

    // Shows whether the last "&Send SPI Telegram" got an answer.
    void showSendAnswered(bool answered);

    QGroupBox *RGMot = nullptr;
    std::array<QRadioButton *, kMotorItemCount> RGMotItems{};
    QGroupBox *GrpNew = nullptr;
    QGroupBox *GrpAct = nullptr;
    QGroupBox *GrpReadOnly = nullptr;
    QGroupBox *GrpTelegram = nullptr;
    QToolButton *BtnCopy = nullptr;
    QPushButton *BtnSend = nullptr;
    TelegramFields StaticSPI{};
    QLabel *StaticAActual = nullptr;
    QLabel *StaticXLatched = nullptr;
    QLabel *LblNoAnswer = nullptr;
    TLuLedLittle *LedLP = nullptr;

signals:
    void sendClicked();

private:
    // One field of one item: its editor (a spin edit or a bit-flag selector; none for a
    // read-only field) and its display.
    struct Slot
    {
        const FieldDef *field = nullptr;
        TSpinEdit *spin = nullptr;
        TCheckedComboBinary *flags = nullptr;
        QLabel *display = nullptr;
    };

    void buildPage();
    void buildItemRow(int item);
    [[nodiscard]] std::vector<std::int64_t> values(int item) const;
    void recompose(int item);
    void showTelegram(bool withAddress);
    void showRegister(int item, const DataBytes &data);
    [[nodiscard]] QString name(const char *base) const;

    int m_motor;
    Datagram &m_telegram;
    std::array<std::vector<Slot>, kMotorItemCount> m_slots;
    // The display field of each of the motor's registers shown in one, by register index.
    std::array<QLabel *, motor::Count> m_registerFields{};
};

} // namespace kvx
