#include "editor/GlobalPage.h"

#include "chip/RegisterMap.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"
#include "controls/Widgets.h"
#include "editor/HexKeyFilter.h"
#include "editor/TelegramGroup.h"
#include "session/PollTable.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace kvx {

namespace {

constexpr int kCoverItem = 0;
constexpr int kCoverTelegramItem = 1;
constexpr int kGetWordItem = 2;
constexpr int kGlobalItem = 3;

struct ItemDef
{
    const char *text;
    int commonIndex;
};
constexpr ItemDef kItems[TGlobalPage::kItemCount] = {
    {"SPI_COVER_POS / SPI_COVER LEN", common::SpiCoverPosLen},
    {"SPI_COVER_TELEGRAM", common::SpiCoverTelegram},
    {"Get Low/High Word", common::SpiTelegramLow},
    {"Stepper Motor Global Parameter Reg.", common::GlobalParameters},
};

// The flags of the global parameter register, in the order "Copy" ticks them: the check box
// and its place in " New Value ", the LED and its place in " Actual Values ", and the field.
struct FlagDef
{
    const char *box;
    const char *boxText;
    QPoint boxAt;
    const char *led;
    const char *ledText;
    QPoint ledAt;
    int field;
};
const FlagDef kFlags[TGlobalPage::kFlagCount] = {
    {"CbRefMux", "REFMUX", {88, 210}, "LedRefMux", "REFMUX", {80, 208}, global::RefMux},
    {"CbMot1rRef", "M1R_REF", {8, 210}, "LedMot1rRef", "M1R_REF", {8, 208}, global::M1RRef},
    {"CbSPICS", "SPI_CS", {8, 138}, "LedSPICS", "SPI_CS", {8, 138}, global::SpiCs},
    {"CbSPICLK", "SPI_CLK", {8, 162}, "LedSPICLK", "SPI_CLK", {8, 162}, global::SpiClk},
    {"CbPoPH", "PoPH", {8, 186}, "LedPoPH", "PoPH", {8, 186}, global::PoPH},
    {"CbPoFD", "PoFD", {88, 138}, "LedPoFD", "PoFD", {80, 138}, global::PoFD},
    {"CbPoDAC", "PoDAC", {88, 162}, "LedPoDAC", "PoDAC", {80, 162}, global::PoDAC},
    {"CbCsCI", "csComInd", {88, 186}, "LedCsCI", "csComInd", {80, 186}, global::CsComInd},
    // The check box and its LED have always been spelled differently.
    {"CbSPIContUpd",
     "SPI_CONTINUOS_UPD",
     {8, 234},
     "LedSPIContUpd",
     "SPI_CONTINOUS_UPD",
     {8, 232},
     global::SpiContinuousUpd},
};

TLedLittleColor bitColor(std::uint32_t data, int bit)
{
    return bitLedColor((data >> bit) & 1);
}

TLuLedLittle *led(QWidget *parent, const char *name, QPoint at)
{
    auto *l = new TLuLedLittle(parent);
    l->setObjectName(QLatin1String(name));
    l->move(at);
    return l;
}

} // namespace

TGlobalPage::TGlobalPage(Datagram &telegram, HexKeyFilter &keys, QWidget *parent)
    : QWidget(parent)
    , m_telegram(telegram)
{
    setObjectName(QStringLiteral("TabGlobal"));
    buildReadOnly();
    buildRegisters(keys);
    buildTelegram();
    UpdateEnabledEditors();
}

void TGlobalPage::buildReadOnly()
{
    GrpGlobalRO = group(this, QStringLiteral("GrpGlobalRO"), tr(" Read Only "), {0, 8, 233, 313},
                        tr("The actual contents of the read only registers are displayed here."));
    caption(GrpGlobalRO, QStringLiteral("LblSPILow"), QStringLiteral("SPI_TELEGRAM_LOW_WORD"),
            {8, 24});
    StaticSPILow =
        sunkenField(GrpGlobalRO, QStringLiteral("StaticSPILow"), {176, 24, 49, 17}, "000000");
    caption(GrpGlobalRO, QStringLiteral("LblSPIHigh"), QStringLiteral("SPI_TELEGRAM_HIGH_WORD"),
            {8, 56});
    StaticSPIHigh =
        sunkenField(GrpGlobalRO, QStringLiteral("StaticSPIHigh"), {176, 56, 49, 17}, "000000");

    GrpRefSw = group(GrpGlobalRO, QStringLiteral("GrpRefSw"), tr(" Reference Switches "),
                     {8, 144, 217, 153});
    TLuLedLittle **leds[3][2] = {{&LedL1, &LedR1}, {&LedL2, &LedR2}, {&LedL3, &LedR3}};
    for (int m = 0; m < 3; ++m) {
        const int y = 32 + 40 * m;
        // "Left 3 " has always carried its blank.
        const QString left =
            m == 2 ? QStringLiteral("Left 3 ") : QStringLiteral("Left %1").arg(m + 1);
        caption(GrpRefSw, QStringLiteral("LblL%1").arg(m + 1), left, {16, y});
        *leds[m][0] = led(GrpRefSw, qPrintable(QStringLiteral("LedL%1").arg(m + 1)), {56, y});
        caption(GrpRefSw, QStringLiteral("LblR%1").arg(m + 1),
                QStringLiteral("Right %1").arg(m + 1), {120, y});
        *leds[m][1] = led(GrpRefSw, qPrintable(QStringLiteral("LedR%1").arg(m + 1)), {168, y});
    }
}

