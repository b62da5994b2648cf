#include "instrument/instrument_page.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/song_text.h"
#include "app/toggle_look.h"
#include "dialogs/copy_exchange.h"
#include "dialogs/form_copy_ex_ins.h"
#include "dialogs/form_copy_ex_op.h"
#include "instrument/instrument_widgets.h"
#include "instrument/knob.h"
#include "song/instrument_file.h"
#include "song/module_file.h"
#include "app/data_paths.h"

namespace qv {

namespace {

// One knob column of an operator row.
struct KnobColumn {
    const char* name;
    const char* hint;
    int left;
    int min;
    int max;
    int marks;
    int value;
};
constexpr std::array<KnobColumn, 9> kKnobColumns{{
    {"AR", "Attack Rate", 34, 0, 31, 8, 0},
    {"DR", "Decay Rate", 70, 0, 31, 8, 0},
    {"SR", "Sustain Rate", 106, 0, 31, 8, 0},
    {"RR", "Release Rate", 142, 0, 15, 8, 0},
    {"TL", "Total Level", 184, 127, 0, 16, 127},
    {"SL", "Sustain Level", 220, 15, 0, 8, 15},
    {"MULT", "Multiply", 262, 0, 15, 8, 0},
    {"DT", "Detune", 298, -3, 3, 7, 0},
    {"RS", "Rate Scaling", 340, 0, 3, 4, 0},
}};
constexpr int kFeedbackLeft = 540;
constexpr int kKnobTop = 6;
constexpr int kRowsWidth = 580;
constexpr int kHeaderHeight = 18;
constexpr int kEgLeft = 378;
constexpr int kEgWidth = 64;
constexpr int kEnvLeft = 448;
constexpr int kRightLeft = 584;
// The right column at the designed scale: the algorithm buttons in four rows
// of two with the connection picture beside them, the instrument buttons, the name
// and the list.
constexpr int kRightWidth = 185;
constexpr int kRightWidest = 320;
constexpr int kAlgoHeight = 100;
constexpr int kPianoTop = 8;    // below the operator rows
constexpr int kPageMargin = 4;
constexpr double kLargestScale = 3.0;

// The field of parameter number n (0-9) of an operator.
int& field(Operator& op, int n) {
    switch (n) {
    case 0: return op.AR;
    case 1: return op.DR;
    case 2: return op.SR;
    case 3: return op.RR;
    case 4: return op.TL;
    case 5: return op.SL;
    case 6: return op.MULT;
    case 7: return op.DT;
    case 8: return op.RS;
    default: return op.SSGEG;
    }
}

// The name of parameter code (operator * 10 + field, or 100 and up for FB)
// in the undo step: "TL of operator 2", "FB".
std::string paramName(int code) {
    if (code > 99) return "FB";
    const int n = code % 10;
    const std::string name = n < 9 ? kKnobColumns[n].name : "SSG-EG";
    return name + " of operator " + std::to_string(code / 10 + 1);
}

QToolButton* speedButton(QWidget* parent, const char* name, const QString& text, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QLabel* label(QWidget* parent, const QString& text, const QString& hint = {}) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignCenter);
    if (!hint.isEmpty()) l->setToolTip(hint);
    return l;
}

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath() + "/"; }

QString existingFolder(const QString& folder) {
    return QDir(folder).exists() ? folder : QStringLiteral(".");
}

// The key events a knob takes, rebuilt from the virtual-key code.
struct KnobKey {
    int qtKey = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString text;
};
std::optional<KnobKey> knobKeyOf(int code) {
    switch (code) {
    case 0x26: return KnobKey{Qt::Key_Up, Qt::NoModifier, {}};
    case 0x28: return KnobKey{Qt::Key_Down, Qt::NoModifier, {}};
    case 0x25: return KnobKey{Qt::Key_Left, Qt::NoModifier, {}};
    case 0x27: return KnobKey{Qt::Key_Right, Qt::NoModifier, {}};
    case 0x08: return KnobKey{Qt::Key_Backspace, Qt::NoModifier, {}};
    case 0x2E: return KnobKey{Qt::Key_Delete, Qt::NoModifier, {}};
    case 0x6B: return KnobKey{Qt::Key_Plus, Qt::KeypadModifier, "+"};
    case 0x6D: return KnobKey{Qt::Key_Minus, Qt::KeypadModifier, "-"};
    case 0xBD: return KnobKey{Qt::Key_Minus, Qt::NoModifier, "-"};
    default: break;
    }
    if (code >= 0x30 && code <= 0x39)
        return KnobKey{Qt::Key_0 + (code - 0x30), Qt::NoModifier, QString(QChar('0' + code - 0x30))};
    return std::nullopt;
}

}  // namespace

