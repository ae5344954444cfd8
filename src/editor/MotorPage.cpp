#include "editor/MotorPage.h"

#include "chip/ValueFormat.h"
#include "controls/CheckComboBin.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"
#include "controls/Widgets.h"
#include "editor/TelegramGroup.h"
#include "session/PollTable.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <algorithm>

namespace kvx {

namespace {

// The rows of the items inside " New Value " and " Actual Values ".
constexpr int kRowY[kMotorItemCount] = {16,  40,  64,  88,  112, 136, 160,
                                        184, 208, 232, 256, 280, 304, 336};

// Control names of the Motor 1 page without their final digit, by item and field; none where
// the field has no editor or display of its own (LP shows in the LED, X_LATCHED in the read
// only group).
struct ItemNames
{
    const char *editors[4];
    const char *displays[4];
};
constexpr ItemNames kNames[kMotorItemCount] = {
    {{"EditXTarg"}, {"StaticXTarg"}},
    {{"EditXAct"}, {"StaticXAct"}},
    {{"EditVMin"}, {"StaticVMin"}},
    {{"EditVMax"}, {"StaticVMax"}},
    {{"EditVTarg"}, {"StaticVTarg"}},
    {{"EditVAct"}, {"StaticVAct"}},
    {{"EditAMax"}, {"StaticAMax"}},
    {{"EditAgtat", "EditAleat", "EditV0", "EditThres"},
     {"StaticAgtat", "StaticAleat", "StaticV0", "StaticThres"}},
    {{"EditPMul", "EditPDiv"}, {"StaticPMul", "StaticPDiv"}},
    {{nullptr, "CbRefConf", "EditRampMode"}, {nullptr, "StaticRefConf", "StaticRampMode"}},
    {{"CbIMask", "CbIFlags"}, {"StaticIMask", "StaticIFlags"}},
    {{"EditPulsdiv", "EditRampdiv", "EditMStepres"},
     {"StaticPulsdiv", "StaticRampdiv", "StaticMStepres"}},
    {{"EditTolerance"}, {"StaticTolerance"}},
    {{}, {}},
};

// The items whose register is decoded field by field.
constexpr int kCurrentsItem = 7;
constexpr int kPMulPDivItem = 8;
constexpr int kRefConfItem = 9;
constexpr int kInterruptsItem = 10;
constexpr int kDividersItem = 11;
constexpr int kXLatchedItem = 13;

// Room for an editor: a bit-flag selector, or a spin edit by the digits of its range.
int editorWidth(const FieldDef &f)
{
    if (f.kind == FieldKind::FlagSet)
        return 89;
    const int largest = std::max(std::abs(f.minimum), std::abs(f.maximum));
    return largest >= 100000 ? 89 : largest >= 1000 ? 57 : 41;
}

} // namespace

TMotorPage::TMotorPage(int motor, Datagram &telegram, QWidget *parent)
    : QWidget(parent)
    , m_motor(motor)
    , m_telegram(telegram)
{
    setObjectName(name("TabMot"));
    buildPage();
    nameFieldsByTheirCaptions(this, tr("Motor %1").arg(m_motor + 1));
    UpdateEnabledEditors();
    // The registers shown in one display field.
    for (int item : {0, 1, 2, 3, 4, 5, 6, 12})
        m_registerFields[std::size_t(motorItemRegister(item))] =
            m_slots[std::size_t(item)].front().display;
    m_registerFields[motor::AActual] = StaticAActual;
    m_registerFields[motor::XLatched] = StaticXLatched;
}

QString TMotorPage::name(const char *base) const
{
    return withMotor(base, m_motor);
}

void TMotorPage::buildPage()
{
    RGMot = group(this, name("RGMot"), tr(" Register "), {0, 8, 297, 361},
                  tr("Choose a register to be changed here, then fill in the corresponding "
                     "value."));
    for (int item = 0; item < kMotorItemCount; ++item) {
        auto *b = new QRadioButton(QString::fromUtf8(motorItemDef(item).name.data(),
                                                     qsizetype(motorItemDef(item).name.size())),
                                   RGMot);
        b->setObjectName(name("RGMot") + QStringLiteral("Item%1").arg(item));
        b->setGeometry(8, 14 + item * 24, 281, 20);
        RGMotItems[std::size_t(item)] = b;
    }
    // Selected without composing: the telegram belongs to whichever page becomes active.
    RGMotItems[0]->setChecked(true);
    for (QRadioButton *b : RGMotItems) {
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                RGMotClick();
        });
    }

    GrpNew = group(this, name("GrpMot") + QStringLiteral("New"), tr(" New Value "),
                   {304, 8, 217, 361}, tr("Fill in the register value here."));
    GrpAct =
        group(this, name("GrpMot") + QStringLiteral("Act"), tr(" Actual Values "),
              {576, 8, 161, 361}, tr("The actual values of the registers are displayed here."));
    for (int item = 0; item < kMotorItemCount; ++item)
        buildItemRow(item);

    BtnCopy = copyButton(this, name("BtnCopyMot"), {528, 160, 41, 49},
                         tr("Click here to copy the actual values into the corresponding "
                            "parameter fields."));
    connect(BtnCopy, &QToolButton::clicked, this, [this] { BtnCopyClick(); });

    GrpReadOnly = group(this, name("GrpMot") + QStringLiteral("ReadOnly"), tr(" Read Only Values "),
                        {0, 376, 297, 81},
                        tr("The actual values of the read only registers are displayed here."));
    auto *lblA = new QLabel(QStringLiteral("A_ACTUAL"), GrpReadOnly);
    lblA->move(16, 26);
    lblA->adjustSize();
    StaticAActual = sunkenField(GrpReadOnly, name("StaticAActual"), {112, 24, 89, 17});
    auto *lblX = new QLabel(QStringLiteral("X_LATCHED"), GrpReadOnly);
    lblX->move(16, 50);
    lblX->adjustSize();
    StaticXLatched = sunkenField(GrpReadOnly, name("StaticXLatched"), {112, 48, 89, 17});

    // The Motor 2 page has always spelled it so.
    GrpTelegram = group(this, name("GrpMot") + QStringLiteral("SPI"), tr(" SPI Telegram "),
                        {304, 376, 545, 81},
                        m_motor == 1 ? tr("The necessary SPI telegramme to change the selected "
                                          "register is displayed here.")
                                     : tr("The necessary SPI telegram to change the selected "
                                          "register is displayed here."));
    StaticSPI = telegramFields(GrpTelegram, QStringLiteral("StaticSPI"),
                               QString::number(m_motor + 1), {16, 32});
    auto *send = new QPushButton(tr("&Send SPI Telegram"), GrpTelegram);
    send->setObjectName(name("BtnSendMot"));
    send->setGeometry(160, 28, 129, 33);
    setHint(send, tr("Click here to send the SPI telegram to change the selected register."));
    connect(send, &QPushButton::clicked, this, &TMotorPage::sendClicked);
    BtnSend = send;
    // Beside the button, in free space.
    LblNoAnswer = noAnswerNote(GrpTelegram, name("LblNoAnswer"), {304, 38});
}

