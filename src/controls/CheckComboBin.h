#pragma once

// TCheckedComboBinary: a combo-box-like control for a small bit set. Closed, it shows the set
// as a string of '0' and '1', item 0 rightmost; its arrow button drops down a check list with
// one named item per bit, and a context menu there checks or clears them all. It holds no
// number: its owner reads BitText and sets single items. Owns its text box, arrow button, the
// borderless drop-down with the check list and the context menu. User-interface thread only.

#include <QColor>
#include <QFrame>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QToolButton;

namespace kvx {

class TCheckedComboBinary : public QFrame
{
    Q_OBJECT

public:
    static constexpr int kArrowWidth = 16;
    static constexpr int kMinDropDownLines = 2;
    static constexpr int kMaxDropDownLines = 10;

    explicit TCheckedComboBinary(QWidget *parent = nullptr);
    ~TCheckedComboBinary() override;

    // Captions of the context menu's two commands; they take effect at the next drop-down.
    QString CapSelectAll;
    QString CapDeSelectAll;

    [[nodiscard]] QStringList Items() const { return m_items; }
    // New names, all unchecked; OnChange is not fired.
    void setItems(const QStringList &items);
    [[nodiscard]] bool Sorted() const { return m_sorted; }
    void setSorted(bool sorted);
    [[nodiscard]] int Columns() const { return m_columns; }
    void setColumns(int columns);
    [[nodiscard]] int DropDownLines() const { return m_dropDownLines; }
    // 2 to 10; any other value leaves it as it is.
    void setDropDownLines(int lines);
    [[nodiscard]] QColor NotFocusColor() const { return m_notFocusColor; }
    void setNotFocusColor(const QColor &color);

    // The bit string: one character per item, item 0 rightmost.
    [[nodiscard]] QString BitText() const;
    // Sets one item's mark and fires OnChange, whether or not the mark changed; an index
    // outside the items is ignored.
    void SetChecked(int index, bool checked);
    [[nodiscard]] bool isChecked(int index) const;

    // The arrow button's click (or F4, Alt+Down in the text box): opens the drop-down.
    void ArrowClick();
    [[nodiscard]] bool isDroppedDown() const;
    void closeDropDown();
    // The context menu's two commands.
    void SelectAll();
    void DeSelectAll();

    // The parts, for the owner's layout and for tests.
    QLineEdit *TextBox = nullptr;
    QToolButton *ArrowButton = nullptr;
    QFrame *DropDown = nullptr;
    QListWidget *CheckList = nullptr;
    QMenu *ContextMenu = nullptr;

signals:
    void OnChange();
    void OnClick();
    void OnEnter();
    void OnExit();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void layoutParts();
    void setAll(bool checked);
    void fillCheckList();
    void render();
    void markFromCheckList(QListWidgetItem *item);
    [[nodiscard]] int longestItem() const;

    QStringList m_items;
    bool m_sorted = false;
    int m_columns = 0;
    int m_dropDownLines = kMinDropDownLines;
    QColor m_notFocusColor = Qt::white;
    bool m_filling = false;
};

} // namespace kvx
