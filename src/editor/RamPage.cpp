#include "editor/RamPage.h"

#include "chip/ValueFormat.h"
#include "controls/Dialogs.h"
#include "controls/FloatSpinEdit.h"
#include "controls/SaveReport.h"
#include "controls/Widgets.h"
#include "editor/HexKeyFilter.h"
#include "records/MicrostepShape.h"
#include "session/BoardSession.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

namespace {

const QString kFilter = QStringLiteral("KVX310 Configuration files (*.310);;All files (*)");
// Two characters, letters or digits, letters turned to lower case as typed.
const QString kCellMask = QStringLiteral("<NN");

// The cell editor: the mask and the key filter; a cell merely visited keeps its text. What is
// typed reaches the cell at once: half a value ("a") would otherwise be dropped when the editor
// closes, by a click elsewhere as by Tab, since it does not fill the mask.
class CellDelegate : public QStyledItemDelegate
{
public:
    CellDelegate(HexKeyFilter &keys, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_keys(keys)
    {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &) const override
    {
        auto *edit = new QLineEdit(parent);
        edit->setInputMask(kCellMask);
        m_keys.watch(edit);
        auto *self = const_cast<CellDelegate *>(this); // createEditor is const in Qt's interface
        connect(edit, &QLineEdit::textEdited, self, [self, edit] { emit self->commitData(edit); });
        return edit;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        // While the user types, the cell follows the editor, never the other way round.
        if (!static_cast<QLineEdit *>(editor)->isModified())
            QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override
    {
        auto *edit = static_cast<QLineEdit *>(editor);
        if (edit->isModified())
            model->setData(index, edit->text());
    }

private:
    HexKeyFilter &m_keys;
};

} // namespace

TRamPage::TRamPage(BoardSession &session, HexKeyFilter &keys, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("TabRAM"));
    buildGrid(keys);
    buildShape();
    buildSpiDirect(keys);
}

void TRamPage::buildGrid(HexKeyFilter &keys)
{
    StringGridHex = new QTableWidget(kRamRows, kRamColumns, this);
    StringGridHex->setObjectName(QStringLiteral("StringGridHex"));
    StringGridHex->setGeometry(16, 16, 565, 193);
    setHint(StringGridHex, tr("This is the RAM editor."));
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(16);
    StringGridHex->setFont(courier);
    // The headers keep the program's font: " 00" in the cells' font would not fit in 32
    // pixels. A font made anew, as one merely copied would be inherited from the grid again.
    const QFont program = QApplication::font();
    const QFont header(program.family(), program.pointSize());
    StringGridHex->horizontalHeader()->setFont(header);
    StringGridHex->verticalHeader()->setFont(header);
    QStringList columns;
    for (int c = 0; c < kRamColumns; ++c)
        columns << QStringLiteral(" %1").arg(c, 0, 16).toUpper();
    QStringList rows;
    for (int r = 0; r < kRamRows; ++r)
        rows << QStringLiteral(" %1").arg(r * kRamColumns, 2, 16, QLatin1Char('0')).toUpper();
    StringGridHex->setHorizontalHeaderLabels(columns);
    StringGridHex->setVerticalHeaderLabels(rows);
    // The minimum first: a default below it would be raised to it.
    StringGridHex->horizontalHeader()->setMinimumSectionSize(32);
    StringGridHex->horizontalHeader()->setDefaultSectionSize(32);
    StringGridHex->verticalHeader()->setMinimumSectionSize(20);
    StringGridHex->verticalHeader()->setDefaultSectionSize(20);
    StringGridHex->horizontalHeader()->setFixedHeight(20);
    StringGridHex->verticalHeader()->setFixedWidth(32);
    StringGridHex->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGridHex->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGridHex->setItemDelegate(new CellDelegate(keys, StringGridHex));
    StringGridHex->setEditTriggers(QAbstractItemView::AllEditTriggers);
    for (int b = 0; b < kRamByteCount; ++b)
        StringGridHex->setItem(b / kRamColumns, b % kRamColumns, new QTableWidgetItem);
    connect(StringGridHex, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem *item) { fitCellFont(item); });
    keys.watch(StringGridHex);

