// The global parameter page as a user meets it without a board: what selecting, typing and
// ticking compose, which editors are enabled, what the decoders show and what "&Copy" loads;
// and the key filter of the window's hexadecimal fields. The page on a live board is
// tests/app's tst_rampage.

#include "common/TelegramText.h"
#include "controls/Dialogs.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"
#include "editor/Ev310Registers.h"
#include "editor/GlobalPage.h"
#include "editor/RamPage.h"
#include "session/BoardSession.h"

#include "chip/RegisterMap.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

using namespace kvx;

class TestGlobalPage : public QObject
{
    Q_OBJECT

private slots:
    void composing_data();
    void composing();
    void decodersAndCopy();
    void eachFlagAlone_data();
    void eachFlagAlone();
    void keyFilter_data();
    void keyFilter();

private:
    static QString telegram(const TGlobalPage *page);
};

QString TestGlobalPage::telegram(const TGlobalPage *page)
{
    return test::telegramText(page->StaticSPIG);
}

void TestGlobalPage::composing_data()
{
    QTest::addColumn<int>("item");
    // "Name=value" for a spin edit, "Name" for a check box to tick, "EditSPICT:keys" typed.
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QString>("telegram");
    QTest::addColumn<int>("enabled"); // editors and labels enabled
    QTest::newRow("Get Low/High Word") << 2 << QStringList{"EditSPICP=5"} << "60 00 00 00" << 0;
    QTest::newRow("cover position and length")
        << 0 << QStringList{"EditSPICP=63", "EditSPICL=31"} << "64 00 3F 1F" << 2;
    QTest::newRow("every global parameter")
        << 3 << QStringList{"EditClkDiv=255", "EditLSMD=3", "CbSPICS",     "CbSPICLK",
                            "CbPoPH",         "CbPoFD",     "CbPoDAC",     "CbCsCI",
                            "CbMot1rRef",     "CbRefMux",   "CbSPIContUpd"}
        << "7E 31 FF FF" << 13;
    QTest::newRow("no global parameter") << 3 << QStringList{} << "7E 00 00 00" << 13;
    QTest::newRow("cover telegram typed")
        << 1 << QStringList{"EditSPICT:a1b2c3"} << "66 A1 B2 C3" << 1;
    // An unfilled position spoils its own pair only.
    QTest::newRow("cover telegram half typed")
        << 1 << QStringList{"EditSPICT:__b2c3"} << "66 00 B2 C3" << 1;
    QTest::newRow("another item's editor leaves the telegram")
        << 0 << QStringList{"EditClkDiv=9"} << "64 00 00 00" << 2;
}

void TestGlobalPage::composing()
{
    QFETCH(int, item);
    QFETCH(QStringList, input);
    QFETCH(QString, telegram);
    QFETCH(int, enabled);
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage::Global);
    TGlobalPage *p = form.GlobalPage;
    p->selectItem(item);
    for (const QString &step : input) {
        if (step.startsWith(QLatin1String("EditSPICT:"))) {
            // Typed over "ffffff"; "_" deletes a position, leaving it blank, and steps on.
            p->EditSPICT->setText(QStringLiteral("ffffff"));
            p->EditSPICT->setCursorPosition(0);
            for (QChar c : step.mid(10)) {
                if (c == QLatin1Char('_')) {
                    QTest::keyClick(p->EditSPICT, Qt::Key_Delete);
                    QTest::keyClick(p->EditSPICT, Qt::Key_Right);
                } else {
                    QTest::keyClick(p->EditSPICT, c.toLatin1());
                }
            }
        } else if (step.contains(QLatin1Char('='))) {
            const QStringList nv = step.split(QLatin1Char('='));
            p->findChild<TSpinEdit *>(nv[0])->setValue(nv[1].toInt());
        } else {
            p->findChild<QCheckBox *>(step)->setChecked(true);
        }
    }
    QCOMPARE(this->telegram(p), telegram);
    QCOMPARE(form.ComposedTelegram.address, std::uint8_t(telegram.left(2).toUInt(nullptr, 16)));
    QCOMPARE(form.ComposedTelegram.data.value(), telegram.mid(3).remove(' ').toUInt(nullptr, 16));
    int on = 0;
    for (QWidget *w : p->GrpGlobalNew->findChildren<QWidget *>()) {
        if (w->property("Tag").isValid() && w->isEnabled())
            ++on;
    }
    QCOMPARE(on, enabled);
}

