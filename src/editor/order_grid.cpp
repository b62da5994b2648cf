#include "editor/order_grid.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <utility>

#include "app/key_translate.h"

namespace qv {

namespace {
// Drag payload: the source position, only ever dropped onto this grid.
constexpr const char* kOrderMime = "application/x-qorvette-order-position";
}  // namespace

OrderGrid::OrderGrid(AppContext& ctx, QWidget* parent) : QTableWidget(1, kColumns, parent), ctx_(ctx) {
    setObjectName("StringGridOrd");
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(8);
    horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    setShowGrid(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    // Drags are this grid's own. The item view's drag-and-drop mode switches
    // drops off (on the viewport too), so drops are switched on after it.
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setWordWrap(false);
    for (int c = 0; c < kColumns; ++c) {
        auto* item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(0, c, item);
    }
    // Fits one row and the scroll bar.
    const int rowHeight = fontMetrics().height() + 8;
    setMinimumHeight(rowHeight + horizontalScrollBar()->sizeHint().height() + 2 * frameWidth());

    popup_ = new QMenu(this);
    popup_->setObjectName("PopupMenuOrd");
    auto add = [this](const char* name, const QString& text, void (OrderGrid::*slot)()) {
        QAction* a = popup_->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    actInsertSame_ = add("OrderInsertSame", "Insert &same", &OrderGrid::OrderInsertSameClick);
    actInsertNew_ = add("OrderInsertNew", "Insert &new", &OrderGrid::OrderInsertNewClick);
    actInsertCopy_ = add("OrderInsertCopy", "Insert &copy", &OrderGrid::OrderInsertCopyClick);
    actDelete_ = add("OrderDeletePos", "&Delete position", &OrderGrid::OrderDeletePosClick);
    popup_->addSeparator();
    actMovePrev_ = add("OrderMovePrev", "Move to prev", &OrderGrid::OrderMovePrevClick);
    actMoveNext_ = add("OrderMoveNext", "Move to next", &OrderGrid::OrderMoveNextClick);
    popup_->addSeparator();
    actLoop_ = add("OrderSetLoopPos", "Set &loop position", &OrderGrid::OrderSetLoopPosClick);
    connect(popup_, &QMenu::aboutToShow, this, &OrderGrid::PopupMenuOrdPopup);

    // Selection by anything but this grid's own handlers (the grid's own
    // navigation keys) still moves the order cursor.
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int column, int, int) {
        if (updating_ || row < 0 || column < 0) return;
        selectColumn(column);
    });

    refresh();
}

bool OrderGrid::playing() const { return ctx_.player.isPlaying(); }

int OrderGrid::orderLength() const { return ctx_.song->order.length; }

QString OrderGrid::cellText(int position) const {
    const OrderList& order = ctx_.song->order;
    if (position < 0 || position >= order.length) return QStringLiteral("...");
    QString text = QString::number(order.entries[position].pattern);
    if (position == order.loopPosition) text += QLatin1Char('L');
    return text;
}

int OrderGrid::visibleColumns() const { return std::max(1, viewport()->width() / kColumnWidth); }

int OrderGrid::firstVisibleColumn() const { return horizontalScrollBar()->value(); }

void OrderGrid::refresh() {
    updating_ = true;
    for (int c = 0; c < kColumns; ++c) {
        QTableWidgetItem* it = item(0, c);
        const QString text = cellText(c);
        if (it->text() != text) it->setText(text);
    }
    showCursor();
    updating_ = false;
}

void OrderGrid::showCursor() {
    const bool was = updating_;
    updating_ = true;
    const int cursor = std::clamp(ctx_.view.orderCursor, 0, kColumns - 1);
    if (currentColumn() != cursor || currentRow() != 0) setCurrentCell(0, cursor);
    // Scroll the cursor into view: it becomes the first visible column when
    // it is left of the view, the last when it is right of it.
    QScrollBar* bar = horizontalScrollBar();
    const int first = bar->value();
    const int visible = visibleColumns();
    if (cursor < first)
        bar->setValue(cursor);
    else if (cursor >= first + visible)
        bar->setValue(cursor - visible + 1);
    updating_ = was;
}

void OrderGrid::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    verticalHeader()->setDefaultSectionSize(viewport()->height());
    showCursor();
}