    ProgressRAMTable = new QProgressBar(this);
    ProgressRAMTable->setObjectName(QStringLiteral("ProgressRAMTable"));
    ProgressRAMTable->setGeometry(16, 224, 569, 17);
    ProgressRAMTable->setRange(0, 127);
    ProgressRAMTable->setValue(0);
    ProgressRAMTable->setTextVisible(false);

    BtnReadRAM = button(this, QStringLiteral("BtnReadRAM"), tr("&Read from RAM"), {16, 280, 97, 41},
                        tr("Click this button to read the contents of the KVX310 RAM (driver "
                           "configuration and microstepping) into the editor"));
    BtnWriteRAM =
        button(this, QStringLiteral("BtnWriteRAM"), tr("&Write to RAM"), {16, 336, 97, 41},
               tr("Click this button to write the contents of the editor into the "
                  "KVX310 RAM (driver configuration and microstepping)."));
    BtnLoadRAM = button(this, QStringLiteral("BtnLoadRAM"), tr("&Load from File..."),
                        {184, 280, 97, 41}, tr("Load the contens of a file into the RAM editor."));
    BtnSaveRAM = button(this, QStringLiteral("BtnSaveRAM"), tr("&Save to File..."),
                        {184, 336, 97, 41}, tr("Save the contents of the RAM editor to a file."));
    connect(BtnReadRAM, &QPushButton::clicked, this, [this] { BtnReadRAMClick(); });
    connect(BtnWriteRAM, &QPushButton::clicked, this, [this] { BtnWriteRAMClick(); });
    connect(BtnLoadRAM, &QPushButton::clicked, this, [this] { BtnLoadRAMClick(); });
    connect(BtnSaveRAM, &QPushButton::clicked, this, [this] { BtnSaveRAMClick(); });
}

void TRamPage::buildSpiDirect(HexKeyFilter &keys)
{
    GrpSPIMan = group(this, QStringLiteral("GrpSPIMan"), tr(" SPI Direct "), {640, 256, 169, 153},
                      tr("Here you can send SPI telegrams to the KVX310 directly and watch the "
                         "results."));
    QFont big = font();
    big.setPixelSize(16);
    for (int i = 0; i < 4; ++i) {
        auto *edit = new QLineEdit(GrpSPIMan);
        edit->setObjectName(QStringLiteral("EditSPIMan%1").arg(i + 1));
        edit->setInputMask(kCellMask);
        edit->setText(QStringLiteral("00"));
        edit->setGeometry(24 + 32 * i, 24, 25, 21);
        setHint(edit, tr("Enter an SPI telegram here."));
        keys.watch(edit);
        EditSPIMan[std::size_t(i)] = edit;

        auto *box = new QLineEdit(QStringLiteral("FF"), GrpSPIMan);
        box->setObjectName(QStringLiteral("StaticSPIMan%1").arg(i + 1));
        box->setReadOnly(true);
        box->setFrame(true);
        box->setFont(big);
        box->setAlignment(Qt::AlignCenter);
        box->setGeometry(24 + 32 * i, 104, 25, 25);
        setHint(box, tr("An SPI telegram from the KVX310 is displayed here."));
        StaticSPIMan[std::size_t(i)] = box;
    }
    BtnSendSPIMan = button(GrpSPIMan, QStringLiteral("BtnSendSPIMan"), tr("Sen&d"),
                           {48, 60, 75, 33}, tr("Send the SPI telegram to the KVX310."));
    connect(BtnSendSPIMan, &QPushButton::clicked, this, [this] { BtnSendSPIManClick(); });
}

