#pragma once

// The register editor window "KVX310 Register Set": five tab pages (three motors, the global
// parameters and the RAM table) over one composed Datagram. Created hidden at program start
// and kept until the end; closing only hides it. It attaches its display fields and decoders
// to the board session's poll table, tells the session whether it is shown and which page is
// active, and sends through it with polling paused. User-interface thread only.

#include "chip/Datagram.h"
#include "editor/EditorPage.h"

#include <QWidget>

#include <array>

class QTabWidget;

namespace kvx {

class BoardSession;
class HexKeyFilter;
class TBoardSnapshot;
class TGlobalPage;
class TMotorPage;
class TRamPage;

class TFormAdvanced : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPageCount = kEditorPageCount;

    explicit TFormAdvanced(BoardSession &session, QWidget *parent = nullptr);
    ~TFormAdvanced() override;

    [[nodiscard]] bool EditorShown() const { return m_editorShown; }
    [[nodiscard]] EditorPage activePage() const;
    void setActivePage(EditorPage page);

    // The one telegram every register page composes into and every send button sends.
    Datagram ComposedTelegram{0xFF, {0xFF, 0xFF, 0xFF}};

    QTabWidget *PageControl = nullptr;
    std::array<QWidget *, kPageCount> Pages{};
    std::array<TMotorPage *, 3> MotorPages{};
    TGlobalPage *GlobalPage = nullptr;
    TRamPage *RamPage = nullptr;
    // "Save board..." and "Load board...", beside the page tabs.
    TBoardSnapshot *BoardSnapshot = nullptr;

    // Handlers; the pages carry their own (TMotorPage::RGMotClick, TRamPage::BtnReadRAMClick...).
    void PageControlChange();
    // Sends ComposedTelegram with polling paused; its reply is not shown, only whether there
    // was one.
    void BtnSendMot1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void reportView();

    BoardSession &m_session;
    // The window's hexadecimal fields share one key filter.
    HexKeyFilter *m_hexKeys = nullptr;
    bool m_editorShown = false;
};

} // namespace kvx
