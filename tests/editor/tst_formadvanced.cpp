// The register editor window: its pages and their captions, the shown flag and active page it
// reports to the board session, and the motor pages as a user meets them: what selecting,
// typing and "&Copy" compose into the telegram fields, which editors are enabled, and the
// editors' ranges. The composing rules alone are tst_motoritems'; the pages on a live board
// are tests/app's.

#include "chip/RegisterMap.h"
#include "common/ScaledRun.h"
#include "common/TelegramText.h"
#include "common/WindowFit.h"
#include "controls/CheckComboBin.h"
#include "controls/ScreenFit.h"
#include "controls/SpinEdit.h"
#include "editor/BoardSnapshot.h"
#include "editor/Ev310Registers.h"
#include "editor/GlobalPage.h"
#include "editor/MotorPage.h"
#include "session/BoardSession.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <tuple>

using namespace kvx;

class TestFormAdvanced : public QObject
{
    Q_OBJECT

private slots:
    void captions_data();
    void captions();
    void shownFlag();
    void composing_data();
    void composing();
    void typedValueIsBoundedWhenTheFocusLeaves();
    void accessKeySendsTheBoundedValue_data();
    void accessKeySendsTheBoundedValue();
    void copyLoadsWhatIsShown();
    void switchingPagesComposesTheActivePage();
    void pollRepliesReachTheFieldsWhileShownTheDecodersAlways();
    void keysMoveThroughThePages_data();
    void fixedUnlessTheScreenCannotHoldIt_data();
    void fixedUnlessTheScreenCannotHoldIt();
    void keysMoveThroughThePages();

private:
    // The four telegram fields of `page` as "AA BB CC DD".
    static QString telegram(const TMotorPage *page);
};

QString TestFormAdvanced::telegram(const TMotorPage *page)
{
    return test::telegramText(page->StaticSPI);
}

void TestFormAdvanced::captions_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("bank"); // whose registers the poll cycle takes in; -1: none
    QTest::newRow("Motor 1") << 0 << "Motor 1"
                             << "KVX310 Register Set (Motor 1)" << 0;
    QTest::newRow("Motor 2") << 1 << "Motor 2"
                             << "KVX310 Register Set (Motor 2)" << 1;
    QTest::newRow("Motor 3") << 2 << "Motor 3"
                             << "KVX310 Register Set (Motor 3)" << 2;
    QTest::newRow("Global") << 3 << "Global Parameters"
                            << "KVX310 Register Set (Global Parameters)" << 3;
    QTest::newRow("RAM") << 4 << "RAM Table"
                         << "KVX310 Register Set (Configuration & Microstep RAM)" << -1;
}

void TestFormAdvanced::captions()
{
    QFETCH(int, page);
    QFETCH(QString, tab);
    QFETCH(QString, caption);
    QFETCH(int, bank);
    BoardSession session;
    TFormAdvanced form(session);
    QCOMPARE(form.activePage(), EditorPage::Motor1);
    QCOMPARE(form.windowTitle(), QStringLiteral("KVX310 Register Set (Motor 1)"));
    form.setActivePage(EditorPage(page));
    QCOMPARE(form.PageControl->tabText(page), tab);
    QCOMPARE(form.windowTitle(), caption);
    QCOMPARE(session.scheduler().editorBank().value_or(-1), bank);
}

void TestFormAdvanced::shownFlag()
{
    BoardSession session;
    TFormAdvanced form(session);
    QVERIFY(!form.EditorShown());
    form.show();
    QVERIFY(form.EditorShown());
    QVERIFY(session.scheduler().editorShown());
    form.close();
    QVERIFY(!form.EditorShown());
    QVERIFY(!session.scheduler().editorShown());
    QVERIFY(form.isHidden());
}

void TestFormAdvanced::composing_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    // "Name=value" set by the program, "Name:text" typed by the user, in this order.
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QString>("telegram");
    QTest::addColumn<QStringList>("enabled");
    QTest::newRow("X_LATCHED on page 2: no editor")
        << 1 << 13 << QStringList{} << "3C 00 00 00" << QStringList{};
    QTest::newRow("V_TARGET -1 on page 3")
        << 2 << 4 << QStringList{"EditVTarg3:-1"} << "48 00 0F FF" << QStringList{"EditVTarg3"};
    QTest::newRow("P_MUL 200, P_DIV 5") << 0 << 8 << QStringList{"EditPMul1=200", "EditPDiv1=5"}
                                        << "12 00 C8 05" << QStringList{"EditPMul1", "EditPDiv1"};
    QTest::newRow("7, 3, 5, 2047")
        << 0 << 7 << QStringList{"EditAgtat1=7", "EditAleat1=3", "EditV01=5", "EditThres1=2047"}
        << "10 73 57 FF" << QStringList{"EditAgtat1", "EditAleat1", "EditV01", "EditThres1"};
    QTest::newRow("3000 being typed into V_MAX")
        << 0 << 3 << QStringList{"EditVMax1:3000"} << "06 00 0B B8" << QStringList{"EditVMax1"};
    QTest::newRow("only \"-\" in X_TARGET reads as its minimum")
        << 0 << 0 << QStringList{"EditXTarg1:-"} << "00 80 00 00" << QStringList{"EditXTarg1"};
    QTest::newRow("another item's editor leaves the telegram")
        << 0 << 0 << QStringList{"EditVMax1=100"} << "00 00 00 00" << QStringList{"EditXTarg1"};
    QTest::newRow("REF_CONF selector and ramp mode on page 2")
        << 1 << 9 << QStringList{"CbRefConf2=2", "EditRampMode2=3"} << "34 00 04 03"
        << QStringList{"CbRefConf2", "EditRampMode2"};
}