void TestGlobalPage::decodersAndCopy()
{
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage::Global);
    TGlobalPage *p = form.GlobalPage;
    p->selectItem(3);
    p->EditClkDiv->setValue(7);
    p->Flags[0]->setChecked(true);
    p->EditSPICT->setText(QStringLiteral("123456"));
    // Before the first poll: numbers 0, the cover telegram "000000", every box unticked.
    p->BtnCopyGlobalClick();
    QCOMPARE(p->EditClkDiv->value(), 0);
    QCOMPARE(p->EditSPICT->text(), QStringLiteral("000000"));
    for (const QCheckBox *box : p->Flags)
        QVERIFY(!box->isChecked());

    // The decoders and fields as the poll cycle feeds them, the editor shown.
    form.show();
    PollScheduler &poll = session.scheduler();
    poll.showPollReply(PollTable::commonRow(common::GlobalParameters), {0, {0x31, 0xFF, 0xFF}});
    poll.showPollReply(PollTable::commonRow(common::RefSwitches), {0, {0x00, 0x00, 0x2A}});
    poll.showPollReply(PollTable::commonRow(common::SpiCoverPosLen), {0, {0x00, 0x3F, 0xFF}});
    poll.showPollReply(PollTable::commonRow(common::SpiCoverTelegram), {0, {0xA1, 0xB2, 0xC3}});
    poll.showPollReply(PollTable::commonRow(common::SpiTelegramHigh), {0, {0x0A, 0x00, 0x01}});
    for (const TLuLedLittle *led : p->FlagLeds)
        QCOMPARE(led->LedColor(), TLedLittleColor::lcCyan);
    QCOMPARE(p->StaticClkDiv->text(), QStringLiteral("255"));
    QCOMPARE(p->StaticLSMD->text(), QStringLiteral("3"));
    for (const TLuLedLittle *led : {p->LedL1, p->LedL2, p->LedL3})
        QCOMPARE(led->LedColor(), TLedLittleColor::lcCyan);
    for (const TLuLedLittle *led : {p->LedR1, p->LedR2, p->LedR3})
        QCOMPARE(led->LedColor(), TLedLittleColor::lcDarkCyan);
    QCOMPARE(p->StaticSPICP->text(), QStringLiteral("63"));
    QCOMPARE(p->StaticSPICL->text(), QStringLiteral("31"));
    QCOMPARE(p->StaticSPICT->text(), QStringLiteral("A1B2C3"));
    QCOMPARE(p->StaticSPIHigh->text(), QStringLiteral("0A0001"));

    p->BtnCopyGlobalClick();
    for (const QCheckBox *box : p->Flags)
        QVERIFY(box->isChecked());
    QCOMPARE(p->EditClkDiv->value(), 255);
    QCOMPARE(p->EditSPICP->value(), 63);
    QCOMPARE(p->EditSPICT->text(), QStringLiteral("a1b2c3")); // the mask lowers letters
    QCOMPARE(telegram(p), QStringLiteral("7E 31 FF FF"));     // the copy composes
}

void TestGlobalPage::eachFlagAlone_data()
{
    // Each flag of GLOBAL_PARAMETERS (common index 15) by itself, its bit written by hand from
    // the protocol: a flag read into another's lamp or box, or composed into another's bit,
    // shows in its row (all flags set at once would hide a swap).
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("led");
    QTest::addColumn<uint>("bits");
    QTest::newRow("SPI_CS") << "CbSPICS"
                            << "LedSPICS" << 0x000004u;
    QTest::newRow("SPI_CLK") << "CbSPICLK"
                             << "LedSPICLK" << 0x000008u;
    QTest::newRow("PoPH") << "CbPoPH"
                          << "LedPoPH" << 0x000010u;
    QTest::newRow("PoFD") << "CbPoFD"
                          << "LedPoFD" << 0x000020u;
    QTest::newRow("PoDAC") << "CbPoDAC"
                           << "LedPoDAC" << 0x000040u;
    QTest::newRow("csComInd") << "CbCsCI"
                              << "LedCsCI" << 0x000080u;
    QTest::newRow("SPI_CONTINUOS_UPD") << "CbSPIContUpd"
                                       << "LedSPIContUpd" << 0x010000u;
    QTest::newRow("REFMUX") << "CbRefMux"
                            << "LedRefMux" << 0x100000u;
    QTest::newRow("M1R_REF") << "CbMot1rRef"
                             << "LedMot1rRef" << 0x200000u;
}

void TestGlobalPage::eachFlagAlone()
{
    QFETCH(QString, box);
    QFETCH(QString, led);
    QFETCH(uint, bits);
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage::Global);
    form.show();
    TGlobalPage *p = form.GlobalPage;
    p->selectItem(3);
    session.scheduler().showPollReply(PollTable::commonRow(common::GlobalParameters),
                                      {0, DataBytes::fromValue(bits)});
    for (const TLuLedLittle *l : p->FlagLeds) {
        QCOMPARE(l->LedColor(),
                 l->objectName() == led ? TLedLittleColor::lcCyan : TLedLittleColor::lcDarkCyan);
    }
    p->BtnCopyGlobalClick();
    for (const QCheckBox *b : p->Flags)
        QCOMPARE(b->isChecked(), b->objectName() == box);
    QCOMPARE(form.ComposedTelegram, Datagram::make(0x7E, bits));
}

void TestGlobalPage::keyFilter_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("beeps");
    QTest::newRow("cover telegram") << "EditSPICT"
                                    << "g -Bf12c"
                                    << "bf12c0" << 3;
    QTest::newRow("SPI Direct") << "EditSPIMan1"
                                << "-Bg"
                                << "b0" << 2;
    QTest::newRow("RAM cell") << "cell"
                              << "g B-9"
                              << "b9" << 3;
}

void TestGlobalPage::keyFilter()
{
    QFETCH(QString, field);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(int, beeps);
    int beeped = 0;
    Dialogs::setBeepHandler([&beeped] { ++beeped; });
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage::Ram);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLineEdit *edit = form.findChild<QLineEdit *>(field);
    if (field == QLatin1String("cell")) {
        QTableWidget *grid = form.RamPage->StringGridHex;
        grid->setCurrentCell(2, 3); // the editor opens in the current cell
        edit = grid->findChild<QLineEdit *>();
    } else if (field == QLatin1String("EditSPICT")) {
        form.setActivePage(EditorPage::Global);
        form.GlobalPage->selectItem(1);
    }
    QVERIFY(edit);
    edit->setFocus();
    edit->setCursorPosition(0);
    QTest::keyClicks(edit, keys);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(beeped, beeps);
    Dialogs::setBeepHandler({});
}

QTEST_MAIN(TestGlobalPage)
#include "tst_globalpage.moc"