void TRamPage::buildShape()
{
    GrpShape = group(this, QStringLiteral("GrpShape"), tr(" Microstep Shape "), {624, 16, 217, 193},
                     tr("Calculate a new mircrostepping table here."));
    caption(GrpShape, QStringLiteral("LblSigma"), tr("Sigma:"), {32, 34});
    EditSigma = new TFloatSpinEdit(GrpShape);
    EditSigma->setObjectName(QStringLiteral("EditSigma"));
    EditSigma->setGeometry(72, 32, 121, 22);
    EditSigma->setIncrement(0.1);
    EditSigma->setMinValue(-1);
    EditSigma->setMaxValue(1);
    EditSigma->setValue(-1);
    setHint(EditSigma, tr("Enter the Sigma value here. Any floating point number between -1.0 "
                          "and +1.0 can be entered."));
    BtnShapeCalc =
        button(GrpShape, QStringLiteral("BtnShapeCalc"), tr("&Calculate"), {72, 72, 121, 33},
               tr("Click here to calculate the new microstepping table."));
    BtnShapeCW = button(GrpShape, QStringLiteral("BtnShapeCW"), tr("C&alulate && Write to RAM"),
                        {72, 120, 121, 33},
                        tr("Click here to calculate the new mircrostepping table and write it to "
                           "the KVX310 RAM immediately."));
    connect(BtnShapeCalc, &QPushButton::clicked, this, [this] { BtnShapeCalcClick(); });
    connect(BtnShapeCW, &QPushButton::clicked, this, [this] { BtnShapeCWClick(); });
}

RamCells TRamPage::cells() const
{
    RamCells cells;
    for (int b = 0; b < kRamByteCount; ++b)
        cells[std::size_t(b)] = StringGridHex->item(b / kRamColumns, b % kRamColumns)->text();
    return cells;
}

void TRamPage::setCell(int byte, const QString &text)
{
    if (byte < 0 || byte >= kRamByteCount)
        return;
    QTableWidgetItem *item = StringGridHex->item(byte / kRamColumns, byte % kRamColumns);
    item->setText(text); // the grid fits its font (fitCellFont)
}

void TRamPage::fitCellFont(QTableWidgetItem *item)
{
    // A text longer than two digits (from a file) is shown whole in a smaller font, so that the
    // user sees what "Write" will refuse rather than "1..."; any other text, typed or loaded,
    // in the grid's own.
    QFont font = StringGridHex->font();
    const int room = StringGridHex->columnWidth(0) - 6;
    const int wide = QFontMetrics(font).horizontalAdvance(item->text());
    if (wide > room)
        font.setPixelSize(std::max(6, font.pixelSize() * room / wide));
    // Setting the font is a change of the item too: only a different one, or it never ends.
    if (item->font() != font)
        item->setFont(font);
}

void TRamPage::setCells(const RamCells &cells)
{
    for (int b = 0; b < kRamByteCount; ++b)
        setCell(b, cells[std::size_t(b)]);
}

void TRamPage::showProgress(int word)
{
    // The bar ignores values beyond its range: the last ones are shown as full.
    ProgressRAMTable->setValue(std::min(2 * word + 3, ProgressRAMTable->maximum()));
}

void TRamPage::setBusy(bool busy)
{
    // One transfer at a time from this page; the windows stay responsive meanwhile. Disabling
    // the button that has the focus hands it on (to Sigma, its text selected): it comes back
    // where it was, unless the user has moved it meanwhile.
    m_busy = busy;
    if (busy)
        m_focusBefore = QApplication::focusWidget();
    for (QPushButton *b :
         {BtnReadRAM, BtnWriteRAM, BtnLoadRAM, BtnSaveRAM, BtnSendSPIMan, BtnShapeCalc, BtnShapeCW})
        b->setEnabled(!busy);
    if (busy) {
        m_focusHandedTo = QApplication::focusWidget();
        return;
    }
    if (m_focusBefore && m_focusBefore->isEnabled() && m_focusBefore->isVisible() &&
        QApplication::focusWidget() == m_focusHandedTo)
        m_focusBefore->setFocus(Qt::OtherFocusReason);
}

