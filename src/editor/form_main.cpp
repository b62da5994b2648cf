#include "editor/form_main.h"

#include <cstdio>

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/single_instance.h"
#include "app/toggle_look.h"
#include "dialogs/form_about.h"
#include "dialogs/help_window.h"
#include "io/command_help.h"
#include "dialogs/info_page.h"
#include "dialogs/settings_page.h"
#include "dialogs/block_commands.h"
#include "editor/export_commands.h"
#include "editor/file_flow.h"
#include "editor/key_dispatcher.h"
#include "editor/order_grid.h"
#include "editor/pattern_input.h"
#include "editor/pattern_view.h"
#include "instrument/instrument_page.h"
#include "instrument/instrument_widgets.h"
#include "instrument/knob.h"
#include "io/mod_import.h"
#include "io/register_dump.h"
#include "io/vgm_export.h"
#include "song/edit_ops.h"
#include "song/module_file.h"

namespace qv {

namespace {

// The oscilloscope box: draws the sample source's display points while the
// analyse display is on; a click toggles it.
class ScopeBox : public QWidget {
public:
    ScopeBox(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
        setObjectName("PaintBoxLvl");
        setToolTip("Click to change");
        setFixedSize(96, 28);
        ctx_.source.setupScope(width(), height());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (!ctx_.source.scopeOn.load()) return;
        const std::vector<int> points = ctx_.source.scopeDisplay();
        p.setPen(QColor(0, 255, 0));
        for (size_t x = 1; x < points.size(); ++x)
            p.drawLine(int(x) - 1, points[x - 1], int(x), points[x]);
    }
    void mousePressEvent(QMouseEvent*) override {
        ctx_.settings.analyzeType = !ctx_.source.scopeOn.load();
        ctx_.source.scopeOn.store(ctx_.settings.analyzeType);
        update();
    }

private:
    AppContext& ctx_;
};

QToolButton* speedButton(QWidget* parent, const char* name, const QString& text,
                         const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);  // a click never takes the focus from the editor
    return b;
}

}  // namespace

TFormMain::TFormMain(AppContext& ctx, QWidget* parent)
    : QMainWindow(parent), UserDialogs(ctx.layout), ctx_(ctx) {
    setObjectName("FormMain");
    messageBoxFn = [this](const QString& text, const QString& caption,
                          QMessageBox::StandardButtons buttons) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, this);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
    openDialogFn = [this](const QString& title, const QString& start, const QString& filter,
                          const QString&) {
        return QFileDialog::getOpenFileName(this, title, start, filter);
    };
    openFilesDialogFn = [this](const QString& title, const QString& start, const QString& filter,
                               const QString&) {
        return QFileDialog::getOpenFileNames(this, title, start, filter);
    };
    saveDialogFn = [this](const QString& title, const QString& start, const QString& filter,
                          const QString& suffix) {
        QFileDialog dialog(this, title, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    };

    files_ = new FileFlow(ctx_, *this, this);
    exports_ = new ExportCommands(ctx_, *this, this);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);
    buildToolbar(central);
    buildPages();
    column->addWidget(pages_, 1);
    buildMenus();
    wireEditor();
    scrollPtn_->setFocus();  // the Patterns page is shown first
    formTranspose_ = new TFormTranspose(this);
    formDuplicate_ = new TFormDuplicate(this);
    formScale_ = new TFormScale(this);

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    // The player tells when it moves on (positionChanged); the timer is only
    // the safety net, and notices a song that ended by itself.
    timer1_->setInterval(100);
    ctx_.player.setPositionListener(this);
    connect(timer1_, &QTimer::timeout, this, &TFormMain::Timer1Timer);
    timer2_ = new QTimer(this);
    timer2_->setObjectName("Timer2");
    timer2_->setInterval(20);
    connect(timer2_, &QTimer::timeout, this, &TFormMain::Timer2Timer);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive) applicationDeactivated();
            });

    // Window bounds from the settings, or the designed client size centred.
    const Settings& s = ctx_.settings;
    if (s.hasWindowBounds()) {
        setGeometry(s.windowLeft, s.windowTop, s.windowWidth, s.windowHeight);
    } else {
        resize(799, 522 + menuBar()->sizeHint().height());
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    if (s.windowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
    for (int i = 0; i < Settings::kRecentFiles; ++i) recent_[i]->setText(s.recentNames[i]);
    files_->setRecentActions(recent_);
    wireFileFlow();
    ctx_.source.scopeOn.store(s.analyzeType);

    setCaption();
    refreshAfterNewSong();
    documentListener_ = ctx_.document.addListener([this](const SongChange& c) { songChanged(c); });
    ctx_.document.setPlaceSource([this](SongChange& c) {
        if (c.orderPosition < 0 && !ctx_.view.noPatternSelected) c.orderPosition = ctx_.view.orderCursor;
        if (c.cursorRow < 0) c.cursorRow = ctx_.view.cursorRow;
        if (c.cursorColumn < 0) c.cursorColumn = ctx_.view.cursorColumn;
    });
    refreshUndoItems();
    timer2_->start();
}

TFormMain::~TFormMain() {
    // Closing the window moves the focus once more; the pattern input is gone by then.
    if (qApp) disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    ctx_.document.removeListener(documentListener_);
    ctx_.document.setPlaceSource({});
    ctx_.player.setPositionListener(nullptr);
    ctx_.audio.syncWithRenderer();
    timer1_->stop();
    timer2_->stop();
    if (keys_) keys_->uninstall();
}

QAction* TFormMain::menuAction(const char* name) const { return findChild<QAction*>(name); }

void TFormMain::syncInputOptions() {
    PatternInput::Options& o = input_->options;
    o.octave = upDownOctave_->value();
    o.autoInstrumentOn = aIns_->isChecked();
    o.autoInstrument = upDownAIns_->value();
    o.autoVolumeOn = aVol_->isChecked();
    o.autoVolume = upDownAVol_->value();
    o.autoStepOn = aStep_->isChecked();
    o.autoStepValue = upDownAStep_->value();
    o.editSong = editSong_->isChecked();
    o.followSong = followSong_->isChecked();
    if (ordGrid_) ordGrid_->steersPlayer = o.followSong;
}

void TFormMain::wireEditor() {
    input_ = std::make_unique<PatternInput>(ctx_);
    PatternInput& in = *input_;
    syncInputOptions();
    for (QSpinBox* spin : {upDownOctave_, upDownAIns_, upDownAVol_, upDownAStep_})
        connect(spin, &QSpinBox::valueChanged, this, [this] { syncInputOptions(); });
    for (QToolButton* b : {aIns_, aVol_, aStep_, editSong_, followSong_})
        connect(b, &QToolButton::toggled, this, [this] { syncInputOptions(); });
    connect(editSong_, &QToolButton::toggled, this, [this](bool on) { ptnView_->setEditSongMode(on); });

    connect(&in, &PatternInput::redrawNeeded, this, &TFormMain::redrawPattern);
    connect(&in, &PatternInput::songLengthChanged, this, &TFormMain::recomputeLength);
    connect(&in, &PatternInput::patternLengthChanged, this, &TFormMain::showCurrentPattern);
    connect(&in, &PatternInput::timeChanged, this, &TFormMain::refreshPosition);
    connect(&in, &PatternInput::octaveChanged, upDownOctave_, &QSpinBox::setValue);
    connect(&in, &PatternInput::autoStepChanged, this, [this](bool on, int value) {
        aStep_->setChecked(on);
        upDownAStep_->setValue(value);
    });
    connect(&in, &PatternInput::autoInstrumentChanged, upDownAIns_, &QSpinBox::setValue);
    connect(&in, &PatternInput::editSongToggled, editSong_, &QToolButton::setChecked);
    connect(&in, &PatternInput::patternStepRequested, this,
            [this](int step) { upDownPtn_->setValue(upDownPtn_->value() + step); });
    connect(&in, &PatternInput::orderCursorChanged, this, [this] {
        if (!ctx_.view.noPatternSelected) upDownPtn_->setValue(ctx_.view.currentPattern);
        refreshOrderGrid();
        redrawPattern();
        refreshPosition();
    });
    connect(&in, &PatternInput::focusOrderRequested, ordGrid_,
            [this] { ordGrid_->setFocus(); });
    connect(&in, &PatternInput::cursorChannelChanged, ptnHeader_, &PatternHeader::followCursor);
    connect(&in, &PatternInput::playStarted, this, &TFormMain::afterStart);
    connect(&in, &PatternInput::popupMenuRequested, popupPtn_,
            [this](QPoint at) { popupPtn_->popup(at); });
    in.visibleRows = [this] { return ptnView_->visibleRows(); };
    // The pattern view losing the focus (to another control, or with the
    // window) ends a playback held by the play key.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        auto inView = [this](const QWidget* w) { return w && (w == scrollPtn_ || w == ptnView_); };
        if (inView(old) && !inView(now)) input_->focusLost();
    });

    connect(ptnView_, &PatternView::cellClicked, this,
            [this](int row, int column, Qt::KeyboardModifiers mods) {
                scrollPtn_->setFocus();
                input_->mouseClick(row, column, mods);
            });
    connect(ptnView_, &PatternView::mouseDragged, this,
            [this](int row, int column) { input_->mouseDrag(row, column); });
    connect(ptnView_, &PatternView::cellReleased, this,
            [this](int row, int column, Qt::KeyboardModifiers mods) {
                input_->mouseRelease(row, column, mods);
            });
    connect(ptnView_, &PatternView::cellDoubleClicked, this,
            [this](int row, int column) { input_->mouseDoubleClick(row, column); });
    connect(ptnView_, &PatternView::wheelSteps, this, [this](int steps) { input_->wheel(steps); });
    connect(ptnView_, &PatternView::contextMenuRequested, this,
            [this](QPoint at) { input_->contextMenu(at); });

    // The grid has already written the Song and its own cells; the window
    // shows the entry's pattern, the new song length and the position.
    connect(ordGrid_, &OrderGrid::orderChanged, this, [this] {
        if (!ctx_.view.noPatternSelected) showCurrentPattern();
        showNoPatternState();
        recomputeLength();
        redrawPattern();
    });
    // Going to a position: while playing the Player has been told already
    // and the follower shows its pattern; otherwise the pattern controls
    // show the entry's.
    connect(ordGrid_, &OrderGrid::cursorMoved, this, [this] {
        if (!ctx_.view.noPatternSelected && !timer1_->isActive()) showCurrentPattern();
        showNoPatternState();
        redrawPattern();
        refreshPosition();
    });
    connect(ordGrid_, &OrderGrid::focusPatternRequested, this, [this] { scrollPtn_->setFocus(); });

    // Edit and Block menus and the pattern pop-up run the pattern input's commands.
    const std::array<std::pair<const char*, void (PatternInput::*)()>, 14> commands{{
        {"EditCut", &PatternInput::EditCutClick},
        {"EditCopy", &PatternInput::EditCopyClick},
        {"EditPaste", &PatternInput::EditPasteClick},
        {"EditPasteOver", &PatternInput::EditPasteOverClick},
        {"EditDelete", &PatternInput::EditDeleteClick},
        {"EditSelectAll", &PatternInput::EditSelectAllClick},
        {"EditUnselectAll", &PatternInput::EditUnselectAllClick},
        {"BlockExpand", &PatternInput::BlockExpandClick},
        {"BlockShrink", &PatternInput::BlockShrinkClick},
        {"BlockVolumeGradient", &PatternInput::BlockVolumeGradientClick},
        {"BlockEffectGradient", &PatternInput::BlockEffectGradientClick},
        {"BlockAssignIns", &PatternInput::BlockAssignInstrumentClick},
        {"PopupTransOctUp", &PatternInput::TransposeOctaveUpClick},
        {"PopupTransOctDown", &PatternInput::TransposeOctaveDownClick},
    }};
    for (const auto& [name, method] : commands) {
        QAction* a = findChild<QAction*>(name);
        if (!a) continue;
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, [this, method = method] { ((*input_).*method)(); });
    }
    const std::array<std::pair<const char*, void (PatternInput::*)()>, 2> semis{{
        {"PopupTransSemiUp", &PatternInput::TransposeSemitoneUpClick},
        {"PopupTransSemiDown", &PatternInput::TransposeSemitoneDownClick},
    }};
    for (const auto& [name, method] : semis) {
        QAction* a = findChild<QAction*>(name);
        if (!a) continue;
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, [this, method = method] { ((*input_).*method)(); });
    }
    // The pop-up's items mirror the menu items of the same caption.
    for (QAction* a : popupPtn_->actions()) {
        const std::array<std::pair<const char*, const char*>, 10> same{{
            {"Cut", "EditCut"}, {"Copy", "EditCopy"}, {"Paste", "EditPaste"},
            {"Paste over", "EditPasteOver"}, {"Delete", "EditDelete"}, {"Expand", "BlockExpand"},
            {"Shrink", "BlockShrink"}, {"Volume gradient", "BlockVolumeGradient"},
            {"Effect gradient", "BlockEffectGradient"}, {"Assign instrument", "BlockAssignIns"}}};
        for (const auto& [caption, name] : same) {
            if (a->text() != caption) continue;
            QAction* target = findChild<QAction*>(name);
            a->setEnabled(true);
            connect(a, &QAction::triggered, target, &QAction::trigger);
        }
    }

    keys_ = new KeyDispatcher(ctx_, in, this);
    keys_->patternEditorActive = [this] {
        QWidget* focus = QApplication::focusWidget();
        return pages_->currentIndex() == 0 && focus && (focus == scrollPtn_ || focus == ptnView_);
    };
    keys_->mainWindowActive = [this] { return isActiveWindow(); };
    keys_->instrumentControlKey = [this](int code, bool down) {
        return pages_->currentWidget() == insPage_ && insPage_->controlKey(code, down);
    };
    keys_->instrumentPageActive = [this] {
        return pages_->currentWidget() == insPage_ && insPage_->keysActive();
    };
    connect(keys_, &KeyDispatcher::instrumentNote, insPage_, &InstrumentPage::noteKey);
    keys_->onInstrumentWheel = [this](int steps) {
        return pages_->currentWidget() == insPage_ && insPage_->wheelSteps(steps);
    };
    connect(keys_, &KeyDispatcher::globalCommand, this, &TFormMain::globalCommand);
    keys_->onPlayKeyReleased = [this] {
        if (!timer1_->isActive()) return false;
        SpeedButtonStopClick();
        return true;
    };
    keys_->install();
}