InstrumentPage::InstrumentPage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), popup_(std::make_unique<TFormTBarPop>()) {
    setObjectName("TabSheetIns");
    const QString bank = DataPaths::forProgram().instruments();
    if (QDir(bank).exists()) bankFolder = bank;
    copyExOp_ = new TFormCopyExOp(this);
    copyExIns_ = new TFormCopyExIns(this);
    buildOperatorRows();
    buildRightColumn();
    buildPiano();
    setTabOrder();
    designedHeight_ = kPageMargin + keysBox_->geometry().bottom() + 1;
    layoutPage();
    refreshListItem(-1, true);
    showInstrument();
}

InstrumentPage::~InstrumentPage() {
    // The knobs point at the pop-up and the pictures, which go before the
    // base class deletes its children: the children go first.
    if (popup_) popup_->finish();
    if (watchingMouse_ && qApp) qApp->removeEventFilter(this);
    watchingMouse_ = false;
    refilling_ = true;
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

int InstrumentPage::currentIndex() const {
    return std::clamp(ctx_.view.currentInstrument, 1, kInstruments) - 1;
}

Instrument& InstrumentPage::instrument() { return ctx_.song->instruments[currentIndex()]; }

// ---- building ----------------------------------------------------------------------------

void InstrumentPage::buildOperatorRows() {
    auto* names = new QWidget(this);
    names->setObjectName("PanelPrmNames");
    headerPanel_ = names;
    auto* opExch = speedButton(names, "SpeedButtonOpExch", "Exch", "Copy/Exchange operators settings");
    place(opExch, QRect(0, 0, 32, kHeaderHeight));
    connect(opExch, &QToolButton::clicked, this, &InstrumentPage::SpeedButtonOpExchClick);
    for (const KnobColumn& s : kKnobColumns)
        place(label(names, s.name, s.hint), QRect(s.left - 4, 0, 40, kHeaderHeight));
    place(label(names, "SSG-EG"), QRect(kEgLeft, 0, kEgWidth, kHeaderHeight));
    place(label(names, "Envelope"), QRect(kEnvLeft, 0, 88, kHeaderHeight));
    place(label(names, "FB"), QRect(kFeedbackLeft, 0, 32, kHeaderHeight));

    int rowHeight = 0;
    for (int op = 0; op < 4; ++op) {
        auto* panel = new QFrame(this);
        panel->setObjectName(QString("PanelOp%1").arg(op + 1));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Raised);
        for (int p = 0; p < 9; ++p) {
            const KnobColumn& s = kKnobColumns[p];
            auto* k = new TKnob(panel, popup_.get());
            k->setObjectName(QString("Knob%1%2").arg(s.name).arg(op + 1));
            k->Tag = 10 * op + p;
            k->Min = s.min;
            k->Max = s.max;
            k->Marks = s.marks;
            k->Bitmap = &pictures_.knobFace;
            k->setToolTip(s.hint);
            k->move(s.left, kKnobTop);
            k->setValue(s.value);
            connect(k, &TKnob::valueChanged, this, &InstrumentPage::ParamChange);
            knobs_[op * 9 + p] = k;
        }
        rowHeight = kKnobTop + knobs_[op * 9]->height() + 4;
        panel->setGeometry(0, kHeaderHeight + op * rowHeight, kRowsWidth, rowHeight);
        opPanels_[op] = panel;

        auto* number = new QLabel(QString("#%1").arg(op + 1), panel);
        place(number, QRect(4, 4, 26, 16));
        number->setAlignment(Qt::AlignCenter);
        auto* reset = speedButton(panel, QString("SpeedButtonResetOp%1").arg(op + 1).toLatin1().constData(),
                                  QString::fromUtf8("\u21BA"), "Reset operator settings");
        place(reset, QRect(4, 24, 26, 22));
        reset->setProperty("Tag", op);
        connect(reset, &QToolButton::clicked, this, [this, op] { SpeedButtonResetOpClick(op); });

        auto* eg = new QSlider(Qt::Horizontal, panel);
        eg->setObjectName(QString("TrackBarEG%1").arg(op + 1));
        eg->setRange(7, 15);
        eg->setValue(7);
        eg->setPageStep(1);
        eg->setTickPosition(QSlider::TicksBelow);
        eg->setProperty("Tag", 10 * op + 9);
        place(eg, QRect(kEgLeft, 4, kEgWidth, 22));
        connect(eg, &QSlider::valueChanged, this, [this, op](int v) { ParamChange(10 * op + 9, v); });
        trackBarEG_[op] = eg;

        auto* image = new QLabel(panel);
        image->setObjectName(QString("ImageEG%1").arg(op + 1));
        place(image, QRect(kEgLeft + (kEgWidth - InstrumentPictures::kEnvWidth) / 2, 28,
                           InstrumentPictures::kEnvWidth, InstrumentPictures::kEnvHeight));
        image->setScaledContents(true);
        image->setPixmap(pictures_.ssgEg[0]);
        imageEG_[op] = image;

        auto* env = new EnvelopeGraph(op, panel);
        place(env, QRect(QPoint(kEnvLeft, kKnobTop), env->size()));
        env->source = [this]() -> const Instrument& { return instrument(); };
        envelopes_[op] = env;

        if (op == 0) {
            auto* fb = new TKnob(panel, popup_.get());
            fb->setObjectName("KnobFB");
            fb->Tag = kFeedbackCode;
            fb->Min = 0;
            fb->Max = 7;
            fb->Marks = 8;
            fb->Bitmap = &pictures_.knobFace;
            fb->setToolTip("Feedback");
            fb->move(kFeedbackLeft, kKnobTop);
            fb->setValue(0);
            connect(fb, &TKnob::valueChanged, this, &InstrumentPage::ParamChange);
            knobs_[36] = fb;
        }
    }
    rowsBottom_ = kHeaderHeight + 4 * rowHeight;
}