void TGlobalPage::buildRegisters(HexKeyFilter &keys)
{
    GrpRegGlobal =
        group(this, QStringLiteral("GrpRegGlobal"), tr(" Read / Write "), {240, 8, 609, 329});
    RGGlobalRegs =
        group(GrpRegGlobal, QStringLiteral("RGGlobalRegs"), tr(" Register "), {8, 16, 217, 137},
              tr("Choose a register to be changed here, and then fill in the "
                 "corresponding value."));
    for (int item = 0; item < kItemCount; ++item) {
        auto *b = new QRadioButton(QLatin1String(kItems[item].text), RGGlobalRegs);
        b->setObjectName(QStringLiteral("RGGlobalRegsItem%1").arg(item));
        b->setGeometry(8, 18 + item * 28, 201, 20);
        RGGlobalRegsItems[std::size_t(item)] = b;
    }
    // Selected without composing: the telegram belongs to whichever page becomes active.
    RGGlobalRegsItems[0]->setChecked(true);
    for (QRadioButton *b : RGGlobalRegsItems) {
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                RGGlobalRegsClick();
        });
    }

    GrpGlobalNew = group(GrpRegGlobal, QStringLiteral("GrpGlobalNew"), tr(" New Value "),
                         {232, 16, 161, 297}, tr("Fill in the value here."));
    auto spin = [this](const char *name, int maximum, QRect r, int tag) {
        auto *s = new TSpinEdit(GrpGlobalNew);
        s->setObjectName(QLatin1String(name));
        s->setRange(0, maximum);
        s->setValue(0);
        s->setGeometry(r);
        setItemTag(s, tag);
        connect(s, &TSpinEdit::valueEdited, this, [this, s] { EditSPICPChange(s); });
        return s;
    };
    EditSPICP = spin("EditSPICP", 63, {8, 18, 57, 21}, kCoverItem);
    EditSPICL = spin("EditSPICL", 31, {72, 18, 57, 21}, kCoverItem);

    EditSPICT = new QLineEdit(GrpGlobalNew);
    EditSPICT->setObjectName(QStringLiteral("EditSPICT"));
    EditSPICT->setInputMask(QStringLiteral("<NNNNNN"));
    EditSPICT->setText(QStringLiteral("000000"));
    EditSPICT->setGeometry(8, 46, 65, 21);
    setItemTag(EditSPICT, kCoverTelegramItem);
    keys.watch(EditSPICT);
    connect(EditSPICT, &QLineEdit::textChanged, this, [this] { EditSPICPChange(EditSPICT); });

    EditClkDiv = spin("EditClkDiv", 255, {8, 106, 57, 21}, kGlobalItem);
    LblClkDiv = caption(GrpGlobalNew, QStringLiteral("LblClkDiv"), QStringLiteral("SPI_CLK_DIV"),
                        {72, 109});
    setItemTag(LblClkDiv, kGlobalItem);
    for (int i = 0; i < kFlagCount; ++i) {
        const FlagDef &f = kFlags[i];
        auto *box = new QCheckBox(QLatin1String(f.boxText), GrpGlobalNew);
        box->setObjectName(QLatin1String(f.box));
        box->move(f.boxAt);
        box->adjustSize();
        setItemTag(box, kGlobalItem);
        connect(box, &QCheckBox::toggled, this, [this, box] { EditSPICPChange(box); });
        Flags[std::size_t(i)] = box;
    }
    EditLSMD = spin("EditLSMD", 3, {8, 262, 41, 21}, kGlobalItem);
    LblLSMD = caption(GrpGlobalNew, QStringLiteral("LblLSMD"), QStringLiteral("LSMD"), {56, 265});
    setItemTag(LblLSMD, kGlobalItem);

    BtnCopyGlobal = copyButton(GrpRegGlobal, QStringLiteral("BtnCopyGlobal"), {400, 128, 41, 49},
                               tr("Click here to copy the actual contents of the registers into "
                                  "the corresponding parameter fields."));
    connect(BtnCopyGlobal, &QToolButton::clicked, this, [this] { BtnCopyGlobalClick(); });

    GrpGlobalAct =
        group(GrpRegGlobal, QStringLiteral("GrpGlobalAct"), tr(" Actual Values "),
              {448, 16, 153, 297}, tr("The actual contents of the registers are displayed here."));
    StaticSPICP = sunkenField(GrpGlobalAct, QStringLiteral("StaticSPICP"), {8, 24, 28, 17});
    StaticSPICL = sunkenField(GrpGlobalAct, QStringLiteral("StaticSPICL"), {40, 24, 28, 17});
    StaticSPICT =
        sunkenField(GrpGlobalAct, QStringLiteral("StaticSPICT"), {8, 48, 57, 17}, "000000");
    StaticClkDiv = sunkenField(GrpGlobalAct, QStringLiteral("StaticClkDiv"), {8, 106, 41, 17});
    for (int i = 0; i < kFlagCount; ++i) {
        const FlagDef &f = kFlags[i];
        FlagLeds[std::size_t(i)] = led(GrpGlobalAct, f.led, f.ledAt);
        caption(GrpGlobalAct, QLatin1String("Lbl") + QLatin1String(f.led + 3),
                QLatin1String(f.ledText), f.ledAt + QPoint(20, 1));
    }
    StaticLSMD = sunkenField(GrpGlobalAct, QStringLiteral("StaticLSMD"), {8, 266, 41, 17});
    // Each stands on the row of its editor, in the other group.
    for (const auto &[field, name] : {std::pair{StaticSPICP, "SPI_COVER_POS"},
                                      {StaticSPICL, "SPI_COVER_LEN"},
                                      {StaticSPICT, "SPI_COVER_TELEGRAM"},
                                      {StaticClkDiv, "SPI_CLK_DIV"},
                                      {StaticLSMD, "LSMD"}})
        field->setAccessibleName(QLatin1String(name) + tr(" (actual value)"));
}

