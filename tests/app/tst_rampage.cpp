// The RAM page and the manual telegram on the simulated board through the real serial path:
// the 64 words go out in order and come back into the grid, a word the board does not answer
// stops the transfer and says which, "Sen&d" shows its own answer or none, and a file is
// saved whole or not at all. The page's table rules alone are tests/records' tst_ramtable.

#include "common/AppFixture.h"
#include "controls/FloatSpinEdit.h"
#include "editor/RamPage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

using namespace kvx;
using namespace kvx::sim;

class TestRamPage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void wordsGoOutInOrderAndComeBack();
    void unansweredWordStopsTheTransfer_data();
    void unansweredWordStopsTheTransfer();
    void shapeCalculateAndWrite();
    void manualTelegram();
    void failedSaveKeepsTheOldFile();
    void loadThroughThePage();
    void gridKeepsWhatIsTypedAndShowsWhatIsLoaded();
    void closingThePortDuringATransferSaysSo();

private:
    // A board answering nothing to `silentTo`; its watchdog waits are skipped by moving the
    // session's clock on.
    void open(int silentTo = -1);
    [[nodiscard]] TRamPage &page() { return *m_app->advanced().RamPage; }

    std::unique_ptr<AppFixture> m_app;
    QList<QByteArray> m_requests; // RAM requests as the board received them, frames whole
};

void TestRamPage::cleanup()
{
    m_app.reset();
    m_requests.clear();
}

void TestRamPage::open(int silentTo)
{
    m_app = std::make_unique<AppFixture>();
    BoardOptions options;
    options.variant = Variant::Pentar;
    options.faults.silentTo = silentTo;
    QVERIFY(m_app->startBoard(options).serving());
    m_app->board().board().onFrame = [this](const FrameLogEntry &e) {
        if (e.request.size() == 5 && (std::uint8_t(e.request.at(1)) & 0x80))
            m_requests << e.request;
        if (e.note != "silent")
            return;
        // Past the watchdog, then past the quiet after it; first the replies before it are
        // trusted, as they would be long before the watchdog.
        QTimer::singleShot(50, m_app.get()->advanced().RamPage,
                           [this] { m_app->skipWatchdog(true); });
    };
    m_app->createWindows();
    m_app->useSkippingClock();
    QVERIFY(m_app->openAndWaitFor(QStringLiteral("Pentar detected!")));
    m_app->advanced().setActivePage(EditorPage::Ram);
}

void TestRamPage::wordsGoOutInOrderAndComeBack()
{
    open();
    QVERIFY(!QTest::currentTestFailed());
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QStringLiteral("%1").arg((b * 7 + 3) & 0xFF, 2, 16, QLatin1Char('0')));
    page().BtnWriteRAM->click();
    QCOMPARE(m_requests.size(), kRamWordCount);
    for (int w = 0; w < kRamWordCount; ++w) {
        const QByteArray expected{"#\0\0\0\0", 5};
        QByteArray frame = expected;
        frame[1] = char(0x80 + 2 * w);
        frame[3] = char(((2 * w + 1) * 7 + 3) & 0xFF);
        frame[4] = char((2 * w * 7 + 3) & 0xFF);
        QCOMPARE(m_requests[w].toHex(), frame.toHex());
    }
    for (int b = 0; b < kRamByteCount; ++b)
        QCOMPARE(int(m_app->board().board().chip().ramByte(b)), (b * 7 + 3) & 0xFF);
    QCOMPARE(page().ProgressRAMTable->value(), 127);

    m_requests.clear();
    const RamCells written = page().cells();
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QString());
    page().BtnReadRAM->click();
    QCOMPARE(m_requests.size(), kRamWordCount);
    for (int w = 0; w < kRamWordCount; ++w)
        QCOMPARE(m_requests[w].toHex(), QByteArray::fromRawData("#\0\0\0\0", 5)
                                            .toHex()
                                            .replace(2, 2, QByteArray::number(0x81 + 2 * w, 16)));
    const RamCells read = page().cells();
    for (int b = 0; b < kRamByteCount; ++b)
        QCOMPARE(read[std::size_t(b)], written[std::size_t(b)].toUpper());
    QVERIFY(m_app->messages.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(m_app->session().link().PollingEnabled(), AppFixture::kEventWait);
}