void TFormMain::globalCommand(int command) {
    switch (command) {
    case cmd::GenOpenMod: files_->FileLoadClick(); break;
    case cmd::GenUndo: undoClick(); break;
    case cmd::GenRedo: redoClick(); break;
    case cmd::GenSaveMod: files_->FileSaveClick(); break;
    case cmd::GenPlayAll: if (playAll_->isEnabled()) SpeedButtonPlayAllClick(); break;
    case cmd::GenPlayCur: if (playPos_->isEnabled()) SpeedButtonPlayPosClick(); break;
    case cmd::GenPlayPtn: if (playPtn_->isEnabled()) SpeedButtonPlayPtnClick(); break;
    case cmd::GenStop: if (stop_->isEnabled()) SpeedButtonStopClick(); break;
    case cmd::GenReset: SpeedButtonResetClick(); break;
    case cmd::GenMuteAll: ptnHeader_->muteAll(); break;
    case cmd::GenFollowSong: followSong_->toggle(); break;
    case cmd::GenSoloMode: ptnHeader_->soloChannel(ctx_.view.cursorChannel()); break;
    case cmd::GenToPtnEdit:
        pages_->setCurrentIndex(0);
        scrollPtn_->setFocus();
        break;
    case cmd::GenToInsEdit: pages_->setCurrentIndex(1); break;
    case cmd::GenToInfo: pages_->setCurrentIndex(2); break;
    case cmd::GenToSettings: pages_->setCurrentIndex(3); break;
    case cmd::GenShowHelp: HelpShowClick(); break;
    default:
        if (command >= cmd::GenMuteA && command < cmd::GenMuteA + kChannels)
            ptnHeader_->muteChannel(command - cmd::GenMuteA);
        break;
    }
}

// ---- undo and redo ----------------------------------------------------------

bool TFormMain::undoRedoAllowed(const UndoStep* step) const {
    if (!step) return false;
    // While a song plays only the edits allowed then (cells, instruments,
    // texts) may be taken back or done again.
    return !timer1_->isActive() ||
           !step->change.touches(SongChange::PatternLength | SongChange::OrderList | SongChange::Speeds);
}

bool TFormMain::undoClick() {
    if (!undoRedoAllowed(ctx_.document.nextUndo())) return false;
    return ctx_.document.undo();
}

bool TFormMain::redoClick() {
    if (!undoRedoAllowed(ctx_.document.nextRedo())) return false;
    return ctx_.document.redo();
}

void TFormMain::refreshUndoItems() {
    if (QAction* a = menuAction("EditUndo")) {
        const bool can = ctx_.document.canUndo();
        a->setEnabled(can);
        a->setText(can ? "Undo " + QString::fromStdString(ctx_.document.undoText()) : QString("Undo"));
    }
    if (QAction* a = menuAction("EditRedo")) {
        const bool can = ctx_.document.canRedo();
        a->setEnabled(can);
        a->setText(can ? "Redo " + QString::fromStdString(ctx_.document.redoText()) : QString("Redo"));
    }
}