void TGlobalPage::buildTelegram()
{
    GrpSPIGlobal =
        group(this, QStringLiteral("GrpSPIGlobal"), tr(" SPI Telegram "), {240, 344, 609, 97},
              tr("The necessary SPI telegram to change the selected register is "
                 "displayed here."));
    StaticSPIG =
        telegramFields(GrpSPIGlobal, QStringLiteral("StaticSPI"), QStringLiteral("G"), {32, 40});
    BtnSendGlobal = button(GrpSPIGlobal, QStringLiteral("BtnSendGlobal"), tr("&Send SPI Telegram"),
                           {296, 24, 217, 57},
                           tr("Click here to send the SPI telegram to change the selected "
                              "register."));
    connect(BtnSendGlobal, &QPushButton::clicked, this, &TGlobalPage::sendClicked);
    // Under the telegram, in free space.
    LblNoAnswer = noAnswerNote(GrpSPIGlobal, QStringLiteral("LblNoAnswerGlobal"), {32, 70});
}

int TGlobalPage::selectedItem() const
{
    return checkedItem(RGGlobalRegsItems);
}

void TGlobalPage::selectItem(int item)
{
    if (item >= 0 && item < kItemCount)
        RGGlobalRegsItems[std::size_t(item)]->setChecked(true);
}

void TGlobalPage::showTelegram(bool withAddress)
{
    kvx::showTelegram(StaticSPIG, m_telegram, withAddress);
}

void TGlobalPage::RGGlobalRegsClick()
{
    const int item = selectedItem();
    m_telegram.address = commonWriteAddress(kItems[item].commonIndex);
    if (item == kGetWordItem)
        m_telegram.data = DataBytes{};
    else
        compose(item);
    showTelegram(true);
    UpdateEnabledEditors();
}

void TGlobalPage::EditSPICPChange(QObject *sender)
{
    const int item = selectedItem();
    if (tagOf(sender) == item)
        compose(item);
    showTelegram(false);
}

