#pragma once

// "Save board..." and "Load board..." of the register editor: every setting of the three
// motors, the common registers and the RAM in the command-line tool's snapshot file. A load
// shows what it would change before it writes, and says what it wrote. The buttons sit beside
// the editor's page tabs. User-interface thread.

#include "records/Snapshot.h"

#include <QString>
#include <QWidget>

#include <optional>

class QPushButton;

namespace kvx {

class BoardSession;

class TBoardSnapshot : public QWidget
{
    Q_OBJECT

public:
    explicit TBoardSnapshot(BoardSession &session, QWidget *parent = nullptr);

    QPushButton *BtnSaveBoard = nullptr;
    QPushButton *BtnLoadBoard = nullptr;

    void BtnSaveBoardClick();
    void BtnLoadBoardClick();

private:
    // Every setting and the RAM, polling paused; nothing, once the user was told why, when
    // the board did not answer (`nothingDone` says what was left undone).
    std::optional<Snapshot> readBoard(const QString &nothingDone);

    BoardSession &m_session;
};

} // namespace kvx