void TFormMain::songChanged(const SongChange& change) {
    refreshUndoItems();
    using C = SongChange::Cause;
    if (change.cause == C::Undo || change.cause == C::Redo) {
        showChangePlace(change);
        return;
    }
    if (change.cause == C::Save) return;  // the save itself refreshes the info page
    if (change.cause != C::Edit) return;  // a new, loaded or replaced song: refreshAfterNewSong
    // An edit: the views showing what it touched follow. The editor that
    // made it has refreshed its own controls.
    if (change.touches(SongChange::Cells | SongChange::PatternLength)) redrawPattern();
    if (change.touches(SongChange::OrderList)) refreshOrderGrid();
    if (change.touchesTiming()) recomputeLength();
}

void TFormMain::showChangePlace(const SongChange& c) {
    EditorViewState& v = ctx_.view;
    const Song& song = ctx_.document.song();
    if (c.touches(SongChange::WholeSong)) {
        refreshAfterNewSong();
        pages_->setCurrentIndex(0);
        return;
    }
    const bool patternPage = c.touches(SongChange::Cells | SongChange::PatternLength | SongChange::OrderList |
                                       SongChange::Speeds);
    if (c.touches(SongChange::Instrument)) {
        if (c.instrument > 0) ctx_.view.currentInstrument = c.instrument;
        insPage_->refreshAfterInstrumentsMoved();
        if (!patternPage) pages_->setCurrentIndex(1);
    }
    if (c.touches(SongChange::Texts)) {
        infoPage_->loadFromSong();
        infoPage_->refreshFields();
        if (!patternPage && !c.touches(SongChange::Instrument)) pages_->setCurrentIndex(2);
    }
    if (!patternPage) return;
    pages_->setCurrentIndex(0);
    // The order position where the change was made when it still plays the
    // changed pattern, else the first one that does.
    int position = c.orderPosition;
    const int length = song.order.length;
    if (c.pattern >= 0 && (position < 0 || position >= length || song.order.entries[position].pattern != c.pattern)) {
        position = -1;
        for (int i = 0; i < length && position < 0; ++i)
            if (song.order.entries[i].pattern == c.pattern) position = i;
    }
    if (position >= 0 && position < length) {
        v.orderCursor = position;
        v.currentPattern = song.order.entries[position].pattern;
        v.noPatternSelected = false;
    } else if (c.pattern >= 0) {
        v.currentPattern = c.pattern;  // a pattern no entry plays
    } else {
        v.orderCursor = std::clamp<int>(v.orderCursor, 0, length - 1);
        v.currentPattern = song.order.entries[v.orderCursor].pattern;
        v.noPatternSelected = false;
    }
    if (c.cursorColumn >= 0) v.cursorColumn = std::clamp(c.cursorColumn, 0, kChannels * 8 - 1);
    const int row = c.firstRow >= 0 && (c.cursorRow < c.firstRow || c.cursorRow > c.lastRow) ? c.firstRow : c.cursorRow;
    if (row >= 0) v.cursorRow = row;
    v.selection = Selection{};
    input_->reset();
    showCurrentPattern();  // also keeps the cursor within the pattern
    showNoPatternState();
    showSongTiming();
    refreshOrderGrid();
    recomputeLength();
    redrawPattern();
    ptnHeader_->followCursor(v.cursorChannel());
    scrollPtn_->setFocus();
}

// ---- construction -----------------------------------------------------------