void TestRamPage::unansweredWordStopsTheTransfer_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("sent"); // requests up to the silent one
    // A read is asked three times before the transfer stops; a write once.
    QTest::newRow("read") << "read" << 5 << 8;
    QTest::newRow("write") << "write" << 5 << 6;
    QTest::newRow("shape write") << "shape" << 35 << 4;
}

void TestRamPage::unansweredWordStopsTheTransfer()
{
    // A read used to fill the word from the previous answer, and a write to go on as if it had
    // been taken.
    QFETCH(QString, action);
    QFETCH(int, word);
    QFETCH(int, sent);
    const bool read = action == QLatin1String("read");
    open(0x80 + 2 * word + (read ? 1 : 0));
    QVERIFY(!QTest::currentTestFailed());
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QStringLiteral("5A"));
    if (read)
        page().BtnReadRAMClick();
    else if (action == QLatin1String("write"))
        page().BtnWriteRAMClick();
    else
        page().BtnShapeCWClick();
    QCOMPARE(m_requests.size(), sent); // nothing after the word without an answer
    QCOMPARE(m_app->messages.size(), 1);
    QVERIFY2(m_app->messages[0].text.contains(QStringLiteral("RAM word %1.").arg(word)),
             qPrintable(m_app->messages[0].text));
    if (read) { // the grid as it was
        for (const QString &cell : page().cells())
            QCOMPARE(cell, QStringLiteral("5A"));
    } else { // the chip took the words up to the silent one; none after it
        QVERIFY(m_app->board().board().chip().ramByte(2 * word) != 0);
        QCOMPARE(int(m_app->board().board().chip().ramByte(2 * word + 2)), 0);
    }
    QVERIFY(page().BtnReadRAM->isEnabled());
}

void TestRamPage::shapeCalculateAndWrite()
{
    open();
    QVERIFY(!QTest::currentTestFailed());
    page().setCell(0, QStringLiteral("ab"));
    page().setCell(0x3F, QStringLiteral("1FF"));
    page().EditSigma->setValue(1);
    page().BtnShapeCalcClick();
    RamCells cells = page().cells();
    QCOMPARE(cells[0], QStringLiteral("ab")); // rows 1 to 4 untouched
    QCOMPARE(cells[0x3F], QStringLiteral("1FF"));
    QVERIFY(cells[1].isEmpty());
    QCOMPARE(cells[0x41], QStringLiteral("01"));
    QCOMPARE(cells[0x7F], QStringLiteral("2D"));
    QVERIFY(m_requests.isEmpty()); // nothing sent

    page().EditSigma->setValue(-1);
    // The page's own clicks while it waits for the line or the board are not taken: a read
    // there used to put the chip's old table into the rows about to be written. A register
    // page's send goes out between two of its words (it used to be dropped without a word).
    m_app->advanced().ComposedTelegram = Datagram{0x00, {0x00, 0x12, 0x34}}; // X_TARGET 1
    QTimer::singleShot(0, this, [this] {
        page().BtnReadRAMClick();
        page().BtnSendSPIManClick();
        m_app->advanced().BtnSendMot1Click();
    });
    page().BtnShapeCW->click();
    QCOMPARE(m_requests.size(), 32);
    for (int w = 32; w < 64; ++w) {
        QByteArray frame("#\0\0\0\0", 5);
        frame[1] = char(0x80 + 2 * w);
        frame[3] = char(2 * w + 1 - 0x40); // the triangle: byte 0x40 + i holds i
        frame[4] = char(2 * w - 0x40);
        QCOMPARE(m_requests[w - 32].toHex(), frame.toHex());
    }
    QCOMPARE(int(m_app->board().board().chip().ramByte(0x7F)), 0x3F);
    QCOMPARE(page().cells()[0], QStringLiteral("ab"));
    QCOMPARE(page().ProgressRAMTable->value(), 127);
    QVERIFY(m_app->messages.isEmpty());
    const Reply target = m_app->board().board().chip().exchange(Datagram{0x01, {0, 0, 0}});
    QCOMPARE(target.data.value(), 0x1234u);
}