void TMotorPage::buildItemRow(int item)
{
    const RegisterDef &reg = motorItemDef(item);
    const ItemNames &names = kNames[item];
    const int y = kRowY[item];
    std::vector<Slot> &fields = m_slots[std::size_t(item)];
    int editorX = 8;
    int displayCount = 0;
    for (const char *d : names.displays)
        displayCount += d ? 1 : 0;
    const int displayWidth = displayCount > 0 ? (145 - 4 * (displayCount - 1)) / displayCount : 0;
    int displayX = 8;
    for (std::size_t i = 0; i < reg.fields.size() && i < 4; ++i) {
        Slot slot;
        slot.field = &reg.fields[i];
        if (const char *e = names.editors[i]) {
            const int w = editorWidth(*slot.field);
            if (slot.field->kind == FieldKind::FlagSet) {
                auto *c = new TCheckedComboBinary(GrpNew);
                // Page 1's REF_CONF selector has always been named with a capital B.
                c->setObjectName(m_motor == 0 && item == kRefConfItem ? QStringLiteral("CBRefConf1")
                                                                      : name(e));
                QStringList items;
                for (std::string_view flag : slot.field->flagNames)
                    items << QString::fromLatin1(flag.data(), qsizetype(flag.size()));
                c->setItems(items);
                c->setDropDownLines(item == kRefConfItem ? 5 : 9);
                c->setNotFocusColor(Qt::white);
                c->setGeometry(editorX, y, w, 21);
                connect(c, &TCheckedComboBinary::OnChange, this, [this, c] { EditChange(c); });
                slot.flags = c;
            } else {
                auto *s = new TSpinEdit(GrpNew);
                s->setObjectName(name(e));
                int minimum = slot.field->minimum;
                // Motor 3's velocity registers have always refused -2048.
                if (m_motor == 2 && (reg.index == motor::VTarget || reg.index == motor::VActual))
                    minimum = -2047;
                s->setRange(minimum, slot.field->maximum);
                s->setValue(slot.field->minimum > 0 ? slot.field->minimum : 0);
                s->setGeometry(editorX, y, w, 21);
                connect(s, &TSpinEdit::valueEdited, this, [this, s] { EditChange(s); });
                slot.spin = s;
            }
            QWidget *editor = slot.spin ? static_cast<QWidget *>(slot.spin) : slot.flags;
            setItemTag(editor, item);
            editorX += w + 4;
        }
        if (const char *d = names.displays[i]) {
            slot.display = sunkenField(GrpAct, name(d), {displayX, y + 2, displayWidth, 17});
            // No caption stands beside it: the register's row is named in another group.
            const std::string_view label = reg.fields.size() == 1 ? reg.name : slot.field->name;
            slot.display->setAccessibleName(
                QString::fromUtf8(label.data(), qsizetype(label.size())) +
                tr(" (Motor %1, actual value)").arg(m_motor + 1));
            displayX += displayWidth + 4;
        }
        fields.push_back(slot);
    }
    if (item == kXLatchedItem) {
        auto *hint = new QLabel(tr("Write 0 to reset"), GrpNew);
        hint->move(8, y + 3);
        hint->adjustSize();
        LedLP = new TLuLedLittle(GrpAct);
        LedLP->setObjectName(name("LedLP"));
        LedLP->move(8, y);
        auto *lp = new QLabel(QStringLiteral("LP"), GrpAct);
        lp->move(30, y + 2);
        lp->adjustSize();
    }
}