void TestFormAdvanced::composing()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QStringList, input);
    QFETCH(QString, telegram);
    QFETCH(QStringList, enabled);
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage(page));
    TMotorPage *p = form.MotorPages[std::size_t(page)];
    p->selectItem(item);
    for (const QString &step : input) {
        const qsizetype at = step.indexOf(QRegularExpression(QStringLiteral("[=:]")));
        const QString name = step.left(at);
        const QString value = step.mid(at + 1);
        if (auto *combo = p->findChild<TCheckedComboBinary *>(name)) {
            combo->SetChecked(value.toInt(), true);
        } else if (auto *spin = p->findChild<TSpinEdit *>(name)) {
            if (step.at(at) == QLatin1Char('=')) {
                spin->setValue(value.toInt());
            } else {
                spin->findChild<QLineEdit *>()->selectAll();
                QTest::keyClicks(spin->findChild<QLineEdit *>(), value);
            }
        } else {
            QFAIL(qPrintable(QStringLiteral("no editor ") + name));
        }
    }
    QCOMPARE(this->telegram(p), telegram);
    QCOMPARE(test::telegramText(form.ComposedTelegram), telegram);
    QStringList on;
    for (QWidget *w : p->findChildren<QWidget *>()) {
        if ((qobject_cast<TSpinEdit *>(w) || qobject_cast<TCheckedComboBinary *>(w)) &&
            w->isEnabled())
            on << w->objectName();
    }
    on.sort();
    enabled.sort();
    QCOMPARE(on, enabled);
}

void TestFormAdvanced::typedValueIsBoundedWhenTheFocusLeaves()
{
    BoardSession session;
    TFormAdvanced form(session);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    TMotorPage *p = form.MotorPages[0];
    p->selectItem(3);
    auto *vMax = p->findChild<TSpinEdit *>(QStringLiteral("EditVMax1"));
    vMax->setFocus();
    vMax->findChild<QLineEdit *>()->selectAll();
    QTest::keyClicks(vMax->findChild<QLineEdit *>(), QStringLiteral("3000"));
    QCOMPARE(telegram(p), QStringLiteral("06 00 0B B8"));
    QVERIFY(vMax->hasFocus());
    p->RGMotItems[0]->setFocus(); // the focus leaves
    QCOMPARE(vMax->text(), QStringLiteral("2047"));
    QCOMPARE(telegram(p), QStringLiteral("06 00 07 FF"));
    // Motor 3's velocities stop at -2047; the other motors' at -2048.
    for (const auto &[page, name, lowest] :
         {std::tuple{2, "EditVTarg3", -2047}, {2, "EditVAct3", -2047}, {1, "EditVAct2", -2048}}) {
        auto *spin =
            form.MotorPages[std::size_t(page)]->findChild<TSpinEdit *>(QLatin1String(name));
        spin->setValue(-5000);
        QCOMPARE(spin->value(), lowest);
    }
}

void TestFormAdvanced::accessKeySendsTheBoundedValue_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("typed");
    // Each of these used to go out wrapped to the field's width (X_TARGET 9999999 as
    // -6777217) when Alt+S was pressed with the focus still in the field.
    QTest::newRow("X_TARGET") << 0 << 0 << "EditXTarg1"
                              << "9999999";
    QTest::newRow("V_MIN") << 0 << 2 << "EditVMin1"
                           << "-5";
    QTest::newRow("P_MUL") << 0 << 8 << "EditPMul1"
                           << "100";
    QTest::newRow("DX_REF_TOLERANCE") << 0 << 12 << "EditTolerance1"
                                      << "5000";
    QTest::newRow("V_TARGET, motor 3") << 2 << 4 << "EditVTarg3"
                                       << "-2048";
    QTest::newRow("SPI_COVER_POS") << 3 << 0 << "EditSPICP"
                                   << "100";
}

