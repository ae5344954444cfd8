#pragma once

// The "RAM Table" page of the register editor: the chip's 128 RAM bytes as a grid of
// hexadecimal cells, read from and written to the chip as 64 words, saved to and loaded from
// configuration files, with the progress of a transfer; and the " SPI Direct " group that
// sends any typed Datagram and shows the answer. Every exchange goes through the board session
// with polling paused. User-interface thread only.

#include "editor/RamTable.h"
#include "link/BoardLink.h"

#include <QWidget>

#include <array>
#include <vector>

class QLabel;
class QLineEdit;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kvx {

class BoardSession;
class HexKeyFilter;

class TRamPage : public QWidget
{
    Q_OBJECT

public:
    TRamPage(BoardSession &session, HexKeyFilter &keys, QWidget *parent = nullptr);

    // The grid's cell texts, by RAM byte, and setting them (the shape calculation writes rows).
    [[nodiscard]] RamCells cells() const;
    void setCell(int byte, const QString &text);
    // True while a 64-word transfer runs: the window's other sends wait for its end.
    [[nodiscard]] bool busy() const { return m_busy; }

    // Handlers.
    void BtnReadRAMClick();
    void BtnWriteRAMClick();
    void BtnLoadRAMClick();
    void BtnSaveRAMClick();
    void BtnSendSPIManClick();

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

private:
    void buildGrid(HexKeyFilter &keys);
    void buildSpiDirect(HexKeyFilter &keys);
    // Refuses a table with a cell that is not two hexadecimal digits; true when all are.
    [[nodiscard]] bool checkCells();
    void setCells(const RamCells &cells);
    void setBusy(bool busy);
    // Runs the 64 requests with the progress shown, the page busy meanwhile.
    BoardLink::Batch transfer(const std::vector<Datagram> &requests);
    // Tells which word the board did not answer: `text` takes the word, `detail` its bytes.
    void reportWord(const QString &text, const QString &detail, int word);
    void showProgress(int words);

    BoardSession &m_session;
    bool m_busy = false;
};

} // namespace kvx
