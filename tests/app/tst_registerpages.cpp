// The motor pages of the register editor on the simulated board through the real poll path:
// the page's cycle runs while it is open, a register written with "&Send SPI Telegram" shows
// its new value in " Actual Values " and "&Copy" loads it, and a send that gets no answer says
// so on the page. The page without a board is tests/editor's.

#include "common/AppFixture.h"
#include "controls/SpinEdit.h"
#include "editor/MotorPage.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace kvx;
using namespace kvx::sim;

class TestRegisterPages : public QObject
{
    Q_OBJECT

private slots:
    void sentValueComesBackInTheCycle();
    void sendWithoutAnswerIsShown();
};

void TestRegisterPages::sentValueComesBackInTheCycle()
{
    AppFixture app;
    BoardOptions options;
    options.variant = Variant::Pentar;
    QVERIFY(app.startBoard(options).serving());
    QSet<int> polled;
    app.board().board().onFrame = [&](const FrameLogEntry &e) {
        if (e.request.size() == 5 && (e.request.at(1) & 1))
            polled << int(std::uint8_t(e.request.at(1)));
    };
    app.createWindows();
    QVERIFY(app.openAndWaitFor(QStringLiteral("Pentar detected!")));
    app.main().BtnCmd310Click();
    app.advanced().setActivePage(EditorPage::Motor2);
    TMotorPage *page = app.advanced().MotorPages[1];

    // Motor 2's whole bank is read while its page is open (indices 0..14, reads 0x21..0x3D).
    polled.clear();
    QTRY_VERIFY_WITH_TIMEOUT(polled.contains(0x3D), AppFixture::kEventWait);
    for (int index = 0; index < 15; ++index)
        QVERIFY2(polled.contains(0x21 + 2 * index), qPrintable(QString::number(index)));
    QVERIFY(!polled.contains(0x05)); // motor 1's V_MIN is not

    page->selectItem(3); // V_MAX
    page->findChild<TSpinEdit *>(QStringLiteral("EditVMax2"))->setValue(321);
    page->BtnSend->click();
    QTRY_COMPARE_WITH_TIMEOUT(page->findChild<QLabel *>(QStringLiteral("StaticVMax2"))->text(),
                              QStringLiteral("321"), AppFixture::kEventWait);
    QVERIFY(page->LblNoAnswer->isHidden());
    page->findChild<TSpinEdit *>(QStringLiteral("EditVMax2"))->setValue(0);
    page->BtnCopyClick();
    QCOMPARE(page->findChild<TSpinEdit *>(QStringLiteral("EditVMax2"))->value(), 321);
}

void TestRegisterPages::sendWithoutAnswerIsShown()
{
    // A send the board never answered used to pass without a word on the page.
    AppFixture app;
    BoardOptions options;
    options.variant = Variant::Pentar;
    QVERIFY(app.startBoard(options).serving());
    app.createWindows();
    TMotorPage *page = app.advanced().MotorPages[0];
    app.advanced().BtnSendMot1Click(); // no port open: nothing can answer
    QVERIFY(!page->LblNoAnswer->isHidden());
    QVERIFY(app.openAndWaitFor(QStringLiteral("Pentar detected!")));
    app.advanced().BtnSendMot1Click();
    QVERIFY(page->LblNoAnswer->isHidden());
}

QTEST_MAIN(TestRegisterPages)
#include "tst_registerpages.moc"