void TestRamPage::manualTelegram()
{
    open(0x7F);
    QVERIFY(!QTest::currentTestFailed());
    page().BtnSendSPIMan->click(); // "00" x 4: a write of X_TARGET 0 on motor 1
    QCOMPARE(page().StaticSPIMan[1]->text(), QStringLiteral("00"));
    QCOMPARE(page().StaticSPIMan[3]->text(), QStringLiteral("00"));
    m_app->board().board().chip().exchange(Datagram{0x80, {0x00, 0x12, 0x34}});
    const QStringList typed{"81", "00", "00", "00"};
    for (int i = 0; i < 4; ++i)
        page().EditSPIMan[std::size_t(i)]->setText(typed[i]);
    page().BtnSendSPIMan->click();
    QCOMPARE(page().StaticSPIMan[2]->text(), QStringLiteral("12"));
    QCOMPARE(page().StaticSPIMan[3]->text(), QStringLiteral("34"));
    // No answer: the old one must not pass for this telegram's.
    page().EditSPIMan[0]->setText(QStringLiteral("7f"));
    page().BtnSendSPIMan->click();
    for (const QLineEdit *box : page().StaticSPIMan)
        QCOMPARE(box->text(), QStringLiteral("--"));
    QVERIFY(m_app->messages.isEmpty());
}

void TestRamPage::failedSaveKeepsTheOldFile()
{
    // A save that failed half-way used to leave a file that looked complete, or none at all.
    open();
    QVERIFY(!QTest::currentTestFailed());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kit.310"));
    m_app->fileAnswer = path;
    page().BtnSaveRAMClick(); // all cells empty: refused before the dialog
    QCOMPARE(m_app->fileRequests.size(), 0);
    QCOMPARE(m_app->messages.size(), 1);
    QCOMPARE(m_app->messages[0].text, QStringLiteral("All values in the RAM table must be set\n"
                                                     "to two digit hexadecimal values first!"));
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QStringLiteral("11"));
    page().BtnSaveRAMClick();
    QCOMPARE(m_app->fileRequests.size(), 1);
    QCOMPARE(m_app->fileRequests[0].filter,
             QStringLiteral("KVX310 Configuration files (*.310);;All files (*)"));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray old = saved.readAll();
    saved.close();
    QCOMPARE(old.size(), 392);

    // The next save runs out of room after 200 bytes.
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QStringLiteral("22"));
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit before = limit;
    limit.rlim_cur = 200;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    page().BtnSaveRAMClick();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    QCOMPARE(m_app->messages.size(), 2);
    QCOMPARE(m_app->messages[1].text, QStringLiteral("File save error!"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"kit.310"});
}