void OrderGrid::goToPosition(int position) {
    ctx_.view.orderCursor = position;
    if (steersPlayer) ctx_.document.setPlayPosition(position);  // effective only while playing
    ctx_.view.currentPattern = ctx_.song->order.entries[position].pattern;
    ctx_.view.noPatternSelected = false;
}

void OrderGrid::selectColumn(int column) {
    column = std::clamp(column, 0, kColumns - 1);
    if (column < orderLength()) {
        goToPosition(column);
    } else {
        ctx_.view.orderCursor = column;
        ctx_.view.noPatternSelected = true;
    }
    refresh();
    emit cursorMoved();
}

void OrderGrid::afterEdit() {
    refresh();
    emit orderChanged();
}

// ------------------------------------------------------------- value keys

bool OrderGrid::setValue(int value) {
    const OrderList& order = ctx_.document.song().order;
    const int cursor = ctx_.view.orderCursor;
    if (playing() || cursor < 0 || cursor > order.length || cursor >= kOrderEntries) return false;
    // The keys typed on one entry are one step.
    ctx_.document.edit("Order entry", SongChange::orderList(), [&](Song& song) {
        OrderList& o = song.order;
        if (cursor == o.length) ++o.length;  // appended
        o.entries[cursor].pattern = static_cast<uint8_t>(value);
    }, "order entry " + std::to_string(cursor));
    ctx_.view.currentPattern = value;
    ctx_.view.noPatternSelected = false;
    afterEdit();
    emit cursorMoved();
    return true;
}

// The entry under the cursor as the value keys see it; one past the end
// there is no entry yet and the value starts from 0.
static int entryValue(const OrderList& order, int cursor) {
    return cursor < order.length ? order.entries[cursor].pattern : 0;
}

bool OrderGrid::typeDigit(int digit) {
    const OrderList& order = ctx_.song->order;
    const int cursor = ctx_.view.orderCursor;
    if (playing() || cursor > order.length || digit < 0 || digit > 9) return false;
    const int value = entryValue(order, cursor) * 10 + digit;
    return setValue(value < kPatterns ? value : digit);
}

bool OrderGrid::patternInc() {
    const OrderList& order = ctx_.song->order;
    const int cursor = ctx_.view.orderCursor;
    if (playing() || cursor > order.length) return false;
    const int value = cursor == order.length ? 0 : std::min(entryValue(order, cursor) + 1, kPatterns - 1);
    return setValue(value);
}

bool OrderGrid::patternDec() {
    const OrderList& order = ctx_.song->order;
    const int cursor = ctx_.view.orderCursor;
    if (playing() || cursor > order.length) return false;
    const int value = cursor == order.length ? 0 : std::max(entryValue(order, cursor) - 1, 0);
    return setValue(value);
}

bool OrderGrid::backspace() {
    const OrderList& order = ctx_.song->order;
    const int cursor = ctx_.view.orderCursor;
    if (playing() || cursor >= order.length) return false;
    return setValue(order.entries[cursor].pattern / 10);
}

// ---------------------------------------------------------- menu commands

void OrderGrid::PopupMenuOrdPopup() {
    const int length = orderLength();
    const int cursor = ctx_.view.orderCursor;
    actDelete_->setEnabled(length > 1);
    actMovePrev_->setEnabled(cursor > 0);
    actMoveNext_->setEnabled(cursor < length - 1);
}

void OrderGrid::OrderSetLoopPosClick() {
    if (playing()) return;
    const int cursor = ctx_.view.orderCursor;
    if (cursor < 0 || cursor >= orderLength()) return;
    ctx_.document.edit("Loop position", SongChange::orderList(),
                       [&](Song& song) { song.order.loopPosition = static_cast<int16_t>(cursor); });
    afterEdit();
}