bool TRamPage::checkCells()
{
    if (firstInvalidCell(cells()) < 0)
        return true;
    Dialogs::message(this, MessageRequest{QMessageBox::Critical,
                                          tr("All values in the RAM table must be set\n"
                                             "to two digit hexadecimal values first!"),
                                          {}});
    return false;
}

BoardLink::Batch TRamPage::transfer(const std::vector<Datagram> &requests, int firstWord)
{
    ProgressRAMTable->setValue(0);
    return m_session.link().directRequests(
        requests, [this, firstWord](int done) { showProgress(firstWord + done - 1); });
}

void TRamPage::reportStop(bool write, int word, bool sent)
{
    const QString bytes =
        tr("Bytes %1 and %2")
            .arg(hexText(std::uint8_t(2 * word)), hexText(std::uint8_t(2 * word + 1)));
    QString text;
    QString detail;
    if (!m_session.Connected()) {
        // The user closed the port, or the device went: the board is not to blame.
        text = tr("The transfer stopped at RAM word %1: the port was closed.").arg(word);
        detail = write ? tr("The words before it were written; the RAM may hold a mix of old "
                            "and new values.")
                       : tr("The RAM table is left as it was.");
    } else if (!sent) {
        text = tr("RAM word %1 could not be sent: the connection to the board is lost.").arg(word);
        detail = write ? tr("The words before it were written; the RAM may hold a mix of old "
                            "and new values.")
                       : tr("The RAM table is left as it was.");
    } else if (write) {
        // The words before it went out: the chip may now hold a mix of old and new bytes.
        text = tr("The board did not acknowledge the write of RAM word %1.").arg(word);
        detail = tr("%1 and the ones after them may not have been written; the RAM may hold a "
                    "mix of old and new values.")
                     .arg(bytes);
    } else {
        text = tr("The board did not answer the read of RAM word %1.").arg(word);
        detail = tr("%1 could not be read; the RAM table is left as it was.").arg(bytes);
    }
    Dialogs::message(this, MessageRequest{QMessageBox::Warning, text, detail});
}

void TRamPage::BtnReadRAMClick()
{
    if (m_busy)
        return;
    setBusy(true);
    const auto done = qScopeGuard([this] { setBusy(false); });
    const PollPause pause = m_session.link().PausePolling();
    ProgressRAMTable->setValue(0);
    BoardLink::Batch stopped;
    const std::optional<RamBytes> ram =
        readRam(m_session.link(), &stopped, [this](int done) { showProgress(done - 1); });
    if (!ram) {
        // The table is left as it was rather than half old, half stale.
        reportStop(false, stopped.failedAt, stopped.failedAt < stopped.sent);
        return;
    }
    setCells(ramCells(*ram));
}

void TRamPage::BtnWriteRAMClick()
{
    if (m_busy || !checkCells())
        return;
    setBusy(true);
    const auto done = qScopeGuard([this] { setBusy(false); });
    // The cells as they are now: typing while the line is being freed changes nothing sent.
    const std::vector<Datagram> requests = ramWriteRequests(cells());
    const PollPause pause = m_session.link().PausePolling();
    const BoardLink::Batch batch = transfer(requests);
    if (batch.failedAt >= 0)
        reportStop(true, batch.failedAt, batch.failedAt < batch.sent);
}

void TRamPage::BtnSaveRAMClick()
{
    if (m_busy || !checkCells())
        return;
    const QString path = Dialogs::chooseFile(this, FileRequest{true, {}, {}, kFilter});
    if (path.isEmpty())
        return;
    // An error leaves the old file as it was.
    saveFileOrReport(this, path, ramFileText(cells()), tr("File save error!"));
}

