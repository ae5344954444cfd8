#pragma once

// The "RAM Table" page of the register editor: the chip's 128 RAM bytes as a grid of
// hexadecimal cells, read from and written to the chip as 64 words, saved to and loaded from
// configuration files, with the progress of a transfer; and the " SPI Direct " group that
// sends any typed Datagram and shows the answer. Every exchange goes through the board session
// with polling paused. User-interface thread only.

#include "link/BoardLink.h"
#include "records/RamTable.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <vector>

class QLabel;
class QLineEdit;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace kvx {

class BoardSession;
class HexKeyFilter;
class TFloatSpinEdit;

class TRamPage : public QWidget
{
    Q_OBJECT

public:
    TRamPage(BoardSession &session, HexKeyFilter &keys, QWidget *parent = nullptr);

    // The grid's cell texts, by RAM byte, and setting them (the shape calculation writes rows).
    [[nodiscard]] RamCells cells() const;
    void setCell(int byte, const QString &text);
    // True while this page talks to the board, from the click on: the window's other sends and
    // the page's other operations wait for its end.

    // Handlers.
    void BtnReadRAMClick();
    void BtnWriteRAMClick();
    void BtnLoadRAMClick();
    void BtnSaveRAMClick();
    void BtnSendSPIManClick();
    // The microstep table for the Sigma shown into rows 5 to 8; and that, then written to the
    // chip's RAM words 32 to 63.
    void BtnShapeCalcClick();
    void BtnShapeCWClick();

    QTableWidget *StringGridHex = nullptr;
    QProgressBar *ProgressRAMTable = nullptr;
    QPushButton *BtnReadRAM = nullptr;
    QPushButton *BtnWriteRAM = nullptr;
    QPushButton *BtnLoadRAM = nullptr;
    QPushButton *BtnSaveRAM = nullptr;
    QGroupBox *GrpSPIMan = nullptr;
    std::array<QLineEdit *, 4> EditSPIMan{};
    QPushButton *BtnSendSPIMan = nullptr;
    std::array<QLineEdit *, 4> StaticSPIMan{};
    QGroupBox *GrpShape = nullptr;
    TFloatSpinEdit *EditSigma = nullptr;
    QPushButton *BtnShapeCalc = nullptr;
    QPushButton *BtnShapeCW = nullptr;

private:
    void buildGrid(HexKeyFilter &keys);
    void buildSpiDirect(HexKeyFilter &keys);
    void buildShape();
    // Refuses a table with a cell that is not two hexadecimal digits; true when all are.
    [[nodiscard]] bool checkCells();
    void setCells(const RamCells &cells);
    // The grid's font, or a smaller one where the cell's text would not fit.
    void fitCellFont(QTableWidgetItem *item);
    void setBusy(bool busy);
    // Runs the write or read requests of words `firstWord`..63 with the progress shown.
    BoardLink::Batch transfer(const std::vector<Datagram> &requests, int firstWord = 0);
    // Tells which word stopped a read or write: unanswered, or never sent.
    void reportStop(bool write, int word, bool sent);
    // Word w done shows 2w + 3.
    void showProgress(int word);

    BoardSession &m_session;
    bool m_busy = false;
    // What had the focus before a transfer disabled the buttons, to give it back after.
    QPointer<QWidget> m_focusBefore;
    QPointer<QWidget> m_focusHandedTo; // where disabling the buttons put the focus
};

} // namespace kvx