void TFormMain::buildToolbar(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName("PanelToolbar");
    // Two groups, the buttons and the time display with the meters: side
    // by side when the window is wide enough, else one above the other.
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setSpacing(2);
    toolButtons_ = new QWidget(panel);
    auto* row = new QHBoxLayout(toolButtons_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    toolStatus_ = new QWidget(panel);
    auto* statusRow = new QHBoxLayout(toolStatus_);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(2);
    grid->addWidget(toolButtons_, 0, 0);
    grid->addWidget(toolStatus_, 0, 1);
    grid->setColumnStretch(1, 1);
    toolbar_ = panel;
    panel->installEventFilter(this);
    QWidget* buttons = toolButtons_;
    auto* newB = speedButton(buttons, "SpeedButtonModNew", "New", "New module");
    auto* openB = speedButton(buttons, "SpeedButtonModOpen", "Open", "Open module");
    auto* saveB = speedButton(buttons, "SpeedButtonModSave", "Save", "Save module");
    playAll_ = speedButton(buttons, "SpeedButtonPlayAll", QString::fromUtf8("\u25B6"),
                           "Play from start (F5)");
    playPos_ = speedButton(buttons, "SpeedButtonPlayPos", QString::fromUtf8("\u25B7"),
                           "Play from current position (F6)");
    playPtn_ = speedButton(buttons, "SpeedButtonPlayPtn", QString::fromUtf8("\u21BB"),
                           "Play pattern in loop (F8)");
    stop_ = speedButton(buttons, "SpeedButtonStop", QString::fromUtf8("\u25A0"), "Stop playing (ESC)");
    stop_->setEnabled(false);
    reset_ = speedButton(buttons, "SpeedButtonReset", "Reset", "Reset all sounds (Shift+ESC)");
    editSong_ = speedButton(buttons, "SpeedButtonEditSong", "EditSong", "EditSong");
    editSong_->setCheckable(true);
    setToggleLook(editSong_);
    followSong_ = speedButton(buttons, "SpeedButtonFollowSong", "Follow song", "Follow song (Scroll Lock)");
    followSong_->setCheckable(true);
    followSong_->setChecked(true);
    setToggleLook(followSong_);
    testSignal_ = speedButton(buttons, "SpeedButtonTestSignal", "Test", "Test signal on/off");
    testSignal_->setCheckable(true);
    setToggleLook(testSignal_);
    for (QWidget* w : {static_cast<QWidget*>(newB), static_cast<QWidget*>(openB),
                       static_cast<QWidget*>(saveB), static_cast<QWidget*>(playAll_),
                       static_cast<QWidget*>(playPos_), static_cast<QWidget*>(playPtn_),
                       static_cast<QWidget*>(stop_), static_cast<QWidget*>(reset_),
                       static_cast<QWidget*>(editSong_), static_cast<QWidget*>(followSong_)})
        row->addWidget(w);
    row->addStretch(1);

    volume_ = new QSlider(Qt::Horizontal, panel);
    volume_->setObjectName("TrackBarVol");
    volume_->setRange(0, 255);
    volume_->setValue(ctx_.settings.waveOutputVolume);
    volume_->setFixedWidth(90);
    volume_->setToolTip("Volume");

    bufSize_ = new QComboBox(panel);
    bufSize_->setObjectName("ComboBoxBufSize");
    for (int i = 0; i < Settings::kBufferSizes; ++i) bufSize_->addItem(QString::number(2048 << i));
    bufSize_->setCurrentIndex(std::clamp(ctx_.settings.waveBlockSize, 0, Settings::kBufferSizes - 1));
    bufSize_->setToolTip("Size:");
    bufCount_ = new QComboBox(panel);
    bufCount_->setObjectName("ComboBoxBufCount");
    for (int i = 0; i < Settings::kBufferCounts; ++i) bufCount_->addItem(QString::number(i + 2));
    bufCount_->setCurrentIndex(std::clamp(ctx_.settings.waveBlockCount, 0, Settings::kBufferCounts - 1));
    bufCount_->setToolTip("Buffers count:");

    QWidget* status = toolStatus_;
    auto* tl = new QLabel("Track time:", status);
    timeVal_ = new QLabel(status);
    timeVal_->setObjectName("LabelTTimeVal");
    auto* fl = new QLabel("Track frames:", status);
    frmVal_ = new QLabel(status);
    frmVal_->setObjectName("LabelTFrmVal");
    // Room for the longest texts, so the toolbar never grows while a song
    // plays. A fixed width also spares the window a new layout at every text
    // (refreshPosition widens the label in the rare case a text needs it).
    timeVal_->setFixedWidth(timeVal_->fontMetrics().horizontalAdvance("00:00 of 00:00") + 4);
    frmVal_->setFixedWidth(frmVal_->fontMetrics().horizontalAdvance("00000 of 00000") + 4);
    statusRow->addSpacing(6);
    statusRow->addWidget(tl);
    statusRow->addWidget(timeVal_);
    statusRow->addSpacing(6);
    statusRow->addWidget(fl);
    statusRow->addWidget(frmVal_);
    statusRow->addStretch(1);

    clip_ = new QFrame(status);
    clip_->setObjectName("ShapeClip");
    clip_->setToolTip("Clip indicator");
    clip_->setFixedSize(12, 12);
    clip_->setAutoFillBackground(true);
    clip_->setStyleSheet("background-color: #008000;");
    statusRow->addWidget(clip_);
    scope_ = new ScopeBox(ctx_, status);
    statusRow->addWidget(scope_);
    static_cast<QVBoxLayout*>(parent->layout())->addWidget(panel);
    arrangeToolbar();

    connect(newB, &QToolButton::clicked, files_, &FileFlow::FileNewClick);
    connect(openB, &QToolButton::clicked, files_, &FileFlow::FileLoadClick);
    connect(saveB, &QToolButton::clicked, files_, &FileFlow::FileSaveClick);
    connect(playAll_, &QToolButton::clicked, this, &TFormMain::SpeedButtonPlayAllClick);
    connect(playPos_, &QToolButton::clicked, this, &TFormMain::SpeedButtonPlayPosClick);
    connect(playPtn_, &QToolButton::clicked, this, &TFormMain::SpeedButtonPlayPtnClick);
    connect(stop_, &QToolButton::clicked, this, &TFormMain::SpeedButtonStopClick);
    connect(reset_, &QToolButton::clicked, this, &TFormMain::SpeedButtonResetClick);
    connect(editSong_, &QToolButton::clicked, this, [this] { redrawPattern(); });
    connect(testSignal_, &QToolButton::toggled, this,
            [this](bool on) { ctx_.source.testSignalOn.store(on); });
    connect(volume_, &QSlider::valueChanged, this, [this](int v) {
        ctx_.chips.setVolume(v);
        ctx_.settings.waveOutputVolume = v;
    });
    connect(bufSize_, &QComboBox::currentIndexChanged, this, [this] { reopenAudio(); });
    connect(bufCount_, &QComboBox::currentIndexChanged, this, [this] { reopenAudio(); });
}

QSpinBox* TFormMain::addUpDown(QWidget* parent, const char* editName, const char* upDownName,
                               int min, int max, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(upDownName);
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setKeyboardTracking(false);
    spin->setMaximumWidth(64);
    if (auto* edit = spin->findChild<QLineEdit*>()) edit->setObjectName(editName);
    return spin;
}

void TFormMain::buildPatternsPage(QWidget* page) {
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    auto* panel = new QWidget(page);
    panel->setObjectName("PanelPtnCtrl");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    upDownPtnLen_ = addUpDown(panel, "EditPtnLen", "UpDownPtnLen", 1, 256, 64);
    upDownPtn_ = addUpDown(panel, "EditPtn", "UpDownPtn", 0, 255, 0);
    upDownOctave_ = addUpDown(panel, "EditOctave", "UpDownOctave", 1, 8, 4);
    upDownSpdEven_ = addUpDown(panel, "EditSpdEven", "UpDownSpdEven", 1, 15, 3);
    upDownSpdOdd_ = addUpDown(panel, "EditSpdOdd", "UpDownSpdOdd", 1, 15, 3);
    upDownInter_ = addUpDown(panel, "EditInter", "UpDownInter", 1, 255, 1);
    upDownAStep_ = addUpDown(panel, "EditAStep", "UpDownAStep", 0, Settings::kMaxAutoStep,
                             std::clamp(ctx_.settings.autoStep, 0, Settings::kMaxAutoStep));
    upDownAIns_ = addUpDown(panel, "EditAIns", "UpDownAIns", 0, 255, 1);
    upDownAVol_ = addUpDown(panel, "EditAVol", "UpDownAVol", 0, 31, 31);
    upDownAVol_->setEnabled(false);

    auto* equal = speedButton(panel, "SpeedButtonSpdEqual", "=", "Set speeds equal");
    aStep_ = speedButton(panel, "SpeedButtonAStep", "Step:", "");
    aStep_->setCheckable(true);
    aStep_->setChecked(ctx_.settings.autoStepOn);
    upDownAStep_->setEnabled(ctx_.settings.autoStepOn);
    aIns_ = speedButton(panel, "SpeedButtonAIns", "Instr:", "");
    aIns_->setCheckable(true);
    aIns_->setChecked(true);
    aVol_ = speedButton(panel, "SpeedButtonAVol", "Volume:", "");
    aVol_->setCheckable(true);
    for (QToolButton* b : {aStep_, aIns_, aVol_}) setToggleLook(b);

    grid->addWidget(new QLabel("Length:", panel), 0, 0);
    grid->addWidget(upDownPtnLen_, 0, 1);
    grid->addWidget(new QLabel("Pattern:", panel), 1, 0);
    grid->addWidget(upDownPtn_, 1, 1);
    grid->addWidget(new QLabel("Octave:", panel), 2, 0);
    grid->addWidget(upDownOctave_, 2, 1);
    grid->addWidget(new QLabel("Speed:", panel), 0, 2);
    auto* speeds = new QHBoxLayout;
    speeds->addWidget(upDownSpdEven_);
    speeds->addWidget(upDownSpdOdd_);
    speeds->addWidget(equal);
    grid->addLayout(speeds, 0, 3);
    grid->addWidget(new QLabel("Interleave:", panel), 1, 2);
    grid->addWidget(upDownInter_, 1, 3);
    grid->addWidget(new QLabel("Auto:", panel), 2, 2);
    auto* autos = new QHBoxLayout;
    autos->addWidget(aStep_);
    autos->addWidget(upDownAStep_);
    autos->addWidget(aIns_);
    autos->addWidget(upDownAIns_);
    autos->addWidget(aVol_);
    autos->addWidget(upDownAVol_);
    grid->addLayout(autos, 2, 3);
    grid->addWidget(new QLabel("Order list:", panel), 0, 4);
    ordGrid_ = new OrderGrid(ctx_, panel);
    orderGrid_ = ordGrid_;
    grid->addWidget(orderGrid_, 1, 4, 2, 1);
    grid->setColumnStretch(4, 1);
    column->addWidget(panel);

    // The header and the view scroll sideways together, so that every
    // channel's buttons stand over its columns.
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName("ScrollBoxPtn");
    scroll->setWidgetResizable(true);
    scroll->setFocusPolicy(Qt::StrongFocus);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollPtn_ = scroll;
    auto* box = new QWidget(scroll);
    box->setObjectName("PanelPtnBox");
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(0, 0, 0, 0);
    boxColumn->setSpacing(2);
    ptnHeader_ = new PatternHeader(ctx_, box);
    patternHeader_ = ptnHeader_;
    boxColumn->addWidget(patternHeader_);
    ptnView_ = new PatternView(ctx_, box);
    patternView_ = ptnView_;
    boxColumn->addWidget(patternView_, 1);
    scroll->setWidget(box);
    ptnView_->setAvailableWidth(scroll->viewport()->width());
    ptnView_->applyFont();
    ptnHeader_->layoutFor(*ptnView_);
    connect(ptnHeader_, &PatternHeader::channelMaskChanged, ptnView_,
            [this](uint8_t mask) { ptnView_->setMutedChannels(static_cast<uint8_t>(~mask & 0x3F)); });
    scroll->viewport()->installEventFilter(this);
    column->addWidget(scroll, 1);

    connect(upDownPtn_, &QSpinBox::valueChanged, this, &TFormMain::UpDownPtnChange);
    connect(upDownPtnLen_, &QSpinBox::valueChanged, this, &TFormMain::UpDownPtnLenChange);
    connect(upDownOctave_, &QSpinBox::valueChanged, this, &TFormMain::UpDownOctaveChange);
    connect(upDownSpdEven_, &QSpinBox::valueChanged, this, &TFormMain::UpDownSpdEvenChange);
    connect(upDownSpdOdd_, &QSpinBox::valueChanged, this, &TFormMain::UpDownSpdOddChange);
    connect(upDownInter_, &QSpinBox::valueChanged, this, &TFormMain::UpDownInterChange);
    connect(upDownAStep_, &QSpinBox::valueChanged, this, &TFormMain::UpDownAStepChange);
    connect(aStep_, &QToolButton::toggled, this, &TFormMain::SpeedButtonAStepClick);
    connect(aVol_, &QToolButton::toggled, this, &TFormMain::SpeedButtonAVolClick);
    connect(equal, &QToolButton::clicked, this,
            [this] { upDownSpdOdd_->setValue(upDownSpdEven_->value()); });
}

void TFormMain::buildPages() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControlMain");
    auto* ptn = new QWidget(pages_);
    ptn->setObjectName("TabSheetPtn");
    buildPatternsPage(ptn);
    pages_->addTab(ptn, "Patterns");
    insPage_ = new InstrumentPage(ctx_, pages_);
    pages_->addTab(insPage_, "Instruments");
    insPage_->messageBoxFn = [this](const QString& text, const QString& caption,
                                    QMessageBox::StandardButtons buttons) {
        return messageBox(text, caption, buttons);
    };
    insPage_->openDialogFn = [this](const QString& title, const QString& start,
                                    const QString& filter, const QString& suffix) {
        return openFilesDialogFn(title, start, filter, suffix);
    };
    insPage_->saveDialogFn = [this](const QString& title, const QString& start,
                                    const QString& filter, const QString& suffix) {
        return saveDialogFn(title, start, filter, suffix);
    };
    connect(insPage_, &InstrumentPage::instrumentChosen, upDownAIns_, &QSpinBox::setValue);
    insPage_->editorOctave = [this] { return upDownOctave_->value(); };
    connect(insPage_, &InstrumentPage::patternsChanged, this, &TFormMain::redrawPattern);
    infoPage_ = new InfoPage(ctx_, pages_);
    pages_->addTab(infoPage_, "Information");
    settingsPage_ = new SettingsPage(ctx_, {bufSize_, bufCount_, volume_, testSignal_}, pages_);
    pages_->addTab(settingsPage_, "Editor");
    settingsPage_->messageBoxFn = [this](const QString& text, const QString& caption,
                                         QMessageBox::StandardButtons buttons) {
        return messageBox(text, caption, buttons);
    };
    settingsPage_->openDialogFn = [this](const QString& title, const QString& start,
                                         const QString& filter, const QString& suffix) {
        return openDialogFn(title, start, filter, suffix);
    };
    settingsPage_->programPath = QCoreApplication::applicationFilePath();
    settingsPage_->programDir = QCoreApplication::applicationDirPath();
    settingsPage_->preview()->editSongMode = [this] { return editSong_->isChecked(); };
    connect(settingsPage_, &SettingsPage::fontApplied, this, [this] { ptnView_->applyFont(); });
    connect(settingsPage_, &SettingsPage::viewOptionsChanged, this, [this] { redrawPattern(); });
    connect(editSong_, &QToolButton::toggled, this, [this] {
        if (pages_->currentWidget() == settingsPage_) settingsPage_->redrawPreview();
    });
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 0) {
            if (auto* box = findChild<QWidget*>("ScrollBoxPtn")) box->setFocus();
        }
        if (pages_->widget(index) == infoPage_) infoPage_->refreshFields();
        // The instrument page plays from the keyboard as soon as it is shown,
        // with the focus on the piano: a knob the page chose for itself would
        // take the digit-row sharps as values.
        if (pages_->widget(index) == insPage_) insPage_->keysBox()->setFocus(Qt::OtherFocusReason);
    });
}