void TRamPage::BtnLoadRAMClick()
{
    if (m_busy)
        return;
    const QString path = Dialogs::chooseFile(this, FileRequest{false, {}, {}, kFilter});
    if (path.isEmpty())
        return;
    // A named pipe or a device would block or never end: only files are read, and what is
    // opened is checked, not the name, which may stand for something else by then.
    QFile file;
    QString why;
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st
    {};
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = tr("It is not a file.");
    } else if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        why = file.errorString();
    }
#else
    file.setFileName(path);
    if (!QFileInfo(path).isFile())
        why = tr("It is not a file.");
    else if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
#endif
    if (!why.isEmpty()) {
        Dialogs::message(
            this, MessageRequest{QMessageBox::Critical, tr("Could not open %1.").arg(path), why});
        return;
    }
    RamCells cells = this->cells();
    const RamLoad result = loadRamFile(file, cells);
    setCells(cells);
    if (result == RamLoad::ReadError) {
        Dialogs::message(this, MessageRequest{QMessageBox::Critical, tr("File load error!"),
                                              path + QStringLiteral(": ") + file.errorString()});
    } else if (result == RamLoad::Cut) {
        Dialogs::message(
            this, MessageRequest{QMessageBox::Warning,
                                 tr("Only the first part of %1 was read.").arg(path),
                                 tr("A configuration file has 8 short lines; this one had not "
                                    "ended them after %1 bytes. The rows not reached are left "
                                    "as they were.")
                                     .arg(kMaxScan)});
    }
}

void TRamPage::BtnSendSPIManClick()
{
    if (m_busy)
        return;
    std::array<std::uint8_t, 4> bytes{};
    for (int i = 0; i < 4; ++i) {
        const QString text = EditSPIMan[std::size_t(i)]->text();
        bool ok = false;
        const uint value = text.toUInt(&ok, 16);
        if (!ok) {
            Dialogs::message(this,
                             MessageRequest{QMessageBox::Critical,
                                            tr("'%1' is not a valid hexadecimal number.").arg(text),
                                            {}});
            return;
        }
        bytes[std::size_t(i)] = std::uint8_t(value);
    }
    const Datagram d{bytes[0], {bytes[1], bytes[2], bytes[3]}};
    setBusy(true);
    const auto done = qScopeGuard([this] { setBusy(false); });
    const PollPause pause = m_session.link().PausePolling();
    // Shown only once it is sure to answer this telegram, whatever its address.
    const BoardLink::Batch batch = m_session.link().directRequests(std::span(&d, 1), {}, true);
    if (batch.failedAt >= 0) {
        // No answer: an old one must not look like this telegram's.
        for (QLineEdit *box : StaticSPIMan)
            box->setText(QStringLiteral("--"));
        return;
    }
    const Reply &r = batch.replies.front();
    const std::uint8_t answer[4] = {r.status, r.data.high, r.data.mid, r.data.low};
    for (int i = 0; i < 4; ++i)
        StaticSPIMan[std::size_t(i)]->setText(hexText(answer[i]));
}

void TRamPage::BtnShapeCalcClick()
{
    const ShapeTable table = CalcShapeTable(EditSigma->Value());
    for (int i = 0; i < kShapeSteps; ++i)
        setCell(kShapeFirstByte + i, hexText(std::uint8_t(table[std::size_t(i)])));
}

void TRamPage::BtnShapeCWClick()
{
    if (m_busy)
        return;
    BtnShapeCalcClick();
    setBusy(true);
    const auto done = qScopeGuard([this] { setBusy(false); });
    // Words 32 to 63 hold the table; the bar goes on from half to full.
    constexpr int kFirstWord = kShapeFirstByte / 2;
    const std::vector<Datagram> requests = ramWriteRequests(cells(), kFirstWord);
    const PollPause pause = m_session.link().PausePolling();
    const BoardLink::Batch batch = transfer(requests, kFirstWord);
    if (batch.failedAt >= 0)
        reportStop(true, kFirstWord + batch.failedAt, batch.failedAt < batch.sent);
}

} // namespace kvx