void OrderGrid::insertEntry(OrderInsertKind kind) {
    if (playing()) return;
    const int cursor = ctx_.view.orderCursor;
    if (cursor < 0 || cursor >= orderLength() || orderLength() >= kOrderEntries) return;
    bool done;
    SongChange scope = SongChange::allPatterns();  // a new or copied pattern is cleared or filled
    scope.parts |= SongChange::OrderList;
    ctx_.document.edit("Insert order entry", scope,
                       [&](Song& song) { done = insertOrderEntry(song, cursor, kind); });
    if (!done) return;
    goToPosition(cursor);
    afterEdit();
    emit cursorMoved();
}

void OrderGrid::OrderInsertSameClick() { insertEntry(OrderInsertKind::same); }
void OrderGrid::OrderInsertNewClick() { insertEntry(OrderInsertKind::newPattern); }
void OrderGrid::OrderInsertCopyClick() { insertEntry(OrderInsertKind::copyPattern); }

void OrderGrid::OrderDeletePosClick() {
    if (playing()) return;
    const int cursor = ctx_.view.orderCursor;
    if (cursor < 0 || cursor >= orderLength() || orderLength() <= 1) return;
    bool done;
    ctx_.document.edit("Delete order entry", SongChange::orderList(),
                       [&](Song& song) { done = deleteOrderEntry(song, cursor); });
    if (!done) return;
    goToPosition(std::min(cursor, orderLength() - 1));
    afterEdit();
    emit cursorMoved();
}

void OrderGrid::moveEntry(int step) {
    if (playing()) return;
    const int cursor = ctx_.view.orderCursor;
    bool done;
    ctx_.document.edit("Move order entry", SongChange::orderList(),
                       [&](Song& song) { done = swapOrderEntries(song, cursor, cursor + step); });
    if (!done) return;
    goToPosition(cursor + step);
    afterEdit();
    emit cursorMoved();
}

void OrderGrid::OrderMovePrevClick() { moveEntry(-1); }
void OrderGrid::OrderMoveNextClick() { moveEntry(+1); }

bool OrderGrid::dropSwap(int source, int target) {
    if (playing()) return false;
    const int length = orderLength();
    if (source < 0 || source >= length || target < 0 || target >= length) return false;
    bool done;
    ctx_.document.edit("Drag order entry", SongChange::orderList(),
                       [&](Song& song) { done = swapOrderEntries(song, source, target); });
    if (!done) return false;
    goToPosition(target);
    afterEdit();
    emit cursorMoved();
    return true;
}

// ------------------------------------------------------------------- keys

bool OrderGrid::handleCommand() {
    const KeyboardLayout& layout = ctx_.layout;
    if (layout.firesOnce(cmd::OrdToPattern)) {
        emit focusPatternRequested();
        return true;
    }
    if (playing()) return false;
    const OrderList& order = ctx_.song->order;
    const int cursor = ctx_.view.orderCursor;
    if (cursor <= order.length) {
        if (layout.firesRepeated(cmd::OrdPatternInc)) return patternInc(), true;
        if (layout.firesRepeated(cmd::OrdPatternDec)) return patternDec(), true;
    }
    if (cursor < order.length) {
        // The list commands act once per press; the auto-repeat of a held
        // key is consumed without a second edit.
        const std::pair<int, void (OrderGrid::*)()> once[] = {
            {cmd::OrdLoopPosition, &OrderGrid::OrderSetLoopPosClick},
            {cmd::OrdDelete, &OrderGrid::OrderDeletePosClick},
            {cmd::OrdInsertSame, &OrderGrid::OrderInsertSameClick},
            {cmd::OrdInsertCopy, &OrderGrid::OrderInsertCopyClick},
            {cmd::OrdInsertNew, &OrderGrid::OrderInsertNewClick},
            {cmd::OrdMovePrev, &OrderGrid::OrderMovePrevClick},
            {cmd::OrdMoveNext, &OrderGrid::OrderMoveNextClick},
        };
        for (const auto& [command, click] : once) {
            if (layout.firesOnce(command)) return (this->*click)(), true;
            if (layout.firesRepeated(command)) return true;
        }
    }
    return false;
}