void TestRamPage::loadThroughThePage()
{
    open();
    QVERIFY(!QTest::currentTestFailed());
    QTemporaryDir dir;
    // A saved grid comes back, letters in upper case.
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QStringLiteral("3c"));
    m_app->fileAnswer = dir.filePath(QStringLiteral("kit.310"));
    page().BtnSaveRAMClick();
    for (int b = 0; b < kRamByteCount; ++b)
        page().setCell(b, QString());
    page().BtnLoadRAMClick();
    for (const QString &cell : page().cells())
        QCOMPARE(cell, QStringLiteral("3C"));
    QVERIFY(m_app->messages.isEmpty());

    // A file far longer than 8 lines could be is read only so far, and says so.
    QFile big(dir.filePath(QStringLiteral("big.310")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(2 * kMaxScan, '1'));
    big.close();
    m_app->fileAnswer = big.fileName();
    page().BtnLoadRAMClick();
    QCOMPARE(m_app->messages.size(), 1);
    QVERIFY(m_app->messages[0].text.startsWith(QStringLiteral("Only the first part")));
    QCOMPARE(page().cells()[0], QStringLiteral("00"));
    QCOMPARE(page().cells()[16], QStringLiteral("3C")); // not reached

    // A device or a pipe would never end, or block the window: only files are read.
    m_app->fileAnswer = QStringLiteral("/dev/zero");
    page().BtnLoadRAMClick();
    QCOMPARE(m_app->messages.size(), 2);
    QCOMPARE(m_app->messages[1].informative, QStringLiteral("It is not a file."));
    QCOMPARE(page().cells()[16], QStringLiteral("3C"));
}

void TestRamPage::gridKeepsWhatIsTypedAndShowsWhatIsLoaded()
{
    m_app = std::make_unique<AppFixture>();
    m_app->createWindows();
    TFormAdvanced &form = m_app->advanced();
    form.setActivePage(EditorPage::Ram);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTableWidget *grid = page().StringGridHex;
    auto typeInto = [&](int row, int column, const QString &keys) {
        grid->setCurrentCell(row, column);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the last editor
        QLineEdit *edit = grid->findChild<QLineEdit *>();
        QVERIFY(edit);
        edit->setFocus();
        QTest::keyClicks(edit, keys);
    };
    // Half a value typed stays, whether the user tabs on or clicks another cell (a click used
    // to throw it away); Write refuses it later with the table's message.
    typeInto(2, 3, QStringLiteral("a"));
    QTest::keyClick(grid->findChild<QLineEdit *>(), Qt::Key_Tab);
    QCOMPARE(grid->item(2, 3)->text(), QStringLiteral("a"));
    typeInto(2, 5, QStringLiteral("b"));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualItemRect(grid->item(0, 0)).center());
    QCOMPARE(grid->item(2, 5)->text(), QStringLiteral("b"));

    // A longer text from a file is shown whole, not as "1...".
    page().setCell(5, QStringLiteral("1FF"));
    QTableWidgetItem *loaded = grid->item(0, 5);
    QVERIFY(QFontMetrics(loaded->font()).horizontalAdvance(QStringLiteral("1FF")) <
            grid->visualItemRect(loaded).width() - 4);
    // What is typed over a shrunken text later takes the grid's 16 pixels again (it kept 6).
    page().setCell(6, QStringLiteral("FFFFFFFF"));
    QVERIFY(grid->item(0, 6)->font().pixelSize() < 16);
    typeInto(0, 6, QStringLiteral("12"));
    QCOMPARE(grid->item(0, 6)->text(), QStringLiteral("12"));
    QCOMPARE(grid->item(0, 6)->font(), grid->font());

    // The focus stays where it was through a transfer (it used to land in Sigma).
    page().BtnReadRAM->setFocus();
    page().BtnReadRAMClick(); // no board: the transfer stops at once and says so
    QVERIFY(page().BtnReadRAM->hasFocus());
}

void TestRamPage::closingThePortDuringATransferSaysSo()
{
    open();
    QVERIFY(!QTest::currentTestFailed());
    QTimer::singleShot(60, this, [this] { m_app->main().BtnCloseClick(); });
    page().BtnReadRAMClick();
    QCOMPARE(m_app->messages.size(), 1);
    // It used to blame the board: "The board did not answer the read of RAM word ...".
    QVERIFY2(m_app->messages[0].text.endsWith(QLatin1String("the port was closed.")),
             qPrintable(m_app->messages[0].text));
}

QTEST_MAIN(TestRamPage)
#include "tst_rampage.moc"