void TFormMain::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    auto menu = [&](QMenu* parentMenu, const char* name, const QString& caption) {
        QMenu* m = parentMenu ? parentMenu->addMenu(caption) : bar->addMenu(caption);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name);
        return m;
    };
    // Items whose commands belong to editors still to come are present but disabled.
    auto item = [&](QMenu* m, const char* name, const QString& caption, bool enabled = false) {
        QAction* a = m->addAction(caption);
        a->setObjectName(name);
        a->setEnabled(enabled);
        return a;
    };

    QMenu* file = menu(nullptr, "MainMenuFile", "&File");
    connect(item(file, "FileNew", "&New", true), &QAction::triggered, files_,
            &FileFlow::FileNewClick);
    connect(item(file, "FileLoad", "&Open module", true), &QAction::triggered, files_,
            &FileFlow::FileLoadClick);
    connect(item(file, "FileSave", "&Save module", true), &QAction::triggered, files_,
            &FileFlow::FileSaveClick);
    QMenu* recent = menu(file, "FileRecent", "&Recent");
    for (int i = 0; i < Settings::kRecentFiles; ++i)
        recent_[i] = item(recent, QString("Recent%1").arg(i).toLatin1().constData(),
                          Settings::defaultRecentName(i), true);
    QMenu* exportMenu = menu(file, "FileExport", "&Export");
    connect(item(exportMenu, "ExporRegQZM", "&QZD file for QZM", true), &QAction::triggered,
            exports_, &ExportCommands::ExporRegQZMClick);
    connect(item(exportMenu, "ExporRegSMD", "QZ&D file for SMD", true), &QAction::triggered,
            exports_, &ExportCommands::ExporRegSMDClick);
    connect(item(exportMenu, "ExportVGM", "&VGM file for SMD", true), &QAction::triggered,
            exports_, &ExportCommands::ExportVGMClick);
    connect(item(exportMenu, "ExportVGM2203", "VGM for the sound extension...", true), &QAction::triggered,
            exports_, &ExportCommands::ExportVGM2203Click);
    connect(item(exportMenu, "ExportWaveAll", "Wave file (&all)", true), &QAction::triggered,
            exports_, [this] { exports_->ExportWaveClick(false); });
    QAction* unmuted = item(exportMenu, "ExportWaveUnmuted", "Wave file (&unmuted)", true);
    unmuted->setData(1);
    connect(unmuted, &QAction::triggered, exports_, [this] { exports_->ExportWaveClick(true); });
    connect(item(exportMenu, "ExportWaveChannels", "Wave files, one per channel...", true), &QAction::triggered,
            exports_, &ExportCommands::ExportWaveChannelsClick);
    QMenu* import = menu(file, "Import1", "&Import");
    connect(item(import, "ImportMOD", "&MOD file", true), &QAction::triggered, files_,
            &FileFlow::ImportMODClick);
    connect(item(file, "FileClose", "&Close", true), &QAction::triggered, this, &QWidget::close);

    QMenu* edit = menu(nullptr, "MainMenuEdit", "&Edit");
    connect(item(edit, "EditUndo", "Undo"), &QAction::triggered, this, &TFormMain::undoClick);
    connect(item(edit, "EditRedo", "Redo"), &QAction::triggered, this, &TFormMain::redoClick);
    edit->addSeparator();
    item(edit, "EditCut", "Cut");
    item(edit, "EditCopy", "Copy");
    item(edit, "EditPaste", "Paste");
    item(edit, "EditPasteOver", "Paste over");
    item(edit, "EditDelete", "Delete");
    edit->addSeparator();
    item(edit, "EditSelectAll", "Select all");
    item(edit, "EditUnselectAll", "Unselect all");
    edit->addSeparator();
    QMenu* cleanup = menu(edit, "EditCleanup", "&Cleanup");
    connect(item(cleanup, "EditCleanupInstruments", "Cleanup &instruments", true), &QAction::triggered,
            this, &TFormMain::EditCleanupInstrumentsClick);
    connect(item(cleanup, "EditRearrangeInstruments", "&Rearrange instruments", true),
            &QAction::triggered, this, &TFormMain::EditRearrangeInstrumentsClick);
    connect(item(cleanup, "EditRearrangePatterns", "Rearrange &patterns", true), &QAction::triggered,
            this, &TFormMain::EditRearrangePatternsClick);

    QMenu* block = menu(nullptr, "MainMenuBlock", "&Block");
    item(block, "BlockExpand", "E&xpand");
    item(block, "BlockShrink", "&Shrink");
    block->addSeparator();
    connect(item(block, "BlockVolumeScale", "V&olume scale", true), &QAction::triggered, this,
            &TFormMain::BlockVolumeScaleClick);
    connect(item(block, "BlockEffectScale", "E&ffect scale", true), &QAction::triggered, this,
            &TFormMain::BlockEffectScaleClick);
    item(block, "BlockVolumeGradient", "&Volume gradient");
    item(block, "BlockEffectGradient", "&Effect gradient");
    block->addSeparator();
    connect(item(block, "BlockDuplicate", "&Duplicate", true), &QAction::triggered, this,
            &TFormMain::BlockDuplicateClick);
    item(block, "BlockAssignIns", "&Assign instrument");
    connect(item(block, "BlockTranspose", "Advanced &transpose", true), &QAction::triggered, this,
            &TFormMain::BlockTransposeClick);

    QMenu* pattern = menu(nullptr, "MainMenuPattern", "&Pattern");
    patternExpand_ = item(pattern, "PatternExpand", "&Expand (size*2)", true);
    patternShrink_ = item(pattern, "PatternShrink", "&Shrink (size/2)", true);
    connect(patternExpand_, &QAction::triggered, this, &TFormMain::PatternExpandClick);
    connect(patternShrink_, &QAction::triggered, this, &TFormMain::PatternShrinkClick);

    QMenu* instrument = menu(nullptr, "MainMenuInstrument", "&Instrument");
    connect(item(instrument, "InstrumentClear", "&Clear", true), &QAction::triggered, insPage_,
            &InstrumentPage::SpeedButtonInsNewClick);
    connect(item(instrument, "InstrumentOpen", "&Open", true), &QAction::triggered, insPage_,
            &InstrumentPage::SpeedButtonInsOpenClick);
    connect(item(instrument, "InstrumentSave", "&Save", true), &QAction::triggered, insPage_,
            &InstrumentPage::SpeedButtonInsSaveClick);
    connect(item(instrument, "InstrumentCopyExchange", "Copy/E&xchange", true), &QAction::triggered,
            insPage_, &InstrumentPage::SpeedButtonInsExchClick);

    connect(item(instrument, "InstrumentLoadFromModule", "Load instruments from &module...", true),
            &QAction::triggered, insPage_, &InstrumentPage::LoadFromModuleClick);

    QMenu* help = menu(nullptr, "MainMenuHelp", "&Help");
    QAction* helpShow = item(help, "HelpShow", "&Show help", true);
    connect(helpShow, &QAction::triggered, this, &TFormMain::HelpShowClick);
    // The menu names the key that opens the manual with the layout in use.
    connect(help, &QMenu::aboutToShow, this, [this, helpShow] {
        const QString keys = QString::fromStdString(helpKeysText(ctx_.layout));
        helpShow->setText(keys.isEmpty() ? QString("&Show help") : "&Show help\t" + keys);
    });
    connect(item(help, "HelpAbout", "&About...", true), &QAction::triggered, this,
            &TFormMain::HelpAboutClick);

    // The pattern view's pop-up menu: the same commands as the Edit and Block menus.
    popupPtn_ = new QMenu(this);
    popupPtn_->setObjectName("PopupMenuPtn");
    for (const char* caption : {"Cut", "Copy", "Paste", "Paste over", "Delete"})
        popupPtn_->addAction(caption)->setEnabled(false);
    popupPtn_->addSeparator();
    for (const char* caption : {"Expand", "Shrink"}) popupPtn_->addAction(caption)->setEnabled(false);
    popupPtn_->addSeparator();
    // The dialog commands: each pop-up item runs its Block menu item.
    auto dialogItem = [&](QMenu* m, const char* name, const char* caption, const char* menuItem) {
        QAction* a = m->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, menuAction(menuItem), &QAction::trigger);
    };
    dialogItem(popupPtn_, "PtnPopupVolumeScale", "Volume scale", "BlockVolumeScale");
    dialogItem(popupPtn_, "PtnPopupEffectScale", "Effect scale", "BlockEffectScale");
    for (const char* caption : {"Volume gradient", "Effect gradient"})
        popupPtn_->addAction(caption)->setEnabled(false);
    popupPtn_->addSeparator();
    dialogItem(popupPtn_, "PtnPopupDuplicate", "Duplicate", "BlockDuplicate");
    popupPtn_->addAction("Assign instrument")->setEnabled(false);
    QMenu* transpose = popupPtn_->addMenu("Transpose");
    const std::array<std::pair<const char*, const char*>, 4> trans{
        {{"PopupTransOctUp", "Octave up"}, {"PopupTransOctDown", "Octave down"},
         {"PopupTransSemiUp", "Semitone up"}, {"PopupTransSemiDown", "Semitone down"}}};
    for (const auto& [name, caption] : trans) {
        QAction* a = transpose->addAction(caption);
        a->setObjectName(name);
        a->setEnabled(false);
    }
    dialogItem(transpose, "PtnPopupTransp", "Advanced", "BlockTranspose");
}