void InstrumentPage::buildRightColumn() {
    panelAlgo_ = new QFrame(this);
    panelAlgo_->setObjectName("PanelAlgo");
    algoGroup_ = new QButtonGroup(this);
    algoGroup_->setExclusive(true);
    for (int a = 0; a < 8; ++a) {
        auto* b = speedButton(panelAlgo_, QString("SpeedButtonAlgo%1").arg(a).toLatin1().constData(),
                              QString::number(a), QString());
        b->setCheckable(true);
        setToggleLook(b);
        b->setProperty("Tag", a);
        place(b, QRect(4 + 24 * (a % 2), 2 + 24 * (a / 2), 24, 22));
        algoGroup_->addButton(b, a);
        algoButtons_[a] = b;
    }
    algoButtons_[0]->setChecked(true);
    connect(algoGroup_, &QButtonGroup::idClicked, this, [this] { SpeedButtonAlgoClick(); });
    imageConnect_ = new QLabel(panelAlgo_);
    imageConnect_->setObjectName("ImageConnect");
    place(imageConnect_, QRect(58, 17, InstrumentPictures::kAlgoWidth, InstrumentPictures::kAlgoHeight));
    imageConnect_->setScaledContents(true);
    imageConnect_->setPixmap(pictures_.algorithms[0]);

    buttonRow_ = new QWidget(this);
    auto* insNew = speedButton(buttonRow_, "SpeedButtonInsNew", "New", "Clear instrument");
    auto* insOpen = speedButton(buttonRow_, "SpeedButtonInsOpen", "Open", "Open instrument");
    auto* insSave = speedButton(buttonRow_, "SpeedButtonInsSave", "Save", "Save instrument");
    auto* insExch = speedButton(buttonRow_, "SpeedButtonInsExch", "Exch", "Copy/Exchange instruments");
    connect(insExch, &QToolButton::clicked, this, &InstrumentPage::SpeedButtonInsExchClick);
    polyMode_ = speedButton(buttonRow_, "SpeedButtonPolyMode", "Poly", "Polyphonic mode on/off");
    polyMode_->setCheckable(true);
    setToggleLook(polyMode_);
    polyMode_->setChecked(ctx_.settings.instrumentPolyMode);
    int x = 0;
    for (QToolButton* b : {insNew, insOpen, insSave, insExch, polyMode_}) {
        place(b, QRect(x, 0, 36, 22));
        x += 37;
    }
    connect(insNew, &QToolButton::clicked, this, &InstrumentPage::SpeedButtonInsNewClick);
    connect(insOpen, &QToolButton::clicked, this, &InstrumentPage::SpeedButtonInsOpenClick);
    connect(insSave, &QToolButton::clicked, this, &InstrumentPage::SpeedButtonInsSaveClick);
    connect(polyMode_, &QToolButton::toggled, this, [this](bool on) { ctx_.settings.instrumentPolyMode = on; });

    nameEdit_ = new QLineEdit(this);
    nameEdit_->setObjectName("EditInsName");
    nameEdit_->setMaxLength(17);
    connect(nameEdit_, &QLineEdit::textEdited, this, &InstrumentPage::EditInsNameChange);

    list_ = new InstrumentList(this);
    list_->isFree = [this](int index) { return ctx_.song->instruments[index].isDefault(); };
    connect(list_, &QListWidget::currentRowChanged, this, [this] {
        if (!refilling_) ListBoxInsClick();
    });
}