void TestFormAdvanced::accessKeySendsTheBoundedValue()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, editor);
    QFETCH(QString, typed);
    BoardSession session;
    TFormAdvanced form(session);
    form.setActivePage(EditorPage(page));
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QWidget *p = form.Pages[std::size_t(page)];
    if (page < 3)
        form.MotorPages[std::size_t(page)]->selectItem(item);
    else
        form.GlobalPage->selectItem(item);
    auto *spin = p->findChild<TSpinEdit *>(editor);
    auto type = [&] {
        spin->setFocus();
        spin->findChild<QLineEdit *>()->selectAll();
        QTest::keyClicks(spin->findChild<QLineEdit *>(), typed);
    };
    // What the field holds once the focus has left it is what must go out.
    type();
    const Datagram wrapped = form.ComposedTelegram;
    p->setFocus();
    const Datagram bounded = form.ComposedTelegram;
    QVERIFY(wrapped != bounded);
    spin->setValue(0);
    type();
    QCOMPARE(form.ComposedTelegram, wrapped);
    // An access key clicks its button a moment later, the focus left where it was.
    QTest::keyClick(spin->findChild<QLineEdit *>(), Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(form.ComposedTelegram, bounded);
    QVERIFY(spin->hasFocus());
}

void TestFormAdvanced::copyLoadsWhatIsShown()
{
    BoardSession session;
    TFormAdvanced form(session);
    TMotorPage *p = form.MotorPages[0];
    auto *pMul = p->findChild<TSpinEdit *>(QStringLiteral("EditPMul1"));
    auto *refConf = p->findChild<TCheckedComboBinary *>(QStringLiteral("CBRefConf1"));
    pMul->setValue(200);
    refConf->SetChecked(3, true);
    // Before the first poll every field shows "0": P_MUL comes into its range.
    p->BtnCopyClick();
    QCOMPARE(pMul->value(), 128);
    QCOMPARE(refConf->BitText(), QStringLiteral("0000"));
    p->findChild<QLabel *>(QStringLiteral("StaticRefConf1"))->setText(QStringLiteral("0101"));
    p->findChild<QLabel *>(QStringLiteral("StaticXTarg1"))->setText(QStringLiteral("-5"));
    p->selectItem(9);
    p->BtnCopyClick();
    QCOMPARE(refConf->BitText(), QStringLiteral("0101"));
    QCOMPARE(p->findChild<TSpinEdit *>(QStringLiteral("EditXTarg1"))->value(), -5);
    QCOMPARE(telegram(p), QStringLiteral("14 00 05 00")); // the copy composes

    // The interrupt mask (bits 15..8) and flags (bits 7..0) as read, each into its own box: a
    // pattern that differs between them and within each shows a swap.
    session.scheduler().showPollReply(PollTable::motorRow(0, motor::Interrupts),
                                      {0, {0x00, 0x81, 0x06}});
    p->selectItem(10);
    p->BtnCopyClick();
    QCOMPARE(p->findChild<TCheckedComboBinary *>(QStringLiteral("CbIMask1"))->BitText(),
             QStringLiteral("10000001"));
    QCOMPARE(p->findChild<TCheckedComboBinary *>(QStringLiteral("CbIFlags1"))->BitText(),
             QStringLiteral("00000110"));
    QCOMPARE(telegram(p), QStringLiteral("16 00 81 06"));
}

void TestFormAdvanced::switchingPagesComposesTheActivePage()
{
    BoardSession session;
    TFormAdvanced form(session);
    // Only the active page has composed: page 2 keeps "FF" until it is first visited.
    QCOMPARE(telegram(form.MotorPages[0]), QStringLiteral("00 00 00 00"));
    QCOMPARE(telegram(form.MotorPages[1]), QStringLiteral("FF FF FF FF"));
    form.setActivePage(EditorPage::Motor2);
    QCOMPARE(telegram(form.MotorPages[1]), QStringLiteral("20 00 00 00"));
    form.MotorPages[1]->selectItem(6);
    form.MotorPages[1]->findChild<TSpinEdit *>(QStringLiteral("EditAMax2"))->setValue(9);
    form.setActivePage(EditorPage::Motor1);
    QCOMPARE(form.ComposedTelegram.address, std::uint8_t(0x00));
    form.setActivePage(EditorPage::Ram); // keeps the telegram as it is
    QCOMPARE(form.ComposedTelegram.address, std::uint8_t(0x00));
    form.setActivePage(EditorPage::Motor2);
    QCOMPARE(form.ComposedTelegram, (Datagram{0x2C, {0x00, 0x00, 0x09}}));
}

