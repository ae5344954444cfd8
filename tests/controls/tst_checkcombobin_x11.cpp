// The bit-flag combo's closing press on a real X server (an Xvfb the test starts): the press on
// the arrow that closes the list does not open it again, and it is marked not to be passed on
// (Qt's WA_NoMouseReplay) at the moment the list closes, where Qt decides whether to pass a
// closing press on to the widget under it; a press elsewhere is not marked, so that it still
// reaches what the user clicked where the window system passes it on. Offscreen Qt passes no
// such press on and holds no pointer grab; on X11 it passes none on either, so the mark is what
// is checked. The rest of the control is tst_checkcombobin's.

#include "common/XServer.h"
#include "controls/CheckComboBin.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace kvx;

namespace {

// Whether the drop-down was marked when it closed.
class MarkAtClose : public QObject
{
public:
    explicit MarkAtClose(QWidget *dropDown) { dropDown->installEventFilter(this); }
    bool closed = false;
    bool noReplay = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide) {
            closed = true;
            noReplay = static_cast<QWidget *>(watched)->testAttribute(Qt::WA_NoMouseReplay);
        }
        return false;
    }
};

} // namespace

class TestCheckComboBinX11 : public QObject
{
    Q_OBJECT

private slots:
    void closingPress_data();
    void closingPress();
};

void TestCheckComboBinX11::closingPress_data()
{
    QTest::addColumn<bool>("onArrow"); // the closing press: on the arrow, or beside the control
    QTest::newRow("on the arrow") << true;
    QTest::newRow("beside the control") << false;
}

void TestCheckComboBinX11::closingPress()
{
    KVX_REQUIRE_X11();
    QFETCH(bool, onArrow);
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QWidget window;
    window.resize(300, 200);
    auto *combo = new TCheckedComboBinary(&window);
    combo->move(10, 10);
    combo->setItems({"DISABLE_STOP_L", "DISABLE_STOP_R", "SOFT_STOP", "REF_RnL"});
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy opened(combo, &TCheckedComboBinary::OnClick);
    const QPoint arrow = combo->ArrowButton->mapTo(&window, combo->ArrowButton->rect().center());
    for (int round = 1; round <= 2; ++round) {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, arrow);
        QTRY_VERIFY(combo->isDroppedDown());
        QCOMPARE(opened.count(), round);
        MarkAtClose mark(combo->DropDown);
        // The list has the pointer: this press reaches it, and closes it.
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                          onArrow ? arrow : QPoint(280, 180));
        QTRY_VERIFY(mark.closed);
        QCOMPARE(mark.noReplay, onArrow);
        // A press passed on to the arrow would have opened it again, as a queued event.
        QTest::qWait(100);
        QVERIFY(!combo->isDroppedDown());
        QCOMPARE(opened.count(), round);
    }
}

KVX_X11_TEST_MAIN(TestCheckComboBinX11)
#include "tst_checkcombobin_x11.moc"