void InstrumentPage::buildPiano() {
    const int top = rowsBottom_ + 8;
    keysBox_ = new KeysBox(this);
    const int frame = keysBox_->frameWidth();
    keysBox_->setGeometry(kPageMargin, top, PianoKeys::kWidth + 2 * frame, PianoKeys::kHeight + 2 * frame);
    connect(keysBox_, &KeysBox::focusChanged, this, [this] {
        const bool focus = keysBox_->hasFocus();
        if (focus != watchingMouse_ && qApp) {
            if (focus) qApp->installEventFilter(this);
            else qApp->removeEventFilter(this);
            watchingMouse_ = focus;
        }
        redrawPiano();
    });
    piano_ = new PianoKeys(pictures_.keys, keysBox_);
    piano_->move(frame, frame);
    piano_->setFocusPolicy(Qt::NoFocus);
    piano_->octavePosition = [this] { return octave_->value(); };
    piano_->editorOctave = [this] { return editorOctave ? editorOctave() : 4; };
    piano_->focused = [this] { return keysBox_->hasFocus(); };
    piano_->notePressed = [this](int note) {
        for (int v = 0; v < Audition::kVoices; ++v)
            if (ctx_.audition.voiceNote(v) == note) return true;
        return false;
    };
    connect(piano_, &PianoKeys::pressed, this, [this](int note) {
        keysBox_->setFocus(Qt::MouseFocusReason);
        startMouseNote(note);
    });
    connect(piano_, &PianoKeys::moved, this, &InstrumentPage::moveMouseNote);
    connect(piano_, &PianoKeys::released, this, [this] { releaseMouseNote(); });

    octave_ = new QSlider(Qt::Vertical, this);
    octave_->setObjectName("TrackBarOctave");
    octave_->setRange(1, 6);
    octave_->setValue(3);
    octave_->setPageStep(1);
    octave_->setInvertedAppearance(true);  // 1 at the top
    octave_->setInvertedControls(true);
    octave_->setTickPosition(QSlider::TicksRight);
    octave_->setToolTip("Octave");
    octave_->setGeometry(keysBox_->geometry().right() + 6, top, 28, keysBox_->height());
    connect(octave_, &QSlider::valueChanged, this, &InstrumentPage::TrackBarOctaveChange);
}