void TestFormAdvanced::pollRepliesReachTheFieldsWhileShownTheDecodersAlways()
{
    BoardSession session;
    PollScheduler &poll = session.scheduler();
    QLabel *vMin = nullptr;
    QLabel *pMul = nullptr;
    {
        TFormAdvanced form(session);
        vMin = form.MotorPages[0]->findChild<QLabel *>(QStringLiteral("StaticVMin1"));
        pMul = form.MotorPages[0]->findChild<QLabel *>(QStringLiteral("StaticPMul1"));
        // Row 9 answered after the editor was closed between request and reply: its decoder
        // still runs; the editor's plain fields are written only while it is shown.
        poll.showPollReply(9, {0, {0x00, 0xBE, 0x09}});
        poll.showPollReply(2, {0, {0x00, 0x00, 0x2A}});
        QCOMPARE(pMul->text(), QStringLiteral("190"));
        QCOMPARE(vMin->text(), QStringLiteral("0"));
        form.show();
        poll.showPollReply(2, {0, {0x00, 0x00, 0x2A}});
        QCOMPARE(vMin->text(), QStringLiteral("42"));
    }
    // The window has gone: the poll cycle goes on without it.
    poll.showPollReply(2, {0, {0x00, 0x00, 0x2B}});
}

void TestFormAdvanced::keysMoveThroughThePages_data()
{
    QTest::addColumn<int>("page");      // the page at the start
    QTest::addColumn<QString>("focus"); // where the focus is when the keys come
    // The scroll area around the pages took the focus when the window opened and kept it when a
    // tab was clicked: the keys never reached the tab widget.
    QTest::newRow("the window as it opens") << 0 << QString();
    QTest::newRow("a tab clicked") << 2 << "tab bar";
    QTest::newRow("a field of the page") << 0 << "EditXTarg1";
    QTest::newRow("the register list") << 1 << "RGMot2Item0";
    QTest::newRow("a corner button") << 3 << "BtnSaveBoard";
    QTest::newRow("the RAM grid, which takes Ctrl+Tab itself") << 4 << "StringGridHex";
}

void TestFormAdvanced::keysMoveThroughThePages()
{
    QFETCH(int, page);
    QFETCH(QString, focus);
    BoardSession session;
    TFormAdvanced form(session);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTabBar *tabs = form.PageControl->tabBar();
    if (focus == QLatin1String("tab bar")) {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
    } else {
        form.setActivePage(EditorPage(page));
        if (!focus.isEmpty()) {
            auto *w = form.findChild<QWidget *>(focus);
            QVERIFY2(w, qPrintable(focus));
            w->setFocus();
        }
    }
    QCOMPARE(form.activePage(), EditorPage(page));
    const struct
    {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int step;
    } keys[] = {
        {Qt::Key_Tab, Qt::ControlModifier, 1},
        {Qt::Key_Tab, Qt::ControlModifier, 1},
        {Qt::Key_PageDown, Qt::ControlModifier, 1},
        {Qt::Key_Tab, Qt::ControlModifier, 1},
        {Qt::Key_Tab, Qt::ControlModifier, 1}, // round past the last
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, -1},
        {Qt::Key_PageUp, Qt::ControlModifier, -1},
        {Qt::Key_PageUp, Qt::ControlModifier, -1},
    };
    for (const auto &k : keys) {
        // Where the user's key goes: to the control with the focus.
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &form;
        QTest::keyClick(target, k.key, k.modifiers);
        page = (page + k.step + TFormAdvanced::kPageCount) % TFormAdvanced::kPageCount;
        QCOMPARE(form.activePage(), EditorPage(page));
        QCOMPARE(form.windowTitle().contains(form.PageControl->tabText(page)),
                 page != int(EditorPage::Ram));
    }
}

void TestFormAdvanced::fixedUnlessTheScreenCannotHoldIt_data()
{
    QTest::addColumn<double>("scale");
    // It could be dragged smaller at 100 %.
    QTest::newRow("100 %") << 1.0;
    QTest::newRow("200 %: 960 x 540 hold it") << 2.0;
    QTest::newRow("250 %: 768 x 432 do not") << 2.5;
}

void TestFormAdvanced::fixedUnlessTheScreenCannotHoldIt()
{
    QFETCH(double, scale);
    if (scaledRunScale() == 0) {
        KVX_RUN_SCALED(scale);
        return;
    }
    BoardSession session;
    TFormAdvanced form(session);
    keepInsideScreen(&form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    checkFitted(&form, QSize(863, 490),
                {form.MotorPages[0]->BtnSend, form.BoardSnapshot,
                 static_cast<QWidget *>(form.MotorPages[0]->RGMot)});
    QCOMPARE(form.size() == QSize(863, 490), scale <= 2.0);
}

QTEST_MAIN(TestFormAdvanced)
#include "tst_formadvanced.moc"