int TMotorPage::selectedItem() const
{
    return checkedItem(RGMotItems);
}

void TMotorPage::selectItem(int item)
{
    if (item >= 0 && item < kMotorItemCount)
        RGMotItems[std::size_t(item)]->setChecked(true);
}

std::vector<std::int64_t> TMotorPage::values(int item) const
{
    std::vector<std::int64_t> v;
    for (const Slot &s : m_slots[std::size_t(item)]) {
        if (s.spin)
            v.push_back(s.spin->Value()); // as typed: the focus brings it into range later
        else if (s.flags)
            v.push_back(BinToInt(s.flags->BitText()));
        else
            v.push_back(0);
    }
    return v;
}

void TMotorPage::recompose(int item)
{
    m_telegram.data = composeMotorItem(m_motor, item, values(item)).data;
}

void TMotorPage::showTelegram(bool withAddress)
{
    kvx::showTelegram(StaticSPI, m_telegram, withAddress);
}

void TMotorPage::RGMotClick()
{
    const int item = selectedItem();
    m_telegram = composeMotorItem(m_motor, item, values(item));
    showTelegram(true);
    UpdateEnabledEditors();
}

void TMotorPage::EditChange(QObject *sender)
{
    // Only the selected item's editors compose; the others are disabled anyway.
    if (tagOf(sender) == selectedItem())
        recompose(selectedItem());
    showTelegram(false);
}

void TMotorPage::UpdateEnabledEditors()
{
    const int selected = selectedItem();
    for (int item = 0; item < kMotorItemCount; ++item) {
        for (const Slot &s : m_slots[std::size_t(item)]) {
            if (s.spin)
                s.spin->setEnabled(item == selected);
            if (s.flags)
                s.flags->setEnabled(item == selected);
        }
    }
}