// ---- caption, message box, time display ------------------------------------

void TFormMain::setCaption() {
    // A song that differs from its file is marked with "*".
    setWindowTitle(QString(kTitle) + " [" + files_->moduleFileName() + "]" +
                   (files_->isModified() ? "*" : ""));
}

void TFormMain::wireFileFlow() {
    connect(files_, &FileFlow::aboutToReplaceSong, this, &TFormMain::stopAndReset);
    connect(files_, &FileFlow::songReplaced, this, &TFormMain::refreshAfterNewSong);
    connect(files_, &FileFlow::fileNameChanged, this, &TFormMain::setCaption);
    connect(files_, &FileFlow::modifiedChanged, this, &TFormMain::setCaption);
    connect(files_, &FileFlow::fileNameChanged, exports_, &ExportCommands::setModuleFileName);
    connect(files_, &FileFlow::saved, infoPage_, &InfoPage::refreshFields);
    connect(files_, &FileFlow::saved, exports_, &ExportCommands::moduleSaved);
    connect(files_, &FileFlow::raiseRequested, this, [this] {
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
    });
    exports_->setModuleFileName(files_->moduleFileName());
    connect(exports_, &ExportCommands::stopRequested, this, &TFormMain::stopAndReset);
    connect(exports_, &ExportCommands::renderStarting, timer2_, &QTimer::stop);
    connect(exports_, &ExportCommands::renderFinished, timer2_, qOverload<>(&QTimer::start));
    connect(exports_, &ExportCommands::audioReopenRequested, this, &TFormMain::reopenAudio);
}

QString TFormMain::timeText(int positionFrames, int lengthFrames) {
    auto mm = [](int frames) { return QString::asprintf("%2.2i", frames / 3000); };
    auto ss = [](int frames) { return QString::asprintf("%2.2i", (frames / 50) % 60); };
    return mm(positionFrames) + ":" + ss(positionFrames) + " of " + mm(lengthFrames) + ":" +
           ss(lengthFrames);
}

QString TFormMain::framesText(int positionFrames, int lengthFrames) {
    return QString::number(positionFrames) + " of " + QString::number(lengthFrames);
}

void TFormMain::recomputeLength() {
    lengthFrames_ = ctx_.document.lengthFrames();  // kept current by every change
    refreshPosition();
}

void TFormMain::refreshPosition() {
    positionFrames_ = ctx_.document.framesAt(ctx_.view.orderCursor, ctx_.view.cursorRow);
    for (auto [label, text] : {std::pair{timeVal_, timeText(positionFrames_, lengthFrames_)},
                               std::pair{frmVal_, framesText(positionFrames_, lengthFrames_)}}) {
        const int needed = label->fontMetrics().horizontalAdvance(text) + 4;
        if (needed > label->width()) label->setFixedWidth(needed);
        label->setText(text);
    }
}

void TFormMain::arrangeToolbar() {
    auto* grid = static_cast<QGridLayout*>(toolbar_->layout());
    const QMargins m = grid->contentsMargins();
    const int needed = m.left() + toolButtons_->sizeHint().width() + grid->horizontalSpacing() +
                       toolStatus_->minimumSizeHint().width() + m.right();
    // The window may be as narrow as the wider group: the time display then
    // goes below the buttons.
    toolbar_->setMinimumWidth(m.left() + std::max(toolButtons_->sizeHint().width(),
                                                  toolStatus_->minimumSizeHint().width()) + m.right());
    const bool oneRow = toolbar_->width() >= needed;
    const int row = oneRow ? 0 : 1;
    const int column = oneRow ? 1 : 0;
    if (grid->itemAtPosition(row, column) && grid->itemAtPosition(row, column)->widget() == toolStatus_) return;
    grid->removeWidget(toolStatus_);
    grid->addWidget(toolStatus_, row, column);
    grid->setColumnStretch(1, oneRow ? 1 : 0);
    grid->setColumnStretch(0, oneRow ? 0 : 1);
}

void TFormMain::redrawPattern() {
    patternView_->update();
    patternHeader_->update();
    // A cursor that moved to another column brings its channel into sight.
    if (ctx_.view.cursorColumn != shownCursorColumn_) {
        shownCursorColumn_ = ctx_.view.cursorColumn;
        auto* scroll = static_cast<QScrollArea*>(scrollPtn_);
        const auto [left, width] = ptnView_->cursorChannelSpan();
        const int x = ptnView_->x() + left;
        QScrollBar* bar = scroll->horizontalScrollBar();
        const int shown = scroll->viewport()->width();
        if (x < bar->value())
            bar->setValue(x);
        else if (x + width > bar->value() + shown)
            bar->setValue(std::min(x, x + width - shown));
    }
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == toolbar_ && event->type() == QEvent::Resize) arrangeToolbar();
    if (scrollPtn_ && watched == static_cast<QScrollArea*>(scrollPtn_)->viewport() &&
        event->type() == QEvent::Resize)
        ptnView_->setAvailableWidth(static_cast<QScrollArea*>(scrollPtn_)->viewport()->width());
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::refreshOrderGrid() {
    ordGrid_->refresh();
}

void TFormMain::showSongTiming() {
    const QSignalBlocker b1(upDownSpdEven_), b2(upDownSpdOdd_), b3(upDownInter_);
    upDownSpdEven_->setValue(ctx_.song->speedEven);
    upDownSpdOdd_->setValue(ctx_.song->speedOdd);
    upDownInter_->setValue(ctx_.song->interleave);
}