bool OrderGrid::handleKey(int code) {
    if (code == vk::Left || code == vk::Right) {
        // The move commands sit on these keys with a modifier (ctrl+left in
        // the default layout): when one of them fires it takes the key.
        const int move = code == vk::Left ? cmd::OrdMovePrev : cmd::OrdMoveNext;
        if (ctx_.layout.firesRepeated(move)) {
            // Once per press: a held key does not walk the entry along.
            if (ctx_.layout.firesOnce(move) && ctx_.view.orderCursor < orderLength())
                moveEntry(code == vk::Left ? -1 : 1);
            return true;
        }
        const int column = std::clamp(currentColumn() + (code == vk::Left ? -1 : 1), 0, kColumns - 1);
        selectColumn(column);
        return true;
    }
    if (ctx_.layout.firesOnce(cmd::OrdToPattern)) {
        emit focusPatternRequested();
        return true;
    }
    if (playing()) return true;  // no edits while the song plays
    const int cursor = ctx_.view.orderCursor;
    const int length = orderLength();
    if (code >= vk::digit(0) && code <= vk::digit(9)) {
        if (cursor <= length) typeDigit(code - vk::digit(0));
        return true;
    }
    if (code == vk::Back && cursor < length) {
        backspace();
        return true;
    }
    return handleCommand();
}

void OrderGrid::keyPressEvent(QKeyEvent* event) {
    const int code = windowsVirtualKey(*event);
    if (code != 0 && handleKey(code)) {
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

// ------------------------------------------------------------------ mouse

void OrderGrid::mousePressEvent(QMouseEvent* event) {
    const int column = columnAt(event->position().toPoint().x());
    if (event->button() == Qt::RightButton) {
        // The pop-up menu that follows acts on the clicked entry.
        setFocus(Qt::MouseFocusReason);
        if (column >= 0) selectColumn(column);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    pressed_ = true;
    pressPos_ = event->position().toPoint();
    pressColumn_ = column;
    if (column >= 0) selectColumn(column);
    event->accept();
}

void OrderGrid::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void OrderGrid::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint pos = event->position().toPoint();
    if ((pos - pressPos_).manhattanLength() < QApplication::startDragDistance()) return;
    pressed_ = false;
    // The entry dragged is the one pressed, not the one the pointer has
    // reached when the drag threshold is crossed.
    const int column = pressColumn_;
    dragSource_ = column >= 0 && column < orderLength() ? column : -1;
    auto* mime = new QMimeData;
    mime->setData(kOrderMime, QByteArray::number(dragSource_));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
    dragSource_ = -1;
}

void OrderGrid::mouseReleaseEvent(QMouseEvent* event) {
    pressed_ = false;
    dragSource_ = -1;
    event->accept();
}

bool OrderGrid::acceptsDrop(const QPoint& pos) const {
    const int column = columnAt(pos.x());
    return !ctx_.player.isPlaying() && dragSource_ >= 0 && dragSource_ < ctx_.song->order.length &&
           column >= 0 && column < ctx_.song->order.length;
}

void OrderGrid::dragEnterEvent(QDragEnterEvent* event) {
    if (event->source() == this && event->mimeData()->hasFormat(kOrderMime))
        event->acceptProposedAction();
    else
        event->ignore();
}

void OrderGrid::dragMoveEvent(QDragMoveEvent* event) {
    if (event->source() == this && acceptsDrop(event->position().toPoint()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void OrderGrid::dropEvent(QDropEvent* event) {
    const int target = columnAt(event->position().toPoint().x());
    if (event->source() == this && acceptsDrop(event->position().toPoint())) {
        dropSwap(dragSource_, target);
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
    dragSource_ = -1;
}

void OrderGrid::contextMenuEvent(QContextMenuEvent* event) {
    popup_->exec(event->globalPos());  // aboutToShow sets the enabled states
    event->accept();
}

}  // namespace qv
