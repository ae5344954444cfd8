#pragma once

// The register editor window "KVX310 Register Set": five tab pages (three motors, the global
// parameters and the RAM table) over one composed Datagram. Created hidden at program start
// and kept until the end; closing only hides it. The poll scheduler reads EditorShown and the
// active page to decide which registers to poll. User-interface thread only.

#include <QWidget>

#include <array>
#include <cstdint>

class QTabWidget;

namespace kvx {

class TFormAdvanced : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPageCount = 5;
    static constexpr int kRamPage = 4;

    explicit TFormAdvanced(QWidget *parent = nullptr);

    [[nodiscard]] bool EditorShown() const { return m_editorShown; }
    [[nodiscard]] int activePage() const;
    void setActivePage(int page);

    // Address byte, data bits 23..16, 15..8, 7..0; shared by every register page.
    std::array<std::uint8_t, 4> ComposedTelegram{0xFF, 0xFF, 0xFF, 0xFF};

    QTabWidget *PageControl = nullptr;
    std::array<QWidget *, kPageCount> Pages{};

    void PageControlChange();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_editorShown = false;
};

} // namespace kvx