void TGlobalPage::compose(int item)
{
    // Each register is composed by the register map, so that a value typed beyond its range
    // (before the focus brings it back) cannot spill into a neighbouring field.
    std::uint32_t data = 0;
    if (item == kCoverItem) {
        const std::int64_t values[] = {EditSPICP->Value(), EditSPICL->Value()};
        data = pack(*commonRegister(common::SpiCoverPosLen), values);
    } else if (item == kCoverTelegramItem) {
        // The text as shown: an unfilled position stays in its place as a blank, so it spoils
        // only its own pair.
        data = packHexText(EditSPICT->displayText().toStdString());
    } else if (item == kGlobalItem) {
        std::vector<std::int64_t> values(commonRegister(common::GlobalParameters)->fields.size());
        values[global::Lsmd] = EditLSMD->Value();
        values[global::SpiClkDiv] = EditClkDiv->Value();
        for (int i = 0; i < kFlagCount; ++i)
            values[std::size_t(kFlags[i].field)] = Flags[std::size_t(i)]->isChecked() ? 1 : 0;
        data = pack(*commonRegister(common::GlobalParameters), values);
    } else {
        return; // the read of a word carries no data of its own
    }
    m_telegram.data = DataBytes::fromValue(data);
}

void TGlobalPage::UpdateEnabledEditors()
{
    const int item = selectedItem();
    for (QWidget *w : GrpGlobalNew->findChildren<QWidget *>()) {
        if (tagOf(w) >= 0)
            w->setEnabled(tagOf(w) == item);
    }
}

void TGlobalPage::BtnCopyGlobalClick()
{
    // Each setting composes again, so the telegram shows the copied register afterwards.
    EditSPICP->setValue(StaticSPICP->text().toInt());
    EditSPICL->setValue(StaticSPICL->text().toInt());
    EditSPICT->setText(StaticSPICT->text());
    EditClkDiv->setValue(StaticClkDiv->text().toInt());
    EditLSMD->setValue(StaticLSMD->text().toInt());
    // An LED not yet written (black) counts as clear.
    for (int i = 0; i < kFlagCount; ++i) {
        Flags[std::size_t(i)]->setChecked(FlagLeds[std::size_t(i)]->LedColor() ==
                                          TLedLittleColor::lcCyan);
    }
}

void TGlobalPage::ShowSPICoverPosLen(const DataBytes &data)
{
    const std::vector<std::int64_t> v =
        unpack(*commonRegister(common::SpiCoverPosLen), data.value());
    showText(StaticSPICP, QString::number(v[field::CoverPosLen_Pos]));
    showText(StaticSPICL, QString::number(v[field::CoverPosLen_Len]));
}

void TGlobalPage::ShowRefSwitches(const DataBytes &data)
{
    const std::uint32_t d = data.value();
    TLuLedLittle *left[3] = {LedL1, LedL2, LedL3};
    TLuLedLittle *right[3] = {LedR1, LedR2, LedR3};
    for (int m = 0; m < 3; ++m) {
        left[m]->setLedColor(bitColor(d, refSwitchLeftBit(m)));
        right[m]->setLedColor(bitColor(d, refSwitchRightBit(m)));
    }
}

void TGlobalPage::ShowGlobalParameters(const DataBytes &data)
{
    const RegisterDef &reg = *commonRegister(common::GlobalParameters);
    const std::vector<std::int64_t> v = unpack(reg, data.value());
    showText(StaticClkDiv, QString::number(v[global::SpiClkDiv]));
    showText(StaticLSMD, QString::number(v[global::Lsmd]));
    for (int i = 0; i < kFlagCount; ++i) {
        FlagLeds[std::size_t(i)]->setLedColor(bitLedColor(v[std::size_t(kFlags[i].field)] != 0));
    }
}

void TGlobalPage::showPollReply(const PollTable &table, int row, const DataBytes &data,
                                bool editorShown)
{
    if (row == PollTable::commonRow(common::SpiCoverPosLen))
        ShowSPICoverPosLen(data);
    else if (row == PollTable::commonRow(common::RefSwitches))
        ShowRefSwitches(data);
    else if (row == PollTable::commonRow(common::GlobalParameters))
        ShowGlobalParameters(data);
    QLabel *field = row == PollTable::commonRow(common::SpiTelegramLow)     ? StaticSPILow
                    : row == PollTable::commonRow(common::SpiTelegramHigh)  ? StaticSPIHigh
                    : row == PollTable::commonRow(common::SpiCoverTelegram) ? StaticSPICT
                                                                            : nullptr;
    if (field && editorShown)
        showText(field, table.text(row, data));
}

void TGlobalPage::showSendAnswered(bool answered)
{
    LblNoAnswer->setVisible(!answered);
}

} // namespace kvx