void TMotorPage::BtnCopyClick()
{
    // In the order of the fields, all but the ones read only; each setting composes again.
    auto copyNumbers = [this](std::initializer_list<int> items) {
        for (int item : items) {
            for (const Slot &s : m_slots[std::size_t(item)]) {
                if (s.spin && s.display)
                    s.spin->setValue(int(s.display->text().toLongLong()));
            }
        }
    };
    auto copyFlags = [this](int item) {
        for (const Slot &s : m_slots[std::size_t(item)]) {
            if (!s.flags || !s.display)
                continue;
            const std::uint32_t marks = copiedFlags(s.display->text(), s.field->width);
            for (int bit = 0; bit < s.field->width; ++bit)
                s.flags->SetChecked(bit, (marks >> bit) & 1);
        }
    };
    copyNumbers({0, 1, 2, 3, 4, 5, 6, kCurrentsItem, kPMulPDivItem});
    copyFlags(kRefConfItem);
    // The mask's and the flags' items alternate, bit by bit.
    const std::vector<Slot> &irq = m_slots[std::size_t(kInterruptsItem)];
    if (irq.size() == 2 && irq[0].flags && irq[1].flags) {
        const std::uint32_t mask = copiedFlags(irq[0].display->text(), irq[0].field->width);
        const std::uint32_t flags = copiedFlags(irq[1].display->text(), irq[1].field->width);
        for (int bit = 0; bit < irq[0].field->width; ++bit) {
            irq[0].flags->SetChecked(bit, (mask >> bit) & 1);
            irq[1].flags->SetChecked(bit, (flags >> bit) & 1);
        }
    }
    copyNumbers({kDividersItem, 12});
    for (const Slot &s : m_slots[std::size_t(kRefConfItem)]) {
        if (s.spin && s.display) // RAMP_MODE comes last
            s.spin->setValue(int(s.display->text().toLongLong()));
    }
}

void TMotorPage::showRegister(int item, const DataBytes &data)
{
    const QStringList texts = fieldTexts(motorItemDef(item), data);
    const std::vector<Slot> &fields = m_slots[std::size_t(item)];
    for (std::size_t i = 0; i < fields.size() && i < std::size_t(texts.size()); ++i) {
        if (fields[i].display)
            showText(fields[i].display, texts[qsizetype(i)]);
        else if (fields[i].field->kind == FieldKind::Flag && LedLP)
            LedLP->setLedColor(bitLedColor(texts[qsizetype(i)] == QLatin1String("1")));
    }
}

void TMotorPage::ShowAgtatAleatV0Thres(const DataBytes &data)
{
    showRegister(kCurrentsItem, data);
}
void TMotorPage::ShowPMulPDiv(const DataBytes &data)
{
    showRegister(kPMulPDivItem, data);
}
void TMotorPage::ShowRefConfRampMode(const DataBytes &data)
{
    showRegister(kRefConfItem, data);
}
void TMotorPage::ShowIMaskIFlags(const DataBytes &data)
{
    showRegister(kInterruptsItem, data);
}
void TMotorPage::ShowPulsdivRampdivMStepres(const DataBytes &data)
{
    showRegister(kDividersItem, data);
}

void TMotorPage::showPollReply(const PollTable &table, int row, const DataBytes &data,
                               bool editorShown)
{
    const int index = row - PollTable::motorRow(m_motor, 0);
    if (index < 0 || index >= motor::Count)
        return;
    switch (index) {
    case motor::Currents:
        ShowAgtatAleatV0Thres(data);
        break;
    case motor::PMulPDiv:
        ShowPMulPDiv(data);
        break;
    case motor::RefConfRampMode:
        ShowRefConfRampMode(data);
        break;
    case motor::Interrupts:
        ShowIMaskIFlags(data);
        break;
    case motor::Dividers:
        ShowPulsdivRampdivMStepres(data);
        break;
    default:
        break;
    }
    if (QLabel *field = m_registerFields[std::size_t(index)]; field && editorShown)
        showText(field, table.text(row, data));
}

void TMotorPage::showSendAnswered(bool answered)
{
    LblNoAnswer->setVisible(!answered);
}

} // namespace kvx
