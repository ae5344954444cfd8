#pragma once

// The register editor window "KVX310 Register Set": five tab pages (three motors, the global
// parameters and the RAM table) over one composed Datagram. Created hidden at program start
// and kept until the end; closing only hides it. It tells the board session whether it is
// shown and which page is active, so that the poll cycle holds that page's registers.
// User-interface thread only.

#include "session/EditorPage.h"

#include <QWidget>

#include <array>
#include <cstdint>

class QTabWidget;

namespace kvx {

class BoardSession;

class TFormAdvanced : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPageCount = kEditorPageCount;

    explicit TFormAdvanced(BoardSession &session, QWidget *parent = nullptr);

    [[nodiscard]] bool EditorShown() const { return m_editorShown; }
    [[nodiscard]] EditorPage activePage() const;
    void setActivePage(EditorPage page);

    // Address byte, data bits 23..16, 15..8, 7..0; shared by every register page.
    std::array<std::uint8_t, 4> ComposedTelegram{0xFF, 0xFF, 0xFF, 0xFF};

    QTabWidget *PageControl = nullptr;
    std::array<QWidget *, kPageCount> Pages{};

    void PageControlChange();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void reportView();

    BoardSession &m_session;
    bool m_editorShown = false;
};

} // namespace kvx