void InstrumentPage::setTabOrder() {
    std::vector<QWidget*> chain;
    for (int op = 0; op < 4; ++op) {
        for (int p = 0; p < 9; ++p) chain.push_back(knobs_[op * 9 + p]);
        chain.push_back(trackBarEG_[op]);
        if (op == 0) chain.push_back(knobs_[36]);
    }
    chain.push_back(nameEdit_);
    chain.push_back(list_);
    chain.push_back(octave_);
    for (size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void InstrumentPage::place(QWidget* widget, const QRect& designed) {
    design_.push_back({widget, designed});
    widget->setGeometry(designed);
}

double InstrumentPage::layoutScale(QSize page) const {
    // The operator rows with the piano under them, the right column beside.
    const double byWidth = (page.width() - 3.0 * kPageMargin) / (kRowsWidth + kRightWidth);
    const double byHeight = (page.height() - 2.0 * kPageMargin) / designedHeight_;
    return std::clamp(std::min(byWidth, byHeight), 1.0, kLargestScale);
}

void InstrumentPage::layoutPage() {
    const double s = layoutScale(size());
    auto scaled = [s](int v) { return static_cast<int>(std::lround(v * s)); };
    if (s != scale_) {
        scale_ = s;
        QFont f = QApplication::font(this);
        if (s > 1.0) f.setPointSizeF(f.pointSizeF() * s);
        setFont(f);
        // Styled toggles do not take a font from their parent.
        for (QToolButton* b : findChildren<QToolButton*>())
            if (!b->styleSheet().isEmpty()) b->setFont(f);
        for (const auto& [widget, r] : design_)
            widget->setGeometry(scaled(r.x()), scaled(r.y()), scaled(r.width()), scaled(r.height()));
        for (int op = 0; op < 4; ++op)
            for (int p = 0; p < 9; ++p) {
                TKnob* k = knobs_[op * 9 + p];
                k->setDialSize(scaled(32));
                k->move(scaled(kKnobColumns[p].left), scaled(kKnobTop));
            }
        knobs_[36]->setDialSize(scaled(32));
        knobs_[36]->move(scaled(kFeedbackLeft), scaled(kKnobTop));
    }
    // Everything is as wide as the scale makes it; what width is left goes
    // to the list (up to a point) and then to the margins on both sides.
    const int rowsWidth = scaled(kRowsWidth);
    const int rightWidth = std::clamp(width() - rowsWidth - 3 * kPageMargin, scaled(kRightWidth),
                                      scaled(kRightWidest));
    const int left = std::max(kPageMargin, (width() - rowsWidth - rightWidth - kPageMargin) / 2);
    const int rowHeight = scaled(kKnobTop) + knobs_[0]->height() + scaled(4);
    headerPanel_->setGeometry(left, kPageMargin, rowsWidth, scaled(kHeaderHeight));
    for (int op = 0; op < 4; ++op)
        opPanels_[op]->setGeometry(left, headerPanel_->geometry().bottom() + 1 + op * rowHeight, rowsWidth,
                                   rowHeight);
    rowsBottom_ = opPanels_[3]->geometry().bottom() + 1;
    // The piano spans the operator rows, its octave bar at the right end.
    const int frame = keysBox_->frameWidth();
    const int pianoTop = rowsBottom_ + scaled(kPianoTop);
    const int barWidth = scaled(28);
    const int pianoWidth = scaled(PianoKeys::kWidth);
    // Longer keys take up what height the rows leave, up to half as much again.
    const int pianoHeight =
        s > 1.0 ? std::clamp(height() - pianoTop - 2 * frame - kPageMargin, scaled(PianoKeys::kHeight),
                             scaled(PianoKeys::kHeight * 3 / 2))
                : PianoKeys::kHeight;
    keysBox_->setGeometry(left, pianoTop, pianoWidth + 2 * frame, pianoHeight + 2 * frame);
    piano_->setFixedSize(pianoWidth, pianoHeight);
    octave_->setGeometry(keysBox_->geometry().right() + 1 + scaled(6), pianoTop, barWidth, keysBox_->height());

    const int right = left + rowsWidth + kPageMargin;
    panelAlgo_->setGeometry(right, kPageMargin, rightWidth, scaled(kAlgoHeight));
    buttonRow_->setGeometry(right, panelAlgo_->geometry().bottom() + 1 + scaled(4), rightWidth, scaled(22));
    nameEdit_->setGeometry(right, buttonRow_->geometry().bottom() + 1 + scaled(4), rightWidth,
                           nameEdit_->sizeHint().height());
    const int listTop = nameEdit_->geometry().bottom() + 1 + scaled(4);
    list_->setGeometry(right, listTop, rightWidth, std::max(64, height() - listTop - kPageMargin));
}

void InstrumentPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPage();
}

// ---- show and refresh ------------------------------------------------------------------

QString InstrumentPage::itemText(int index) const {
    return QString("%1: ").arg(index + 1, 2, 16, QChar('0')).toUpper() +
           songText(ctx_.song->instruments[index].nameText());
}

void InstrumentPage::refreshListItem(int index, bool updateName) {
    if (index < 0) {
        refilling_ = true;
        list_->clear();
        for (int i = 0; i < kInstruments; ++i) list_->addItem(itemText(i));
        list_->setCurrentRow(0);
        refilling_ = false;
    } else if (QListWidgetItem* item = list_->item(index)) {
        item->setText(itemText(index));
    }
    if (updateName) nameEdit_->setText(songText(instrument().nameText()));
}

void InstrumentPage::showInstrument() {
    for (int op = 0; op < 4; ++op) {
        for (int p = 0; p < 9; ++p) knobs_[op * 9 + p]->setValue(field(instrument().operators[op], p));
        // The track bar clamps a stored value below 8 (SSG-EG off, as 0 is)
        // to its start. Showing an instrument never edits it: the stored
        // value stays until the user moves the bar, so a song only looked
        // at is not marked as changed.
        QSlider* eg = trackBarEG_[op];
        {
            const QSignalBlocker block(eg);
            eg->setValue(instrument().operators[op].SSGEG);
        }
        imageEG_[op]->setPixmap(pictures_.ssgEg[std::clamp(eg->value() - 7, 0, 8)]);
    }
    knobs_[36]->setValue(instrument().FB);
    const int algorithm = instrument().algorithm;
    if (algorithm >= 0 && algorithm < 8) algoButtons_[algorithm]->setChecked(true);
    SpeedButtonAlgoClick();
    for (EnvelopeGraph* e : envelopes_) e->update();
}

void InstrumentPage::refreshAfterNewSong() {
    ctx_.view.currentInstrument = 1;
    refreshListItem(-1, true);
    showInstrument();
}

void InstrumentPage::refreshAfterInstrumentsMoved() {
    refreshListItem(-1, true);
    refilling_ = true;
    list_->setCurrentRow(currentIndex());
    refilling_ = false;
    showInstrument();
}

void InstrumentPage::afterFreeChange(bool wasFree) {
    if (wasFree != instrument().isDefault()) refreshListItem(currentIndex(), true);
}

// ---- handlers ---------------------------------------------------------------------

void InstrumentPage::editInstrument(const std::string& what, const std::function<void(Instrument&)>& change,
                                    const std::string& mergeKey) {
    const int number = currentIndex() + 1;
    ctx_.document.edit(what, SongChange::instrumentPart(number), [&](Song& song) { change(song.instrument(number)); },
                       mergeKey);
}

void InstrumentPage::ParamChange(int code, int value) {
    Instrument& ins = instrument();
    const bool wasFree = ins.isDefault();
    const int op = std::clamp(code / 10, 0, 3);
    const int number = code % 10;
    // One drag, or one run of keys or wheel notches, on one control is one step.
    editInstrument("Change " + paramName(code), [&](Instrument& i) {
        if (code > 99) i.FB = value;
        else field(i.operators[op], number) = number == 9 && value < 8 ? 0 : value;
    }, "param " + std::to_string(currentIndex()) + " " + std::to_string(code));
    if (code <= 99 && number == 9) {
        imageEG_[op]->setPixmap(pictures_.ssgEg[std::clamp(value - 7, 0, 8)]);
        imageEG_[op]->repaint();
    }
    if (code <= 99 && number <= 5) envelopes_[op]->update();
    afterFreeChange(wasFree);
}

void InstrumentPage::SpeedButtonAlgoClick() {
    Instrument& ins = instrument();
    const bool wasFree = ins.isDefault();
    const int down = std::max(0, algoGroup_->checkedId());
    editInstrument("Change algorithm", [&](Instrument& i) { i.algorithm = down; });
    imageConnect_->setPixmap(pictures_.algorithms[down]);
    imageConnect_->repaint();
    for (EnvelopeGraph* e : envelopes_) e->update();
    afterFreeChange(wasFree);
}

void InstrumentPage::ListBoxInsClick() {
    const int row = list_->currentRow();
    if (row < 0 || row >= kInstruments) return;
    ctx_.view.currentInstrument = row + 1;
    nameEdit_->setText(songText(instrument().nameText()));
    showInstrument();
    emit instrumentChosen(row + 1);
}

void InstrumentPage::SpeedButtonOpExchClick() {
    prepareCopyExchangeOperators(*copyExOp_);
    copyExOp_->execFor();
    const bool wasFree = ctx_.song->instrumentIsFree(currentIndex() + 1);
    bool show = false;
    ctx_.document.edit(copyExOp_->exchange() ? "Exchange operators" : "Copy operator",
                       SongChange::instrumentPart(currentIndex() + 1),
                       [&](Song& song) { show = copyExchangeOperators(song, currentIndex(), *copyExOp_); });
    if (!show) return;
    showInstrument();
    afterFreeChange(wasFree);
}

void InstrumentPage::SpeedButtonInsExchClick() {
    prepareCopyExchangeInstruments(*copyExIns_, currentIndex());
    copyExIns_->execFor(*ctx_.song);
    std::optional<int> next;
    SongChange scope = SongChange::instrumentPart(-1);
    if (copyExIns_->exchange() && copyExIns_->exchangeInPatterns()) scope.parts |= SongChange::Cells;  // every pattern
    ctx_.document.edit(copyExIns_->exchange() ? "Exchange instruments" : "Copy instrument", scope,
                       [&](Song& song) { next = copyExchangeInstruments(song, currentIndex(), *copyExIns_); });
    if (!next) return;
    // The destination becomes the current instrument, selected in the list.
    ctx_.view.currentInstrument = *next + 1;
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(*next);
    }
    refreshListItem(copyExIns_->source(), false);
    refreshListItem(*next, true);
    showInstrument();
    emit instrumentChosen(*next + 1);
    if (copyExIns_->exchange() && copyExIns_->exchangeInPatterns()) emit patternsChanged();
}