void TFormMain::showCurrentPattern() {
    const int pattern = std::clamp(ctx_.view.currentPattern, 0, kPatterns - 1);
    {
        const QSignalBlocker b1(upDownPtn_), b2(upDownPtnLen_);
        upDownPtn_->setValue(pattern);
        upDownPtnLen_->setValue(ctx_.song->patterns[pattern].length);
    }
    patternExpand_->setEnabled(upDownPtnLen_->value() <= 128);
    patternShrink_->setEnabled(upDownPtnLen_->value() > 1);
    const int last = upDownPtnLen_->value() - 1;
    if (ctx_.view.cursorRow > last) ctx_.view.cursorRow = last;
}

void TFormMain::showNoPatternState() {
    const bool on = !ctx_.view.noPatternSelected;
    upDownPtn_->setEnabled(on);
    upDownPtnLen_->setEnabled(on);
}

void TFormMain::refreshAfterNewSong() {
    EditorViewState& v = ctx_.view;
    v.selection = Selection{};
    v.cursorRow = 0;
    v.cursorColumn = 0;
    v.orderCursor = 0;
    v.noPatternSelected = false;
    insPage_->refreshAfterNewSong();  // instrument 1, the list's first line
    input_->reset();
    const int pattern = ctx_.song->order.entries[0].pattern;
    v.currentPattern = pattern;
    {
        const QSignalBlocker b1(upDownPtn_), b2(upDownPtnLen_);
        upDownPtn_->setValue(pattern);
        upDownPtnLen_->setValue(ctx_.song->patterns[pattern].length);
    }
    patternExpand_->setEnabled(upDownPtnLen_->value() <= 128);
    patternShrink_->setEnabled(upDownPtnLen_->value() > 1);
    showNoPatternState();
    showSongTiming();
    redrawPattern();
    refreshOrderGrid();
    ctx_.document.refreshTiming();  // a song put in place from outside the document too
    recomputeLength();
    ptnHeader_->followCursor(v.cursorChannel());
    infoPage_->loadFromSong();
}

HelpWindow* TFormMain::HelpShowClick() {
    auto* window = findChild<HelpWindow*>("HelpWindow");
    if (!window) window = new HelpWindow(ctx_.layout, this);
    window->showPage(window->browser()->source().isEmpty()
                         ? QString("index.md")
                         : window->browser()->source().path().section('/', -1));
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void TFormMain::HelpAboutClick() {
    TFormAbout about(kTitle, this);
    connect(&about, &TFormAbout::manualRequested, this, [this] { HelpShowClick()->showPage("index.md"); });
    if (aboutHook) aboutHook(about);
    else about.exec();
}

// ---- playback ---------------------------------------------------------------

void TFormMain::startPlayer(int order, bool loopPattern) {
    ctx_.player.start(order, 0, false, loopPattern, false, -1);
    afterStart();
}

void TFormMain::afterStart() {
    retrySoundOutput(true);
    followedLength_ = -1;  // the first poll follows whatever it finds
    timer1_->start();
    for (QToolButton* b : {playAll_, playPos_, playPtn_, reset_}) b->setEnabled(false);
    stop_->setEnabled(true);
}

void TFormMain::SpeedButtonPlayAllClick() { startPlayer(0, false); }
void TFormMain::SpeedButtonPlayPosClick() { startPlayer(ctx_.view.orderCursor, false); }
void TFormMain::SpeedButtonPlayPtnClick() { startPlayer(ctx_.view.orderCursor, true); }

void TFormMain::SpeedButtonStopClick() {
    timer1_->stop();
    ctx_.player.stop();
    for (QToolButton* b : {playAll_, playPos_, playPtn_, reset_}) b->setEnabled(true);
    stop_->setEnabled(false);
    ptnView_->setPlayingRow(-1, -1);
    showSongTiming();
}

void TFormMain::SpeedButtonResetClick() { ctx_.chips.reset(); }

void TFormMain::stopAndReset() {
    if (stop_->isEnabled()) SpeedButtonStopClick();
    // Stop waits for the audio thread itself; nothing more to poll here.
    ctx_.chips.reset();
}

namespace {

bool samePosition(const PlayPosition& a, const PlayPosition& b) {
    return a.orderPosition == b.orderPosition && a.row == b.row && a.pattern == b.pattern &&
           a.speedEven == b.speedEven && a.speedOdd == b.speedOdd && a.interleave == b.interleave;
}

}  // namespace

void TFormMain::positionChanged() {
    // One pending call at a time, however often the player moves meanwhile.
    if (followPending_.exchange(true, std::memory_order_acq_rel)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            followPending_.store(false, std::memory_order_release);
            if (timer1_->isActive()) Timer1Timer();
        },
        Qt::QueuedConnection);
}

void TFormMain::Timer1Timer() {
    const PlayPosition pos = ctx_.player.position();
    EditorViewState& v = ctx_.view;
    if (!followSong_->isChecked()) {
        // The cursor stays where the user puts it; the view marks the
        // playing row and the speed boxes show the Player's speeds.
        ptnView_->setPlayingRow(pos.orderPosition, pos.row);
        following_ = true;
        if (upDownSpdEven_->value() != pos.speedEven) upDownSpdEven_->setValue(pos.speedEven);
        if (upDownSpdOdd_->value() != pos.speedOdd) upDownSpdOdd_->setValue(pos.speedOdd);
        if (upDownInter_->value() != pos.interleave) upDownInter_->setValue(pos.interleave);
        following_ = false;
        followedLength_ = -1;  // following again starts afresh
        if (!ctx_.player.isPlaying() && stop_->isEnabled()) SpeedButtonStopClick();
        return;
    }
    ptnView_->setPlayingRow(-1, -1);
    const int len = ctx_.song->patterns[std::clamp(pos.pattern, 0, kPatterns - 1)].length;
    // Most polls find the player where the last one left it: nothing to do.
    if (samePosition(pos, followed_) && len == followedLength_ && pos.row == v.cursorRow &&
        pos.orderPosition == v.orderCursor) {
        if (!ctx_.player.isPlaying() && stop_->isEnabled()) SpeedButtonStopClick();
        return;
    }
    followed_ = pos;
    followedLength_ = len;
    const int rowBefore = v.cursorRow;
    bool moved = false, orderMoved = false;
    if (pos.row != v.cursorRow) {
        v.cursorRow = pos.row;
        moved = true;
    }
    if (pos.orderPosition != v.orderCursor) {
        // The cursor follows the Player, onto an entry: a cursor that had
        // been moved past the end while playing leaves the no-pattern state.
        v.orderCursor = pos.orderPosition;
        if (v.noPatternSelected) {
            v.noPatternSelected = false;
            showNoPatternState();
        }
        moved = orderMoved = true;
    }
    following_ = true;
    if (pos.pattern != upDownPtn_->value()) {
        upDownPtn_->setValue(pos.pattern);
        moved = orderMoved = true;
    }
    // A spin box repaints on every setValue, changed or not.
    if (upDownSpdEven_->value() != pos.speedEven) upDownSpdEven_->setValue(pos.speedEven);
    if (upDownSpdOdd_->value() != pos.speedOdd) upDownSpdOdd_->setValue(pos.speedOdd);
    if (upDownInter_->value() != pos.interleave) upDownInter_->setValue(pos.interleave);
    bool lengthChanged = false;
    if (upDownPtnLen_->value() != len) {
        upDownPtnLen_->setValue(len);
        moved = lengthChanged = true;
    }
    following_ = false;
    if (moved) {
        // A step within the pattern moves the drawn lines; anything else
        // draws the view anew.
        if (orderMoved || lengthChanged) redrawPattern();
        else ptnView_->followRows(v.cursorRow - rowBefore);
        refreshPosition();
    }
    if (orderMoved) refreshOrderGrid();
    // The song ended by itself (a stop-after-row audition or an end effect).
    if (!ctx_.player.isPlaying() && stop_->isEnabled()) SpeedButtonStopClick();
}

void TFormMain::Timer2Timer() {
    retrySoundOutput(false);
    checkSoundOutput();
    if (pages_->currentWidget() == insPage_) {
        const bool outside = !rect().contains(mapFromGlobal(QCursor::pos()));
        insPage_->mouseSafetyRelease(outside, QGuiApplication::mouseButtons() != Qt::NoButton);
    }
    if (ctx_.source.scopeOn.load()) scope_->update();
    const bool clipped = ctx_.chips.clipFlag.exchange(0) != 0;
    if (clipShown_ != int{clipped}) {
        clipShown_ = clipped;
        clip_->setStyleSheet(clipped ? "background-color: #ff0000;" : "background-color: #008000;");
    }
}

// ---- Patterns page controls ---------------------------------------------------

