// The order list editor of the Patterns page: one row of 256 cells, one per
// order position, showing the pattern number of each entry ("12L" at the
// loop position, "..." past the end). Its cursor is the editor's order
// cursor; pattern numbers are typed in decimal, entries are inserted,
// deleted, moved and dragged here. Every edit is refused while the Player
// runs; moving the cursor then only tells the Player the new position.
//
// Keys: the grid's own key handler takes the fixed keys (Left, Right, the
// digits, Backspace) and then calls handleCommand(), which acts on the ord*
// command states that the key dispatcher has already set in the layout. A
// dispatcher that lets the key event reach the grid must not call
// handleCommand() itself for the same key.
#pragma once

#include <QPoint>
#include <QTableWidget>

#include "app/app_context.h"

class QMenu;
class QAction;

namespace qv {

class OrderGrid : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kColumns = kOrderEntries;
    static constexpr int kColumnWidth = 32;

    explicit OrderGrid(AppContext& ctx, QWidget* parent = nullptr);

    // Re-reads the Song: every cell text, the selected cell at the order
    // cursor, scrolled into view.
    void refresh();
    // Text of the cell at an order position.
    QString cellText(int position) const;
    // Selects a column (0-255) as a click or an arrow key does: goes to the
    // position when it holds an entry, else enters the no-pattern state.
    void selectColumn(int column);
    // Runs the ord* commands whose key states the key dispatcher has set;
    // true when one of them was taken (the key is then consumed).
    bool handleCommand();
    // Going to a position moves a playing song there too (off while the
    // pattern cursor does not follow the song).
    bool steersPlayer = true;
    // The grid's key handling for a Windows virtual-key code; true when the
    // key was consumed.
    bool handleKey(int code);

    // The pop-up menu commands; each does nothing while playing.
    void OrderSetLoopPosClick();
    void OrderInsertSameClick();
    void OrderInsertNewClick();
    void OrderInsertCopyClick();
    void OrderDeletePosClick();
    void OrderMovePrevClick();
    void OrderMoveNextClick();
    // Enables the menu items for the current state (run before showing).
    void PopupMenuOrdPopup();
    QMenu* popupMenu() const { return popup_; }

    // Value keys: a typed digit, the increment and decrement of the entry,
    // and Backspace. False when refused or not applicable.
    bool typeDigit(int digit);
    bool patternInc();
    bool patternDec();
    bool backspace();
    // A drop of the drag source onto a target position: swaps the two
    // entries. False when refused.
    bool dropSwap(int source, int target);
    int dragSource() const { return dragSource_; }

    // Columns that fit into the viewport (at least 1).
    int visibleColumns() const;
    int firstVisibleColumn() const;

signals:
    // After every edit of the order list (length, entries, loop position).
    void orderChanged();
    // After the order cursor or the no-pattern state changed.
    void cursorMoved();
    // ordToPattern: the window gives the pattern view the focus.
    void focusPatternRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool playing() const;
    int orderLength() const;
    // Goes to an entry: cursor, Player position, current pattern.
    void goToPosition(int position);
    // Writes a value into the entry at the cursor, appending one past the end.
    bool setValue(int value);
    void insertEntry(OrderInsertKind kind);
    void moveEntry(int step);
    // Recounts the song timing after an edit and tells the window.
    void afterEdit();
    void showCursor();
    bool acceptsDrop(const QPoint& pos) const;

    AppContext& ctx_;
    QMenu* popup_ = nullptr;
    QAction* actLoop_ = nullptr;
    QAction* actInsertSame_ = nullptr;
    QAction* actInsertNew_ = nullptr;
    QAction* actInsertCopy_ = nullptr;
    QAction* actDelete_ = nullptr;
    QAction* actMovePrev_ = nullptr;
    QAction* actMoveNext_ = nullptr;
    int dragSource_ = -1;
    QPoint pressPos_;
    int pressColumn_ = -1;
    bool pressed_ = false;
    bool updating_ = false;
};

}  // namespace qv