void InstrumentPage::EditInsNameChange(const QString& text) {
    editInstrument("Type instrument name", [&](Instrument& i) { i.setName(songBytes(text)); },
                   "name " + std::to_string(currentIndex()));
    refreshListItem(currentIndex(), true);
}

QMessageBox::StandardButton InstrumentPage::ask(const QString& text, const QString& caption,
                                                QMessageBox::StandardButtons buttons) {
    if (messageBoxFn) return messageBoxFn(text, caption, buttons);
    ctx_.layout.clearKeyState();
    QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void InstrumentPage::SpeedButtonInsNewClick() {
    if (ask("Clear instrument?", "Confirm", QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) return;
    editInstrument("Clear instrument", [](Instrument& i) { i = Instrument{}; });
    refreshListItem(currentIndex(), true);
    showInstrument();
}

void InstrumentPage::SpeedButtonResetOpClick(int tag) {
    const int op = std::clamp(tag, 0, 3);
    if (ask(QString("Reset operator #%1 settings?").arg(op + 1), "Confirm",
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    editInstrument("Reset operator", [&](Instrument& i) {
        Operator& o = i.operators[op];
        for (int n = 0; n < 10; ++n) field(o, n) = 0;
        o.TL = 127;
    });
    showInstrument();
    refreshListItem(currentIndex(), true);
}

void InstrumentPage::SpeedButtonInsOpenClick() {
    if (!openDialogFn) return;
    // The first time (no folder chosen yet) the dialog starts in the bank.
    const bool firstTime = ctx_.settings.pathInstrument == QStringLiteral(".") && !bankFolder.isEmpty();
    const QStringList paths = openDialogFn(
        "Open instrument", firstTime ? bankFolder : existingFolder(ctx_.settings.pathInstrument), kOpenFilter, "qzi");
    if (paths.isEmpty()) return;
    std::vector<std::string> files;
    for (const QString& p : paths) files.push_back(p.toStdString());
    const int current = currentIndex() + 1;
    // The files are read into a copy, away from the song lock; the
    // instruments then go in as one step.
    auto copy = std::make_unique<Song>();
    ctx_.document.copySongInto(*copy);
    const std::vector<InstrumentOpenResult> results = openInstrumentFiles(*copy, current, files);
    ctx_.document.edit("Open instrument", SongChange::instrumentPart(-1),
                       [&](Song& song) { song.instruments = copy->instruments; });
    for (size_t i = 0; i < results.size(); ++i) {
        const InstrumentOpenResult& r = results[i];
        if (r.status == InstrumentOpenStatus::loaded) {
            if (r.slot == current) showInstrument();
            refreshListItem(r.slot - 1, r.slot == current);
        } else if (r.status == InstrumentOpenStatus::failed) {
            ask("Can't open instrument '" + QString::fromStdString(r.path) + "'", "Error", QMessageBox::Ok);
        } else if (r.status == InstrumentOpenStatus::noRoom) {
            ask("No room to load all instruments", "Error", QMessageBox::Ok);
        }
    }
    ctx_.settings.pathInstrument = folderOf(paths.first());
}

void InstrumentPage::LoadFromModuleClick() {
    if (!openDialogFn) return;
    const QStringList paths = openDialogFn("Load instruments from module", existingFolder(ctx_.settings.pathModule),
                                           "Qorvette module (*.qze)", "qze");
    const int current = currentIndex() + 1;
    for (const QString& path : paths) {
        auto source = std::make_unique<Song>();
        if (loadModule(*source, path.toStdString()) != kModuleLoaded) {
            ask("Can't open module '" + path + "'", "Error", QMessageBox::Ok);
            continue;
        }
        // Taken into a copy, then put in place as one step.
        auto copy = std::make_unique<Song>();
        ctx_.document.copySongInto(*copy);
        const std::vector<InstrumentOpenResult> results = takeInstruments(*copy, current, *source);
        ctx_.document.edit("Load instruments from module", SongChange::instrumentPart(-1),
                           [&](Song& song) { song.instruments = copy->instruments; });
        bool full = false;
        for (const InstrumentOpenResult& r : results) {
            if (r.status == InstrumentOpenStatus::loaded) {
                if (r.slot == current) showInstrument();
                refreshListItem(r.slot - 1, r.slot == current);
            } else if (r.status == InstrumentOpenStatus::noRoom) {
                ask("No room to load all instruments", "Error", QMessageBox::Ok);
                full = true;
            }
        }
        if (full) break;
    }
}

void InstrumentPage::SpeedButtonInsSaveClick() {
    if (!saveDialogFn) return;
    // The name proposed is one the file system takes and the open dialog lists.
    const QString start = existingFolder(ctx_.settings.pathInstrument) + "/" +
                          songText(instrumentFileNameFor(instrument().nameText()));
    QString path = saveDialogFn("Save instrument", start, kSaveFilter, "qzi");
    if (path.isEmpty()) return;
    if (!path.endsWith(".qzi", Qt::CaseInsensitive)) path += ".qzi";  // else it could not be opened again
    saveInstrument(*ctx_.song, currentIndex() + 1, path.toStdString());
    ctx_.settings.pathInstrument = folderOf(path);
}

void InstrumentPage::TrackBarOctaveChange(int) { redrawPiano(); }

void InstrumentPage::TabSheetInsExit() { releaseAllNotes(); }

void InstrumentPage::hideEvent(QHideEvent* event) {
    // Another page was chosen: nothing may go on sounding from here.
    if (!event->spontaneous()) TabSheetInsExit();
    QWidget::hideEvent(event);
}

// ---- keys and the piano -----------------------------------------------------------------

bool InstrumentPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && watched->isWidgetType() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton && pianoHasFocus())
        releaseMouseNote();
    return QWidget::eventFilter(watched, event);
}

bool InstrumentPage::pianoHasFocus() const {
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == keysBox_ || focus == piano_);
}

bool InstrumentPage::keysActive() const {
    if (!isVisible()) return false;
    const QWidget* focus = QApplication::focusWidget();
    if (!focus) return false;
    if (focus == octave_ || focus == list_ || focus == keysBox_ || focus == piano_) return true;
    return std::find(knobs_.begin(), knobs_.end(), focus) != knobs_.end();
}

bool InstrumentPage::controlKey(int code, bool down) {
    if (!isVisible()) return false;
    QWidget* focus = QApplication::focusWidget();
    const auto it = std::find(knobs_.begin(), knobs_.end(), focus);
    if (it == knobs_.end()) return false;
    TKnob* knob = *it;
    const auto key = knobKeyOf(code);
    if (!key) return false;
    const bool negative = knob->Min < 0 || knob->Max < 0;
    if (code == 0xBD && !negative) return false;  // the minus key only turns signed knobs
    if (!down) {
        // The knob keeps the releases of its stepping keys; digits, the arrows
        // that move the focus and the minus key pass on.
        return code == 0x08 || code == 0x26 || code == 0x28 || code == 0x2E || code == 0x6B || code == 0x6D;
    }
    // Straight to the knob's own key handling, past the application filter
    // that called us.
    QKeyEvent event(QEvent::KeyPress, key->qtKey, key->modifiers, key->text);
    static_cast<QObject*>(knob)->event(&event);
    return true;
}

void InstrumentPage::noteKey(int index, bool down) {
    if (down) {
        const int octave = editorOctave ? editorOctave() : 4;
        const int note = std::clamp(index + 12 * (octave - 1), 0, kMaxPitch);
        ctx_.audition.auditionStart(index, note, polyMode_->isChecked(), instrument());
    } else {
        ctx_.audition.auditionRelease(index);
    }
    redrawPiano();
}

bool InstrumentPage::wheelSteps(int steps) {
    if (!isVisible() || !pianoHasFocus() || steps == 0) return false;
    octave_->setValue(octave_->value() + (steps > 0 ? 1 : -1));
    return true;
}

void InstrumentPage::editorOctaveChanged(int octave) {
    octave_->setValue(octave - 1);
    redrawPiano();
}

bool InstrumentPage::mouseSafetyRelease(bool pointerOutside, bool buttonDown) {
    if (!pianoHasFocus() || !pointerOutside || buttonDown) return false;
    if (!ctx_.audition.auditionRelease(kMouseKey)) return false;
    redrawPiano();
    return true;
}

bool InstrumentPage::releaseAllNotes() {
    const bool any = ctx_.audition.auditionReleaseAll();
    redrawPiano();
    return any;
}

void InstrumentPage::startMouseNote(int note) {
    if (ctx_.audition.auditionStart(kMouseKey, note, false, instrument())) redrawPiano();
}

void InstrumentPage::moveMouseNote(int note, Qt::MouseButtons buttons) {
    bool changed = false;
    if (buttons & Qt::LeftButton) changed = ctx_.audition.auditionStart(kMouseKey, note, false, instrument());
    else if (buttons & Qt::RightButton) changed = ctx_.audition.auditionSetPitch(note, false);
    if (changed) redrawPiano();
}

void InstrumentPage::releaseMouseNote() {
    if (ctx_.audition.auditionRelease(kMouseKey)) redrawPiano();
}

void InstrumentPage::redrawPiano() {
    if (piano_) piano_->update();
}

}  // namespace qv
