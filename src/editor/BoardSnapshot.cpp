#include "editor/BoardSnapshot.h"

#include "controls/Dialogs.h"
#include "controls/SaveReport.h"
#include "controls/Widgets.h"
#include "records/SnapshotTransfer.h"
#include "session/BoardSession.h"
#include "settings/FileRead.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kvx {

namespace {

const char *const kFilter =
    QT_TRANSLATE_NOOP("kvx::TBoardSnapshot", "Board snapshots (*.ini);;All files (*)");

} // namespace

TBoardSnapshot::TBoardSnapshot(BoardSession &session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 2, 0);
    BtnSaveBoard = new QPushButton(tr("Save &board..."), this);
    BtnSaveBoard->setObjectName(QStringLiteral("BtnSaveBoard"));
    setHint(BtnSaveBoard,
            tr("Click here to save every register setting and the RAM of the board into a file."));
    BtnLoadBoard = new QPushButton(tr("L&oad board..."), this);
    BtnLoadBoard->setObjectName(QStringLiteral("BtnLoadBoard"));
    setHint(BtnLoadBoard, tr("Click here to see what a saved file sets differently, and to "
                             "write that to the board."));
    row->addWidget(BtnSaveBoard);
    row->addWidget(BtnLoadBoard);
    connect(BtnSaveBoard, &QPushButton::clicked, this, [this] { BtnSaveBoardClick(); });
    connect(BtnLoadBoard, &QPushButton::clicked, this, [this] { BtnLoadBoardClick(); });
}

std::optional<Snapshot> TBoardSnapshot::readBoard(const QString &nothingDone)
{
    QString why;
    std::optional<Snapshot> board;
    {
        const PollPause pause = m_session.link().PausePolling();
        board = SnapshotTransfer(m_session.link()).read(&why);
    }
    if (!board) {
        Dialogs::message(this, MessageRequest{QMessageBox::Warning,
                                              tr("The board could not be read whole."),
                                              why + QStringLiteral(". ") + nothingDone});
    }
    return board;
}

void TBoardSnapshot::BtnSaveBoardClick()
{
    const QString path = Dialogs::chooseFile(
        this, FileRequest{true, tr("Save Board"), QStringLiteral("board.ini"), tr(kFilter)});
    // The port may have gone while the dialog was open.
    if (path.isEmpty() || !m_session.Connected())
        return;
    const std::optional<Snapshot> board = readBoard(tr("Nothing was saved."));
    if (!board)
        return;
    saveFileOrReport(this, path,
                     snapshotText(*board, snapshotHeading(QStringLiteral("Eval310"),
                                                          m_session.lastOpen().device)));
}

void TBoardSnapshot::BtnLoadBoardClick()
{
    const QString path =
        Dialogs::chooseFile(this, FileRequest{false, tr("Load Board"), {}, tr(kFilter)});
    if (path.isEmpty() || !m_session.Connected())
        return;
    // A device or a pipe chosen would never end, or block: a snapshot is a regular file of a
    // few KiB.
    QByteArray text;
    QString why = readRegularFile(path, kMaxSnapshotSize, &text);
    std::optional<Snapshot> wanted;
    if (why.isEmpty())
        wanted = parseSnapshot(text, &why);
    if (!wanted) {
        // One sentence, whether the reason is the system's, the file's or ours (which ends with
        // its stop already).
        if (!why.isEmpty())
            why[0] = why[0].toUpper();
        if (!why.endsWith(QLatin1Char('.')))
            why += QLatin1Char('.');
        Dialogs::message(this,
                         MessageRequest{QMessageBox::Warning, tr("Could not load %1.").arg(path),
                                        why + QLatin1Char(' ') + tr("Nothing was written.")});
        return;
    }
    const std::optional<Snapshot> board = readBoard(tr("Nothing was written."));
    if (!board)
        return;
    const std::vector<Difference> diffs = differences(*board, *wanted);
    if (diffs.empty()) {
        Dialogs::message(this, MessageRequest{QMessageBox::Information,
                                              tr("The board already holds %1.").arg(path),
                                              {}});
        return;
    }

    // What will change, in the order it will be written, before anything is.
    QDialog preview(this);
    preview.setObjectName(QStringLiteral("FormLoadBoard"));
    preview.setWindowTitle(tr("Load Board"));
    auto *layout = new QVBoxLayout(&preview);
    auto *heading = new QLabel(
        tr("Writing %1 changes %2 values of the board:").arg(path).arg(diffs.size()), &preview);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);
    auto *list = new QPlainTextEdit(&preview);
    list->setReadOnly(true);
    list->setObjectName(QStringLiteral("ListChanges"));
    for (const Difference &d : diffs) {
        list->appendPlainText(tr("%1: %2 -> %3%4")
                                  .arg(label(d), d.boardText, d.wantedText,
                                       d.outside.isEmpty()
                                           ? QString()
                                           : tr("   <- outside the editor's %1").arg(d.outside)));
    }
    list->moveCursor(QTextCursor::Start);
    layout->addWidget(list);
    // What the editor's pages and Go would refuse is written only when the user says so.
    const RestoreRefusals refusals = restoreRefusals(*board, diffs);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &preview);
    QPushButton *write = buttons->addButton(tr("&Write to Board"), QDialogButtonBox::AcceptRole);
    QCheckBox *force = nullptr;
    if (!refusals.empty()) {
        QStringList why;
        if (refusals.outside.size() == 1)
            why << tr("The value marked lies outside the editor's range, and the board did not "
                      "hold it when the file was saved.");
        else if (!refusals.outside.isEmpty())
            why << tr("The %1 values marked lie outside the editor's ranges, and the board did "
                      "not hold them when the file was saved.")
                       .arg(refusals.outside.size());
        for (const QString &move : refusals.moves)
            why << tr("The load would set a motor moving: %1.").arg(move);
        auto *warning = new QLabel(why.join(QLatin1Char('\n')), &preview);
        warning->setObjectName(QStringLiteral("LblRefused"));
        warning->setTextFormat(Qt::PlainText);
        warning->setWordWrap(true);
        layout->addWidget(warning);
        force = new QCheckBox(tr("Write &them all the same"), &preview);
        force->setObjectName(QStringLiteral("CheckForce"));
        layout->addWidget(force);
        write->setEnabled(false);
        connect(force, &QCheckBox::toggled, write, &QPushButton::setEnabled);
    }
    connect(buttons, &QDialogButtonBox::accepted, &preview, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &preview, &QDialog::reject);
    layout->addWidget(buttons);
    preview.resize(420, 360);
    if (Dialogs::exec(preview) != QDialog::Accepted || (force && !force->isChecked()))
        return;

    int written = 0;
    QString failure;
    {
        const PollPause pause = m_session.link().PausePolling();
        failure = SnapshotTransfer(m_session.link())
                      .restore(diffs, *wanted, [&written](const Difference &) { ++written; });
    }
    if (failure.isEmpty()) {
        Dialogs::message(this, MessageRequest{QMessageBox::Information,
                                              tr("Wrote %1 values of %2.").arg(written).arg(path),
                                              {}});
    } else {
        Dialogs::message(
            this, MessageRequest{
                      QMessageBox::Warning,
                      tr("Wrote %1 of %2 values of %3.").arg(written).arg(diffs.size()).arg(path),
                      failure + QLatin1Char('.')});
    }
}

} // namespace kvx