void TFormMain::UpDownPtnChange(int value) {
    EditorViewState& v = ctx_.view;
    v.currentPattern = value;
    if (!timer1_->isActive() && !v.noPatternSelected && v.orderCursor < ctx_.song->order.length) {
        const int position = v.orderCursor;
        ctx_.document.edit("Order entry", SongChange::orderList(), [&](Song& song) {
            song.order.entries[position].pattern = static_cast<uint8_t>(value);
        }, "order entry " + std::to_string(position));
    }
    {
        const QSignalBlocker block(upDownPtnLen_);
        upDownPtnLen_->setValue(ctx_.song->patterns[value].length);
    }
    patternExpand_->setEnabled(upDownPtnLen_->value() <= 128);
    patternShrink_->setEnabled(upDownPtnLen_->value() > 1);
    if (!timer1_->isActive()) recomputeLength();
    redrawPattern();
    refreshOrderGrid();
}

void TFormMain::UpDownPtnLenChange(int value) {
    EditorViewState& v = ctx_.view;
    const int pattern = v.currentPattern;
    if (!timer1_->isActive() && value != ctx_.song->patterns[pattern].length) {
        ctx_.document.edit("Pattern length", SongChange::patternLength(pattern),
                           [&](Song& song) { song.patterns[pattern].length = value; },
                           "pattern length " + std::to_string(pattern));
        recomputeLength();
    }
    if (v.cursorRow > value - 1) v.cursorRow = value - 1;
    patternExpand_->setEnabled(value <= 128);
    patternShrink_->setEnabled(value > 1);
    redrawPattern();
}

void TFormMain::UpDownOctaveChange(int value) {
    // The pattern input reads the octave from the up-down; the instrument
    // page's octave track bar follows it.
    insPage_->editorOctaveChanged(value);
}

void TFormMain::UpDownSpdEvenChange(int value) {
    if (following_ || timer1_->isActive() || value == ctx_.song->speedEven) return;
    ctx_.document.edit("Even speed", SongChange::speeds(), [&](Song& song) { song.speedEven = value; }, "speedEven");
    recomputeLength();
}

void TFormMain::UpDownSpdOddChange(int value) {
    if (following_ || timer1_->isActive() || value == ctx_.song->speedOdd) return;
    ctx_.document.edit("Odd speed", SongChange::speeds(), [&](Song& song) { song.speedOdd = value; }, "speedOdd");
    recomputeLength();
}

void TFormMain::UpDownInterChange(int value) {
    if (following_ || timer1_->isActive() || value == ctx_.song->interleave) return;
    ctx_.document.edit("Interleave", SongChange::speeds(), [&](Song& song) { song.interleave = value; }, "interleave");
    recomputeLength();
}

void TFormMain::UpDownAStepChange(int value) {
    if (upDownAStep_->isEnabled()) ctx_.settings.autoStep = value;
}

void TFormMain::SpeedButtonAStepClick(bool down) {
    upDownAStep_->setEnabled(down);
    ctx_.settings.autoStepOn = down;
    ctx_.settings.autoStep = upDownAStep_->value();
}

void TFormMain::SpeedButtonAVolClick(bool down) { upDownAVol_->setEnabled(down); }

void TFormMain::PatternExpandClick() {
    if (ctx_.view.noPatternSelected) return;
    const int pattern = ctx_.view.currentPattern;
    ctx_.document.edit("Expand pattern", SongChange::patternLength(pattern), [&](Song& song) { expandPattern(song, pattern); });
    upDownPtnLen_->setValue(ctx_.song->patterns[ctx_.view.currentPattern].length);
    redrawPattern();
    recomputeLength();
}

void TFormMain::PatternShrinkClick() {
    if (ctx_.view.noPatternSelected) return;
    const int pattern = ctx_.view.currentPattern;
    ctx_.document.edit("Shrink pattern", SongChange::patternLength(pattern), [&](Song& song) { shrinkPattern(song, pattern); });
    upDownPtnLen_->setValue(ctx_.song->patterns[ctx_.view.currentPattern].length);
    redrawPattern();
    recomputeLength();
}

// ---- block dialogs and clean-up ---------------------------------------------------

void TFormMain::BlockTransposeClick() {
    const qv::MessageBoxFn box = [this](const QString& text, const QString& caption) {
        messageBox(text, caption, QMessageBox::Ok);
    };
    if (blockTransposeCommand(ctx_, *formTranspose_, upDownAIns_->value(), box)) redrawPattern();
}

void TFormMain::BlockDuplicateClick() {
    // Copied speed effects can change the song's timing.
    if (!blockDuplicateCommand(ctx_, *formDuplicate_)) return;
    redrawPattern();
    recomputeLength();
}

void TFormMain::BlockVolumeScaleClick() {
    if (blockVolumeScaleCommand(ctx_, *formScale_)) redrawPattern();
}

void TFormMain::BlockEffectScaleClick() {
    if (!blockEffectScaleCommand(ctx_, *formScale_)) return;
    redrawPattern();
    recomputeLength();
}

void TFormMain::EditCleanupInstrumentsClick() {
    const QuestionBoxFn ask = [this](const QString& text, const QString& caption) {
        return messageBox(text, caption, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    cleanupInstrumentsCommand(ctx_, ask, [this] {
        redrawPattern();
        insPage_->refreshAfterInstrumentsMoved();
    });
}

void TFormMain::EditRearrangeInstrumentsClick() {
    rearrangeInstrumentsCommand(ctx_);
    redrawPattern();
    insPage_->refreshAfterInstrumentsMoved();
}

void TFormMain::EditRearrangePatternsClick() {
    const QuestionBoxFn ask = [this](const QString& text, const QString& caption) {
        return messageBox(text, caption, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    if (!rearrangePatternsCommand(ctx_, ask)) return;
    if (!ctx_.view.noPatternSelected) showCurrentPattern();
    refreshOrderGrid();
    recomputeLength();
    redrawPattern();
}

// ---- audio output ----------------------------------------------------------------

bool TFormMain::reopenAudio() {
    ctx_.settings.waveBlockSize = bufSize_->currentIndex();
    ctx_.settings.waveBlockCount = bufCount_->currentIndex();
    ctx_.audio.close();
    const bool ok = ctx_.audio.open(bufSize_->currentIndex(), bufCount_->currentIndex());
    checkSoundOutput();
    return ok;
}

void TFormMain::checkSoundOutput() {
    // Samples the device had to play as silence because the stream fell
    // behind: the status line tells (unless it says there is no sound at
    // all), and so does the log, each time the count grows.
    const uint64_t underruns = ctx_.audio.underrunSamples();
    if (underruns != underrunsShown_) {
        underrunsShown_ = underruns;
        const QString text = QString("Sound output fell behind: %1 samples of silence").arg(underruns);
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        if (!audioFailureShown_) statusBar()->showMessage(text);
    }
    if (audioFailureShown_) return;
    if (!ctx_.audio.isOpen())
        reportAudioFailure(QString::fromStdString(ctx_.audio.lastError()));
    else if (ctx_.audioDevice->silent())
        reportAudioFailure(QString::fromStdString(ctx_.audioDevice->error()));
}

void TFormMain::retrySoundOutput(bool now) {
    if (!ctx_.audio.isOpen() || !ctx_.audioDevice->silent()) return;
    const bool back = now ? ctx_.audioDevice->retryCard()
                          : ctx_.audioDevice->retryCardIfDue(std::chrono::steady_clock::now());
    if (back && audioFailureShown_) {
        audioFailureShown_ = false;
        statusBar()->clearMessage();
    }
}

void TFormMain::reportAudioFailure(const QString& error) {
    if (audioFailureShown_) return;
    audioFailureShown_ = true;
    statusBar()->showMessage("No sound output: " + error);
}

// ---- window --------------------------------------------------------------------

void TFormMain::storeSettings() {
    Settings& s = ctx_.settings;
    s.windowMaximized = isMaximized();
    const QRect g = isMaximized() ? normalGeometry() : geometry();
    s.windowLeft = g.x();
    s.windowTop = g.y();
    s.windowWidth = g.width();
    s.windowHeight = g.height();
    for (int i = 0; i < Settings::kRecentFiles; ++i) s.recentNames[i] = recent_[i]->text();
    s.waveOutputVolume = volume_->value();
    s.waveBlockSize = bufSize_->currentIndex();
    s.waveBlockCount = bufCount_->currentIndex();
    s.autoStep = upDownAStep_->value();
    s.autoStepOn = aStep_->isChecked();
    s.analyzeType = ctx_.source.scopeOn.load();
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (!files_->queryClose()) {
        event->ignore();
        return;
    }
    files_->closing();
    if (stop_->isEnabled()) SpeedButtonStopClick();
    timer2_->stop();
    storeSettings();
    event->accept();
}

void TFormMain::applicationDeactivated() {
    // Key releases that happen elsewhere never reach us.
    ctx_.layout.clearKeyState();
    if (pages_->currentWidget()->objectName() != "TabSheetIns") return;
    insPage_->releaseAllNotes();
}

void TFormMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) redrawPattern();
    QMainWindow::changeEvent(event);
}

}  // namespace qv
