#include "dialogs/settings_page.h"

#include "app/data_paths.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/file_association.h"
#include "app/settings.h"
#include "io/keyboard_layout.h"

namespace qv {

const char* const SettingsPage::kColorNames[Settings::kColors] = {
    "Out of pattern background", "Normal background",     "4th line background",
    "Normal text",               "Inverted text",         "Active cursor line",
    "Inactive cursor line",      "Active line selection", "Normal selection",
    "4th line selection",        "Separator",             "Prev/Next patterns"};

namespace {

constexpr int kPreviewChannels = 3;
constexpr int kPreviewColumns = 3 + kPreviewChannels * kPatternChannelColumns;

QToolButton* toolButton(QWidget* parent, const char* name, const QString& text, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    return b;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& text, bool on) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setChecked(on);
    return c;
}

// A colour as the settings store it: red + 256 x green + 65536 x blue.
int storedColor(const QColor& c) { return c.red() + 256 * c.green() + 65536 * c.blue(); }

}  // namespace

// ---- PatternPreview ----------------------------------------------------------

PatternPreview::PatternPreview(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("PaintBoxPtnPreview");
    setMinimumHeight(120);
}

std::vector<PatternLineSpan> PatternPreview::rowSpans(int i) const {
    const Settings& s = ctx_.settings;
    const bool dots = s.patternEditorDots;
    const QString note = dots ? "..." : "---";
    std::vector<PatternLineSpan> spans;
    if (i < 0) {
        const bool editSong = editSongMode && editSongMode();
        const bool shown = s.patternShowPrevNext == 0 || (s.patternShowPrevNext == 1 && editSong);
        if (!shown) {
            spans.push_back({0, QString(kPreviewColumns, ' '), Settings::ColorPrevNextPatterns,
                             Settings::ColorOutOfRange});
            return spans;
        }
        QString text = QString("%1 ").arg(i + 64, 2, 16, QChar('0')).toUpper();
        for (int c = 0; c < kPreviewChannels; ++c) text += "|" + note + " .. .. ...";
        spans.push_back({0, text, Settings::ColorPrevNextPatterns, Settings::ColorOutOfRange});
        return spans;
    }
    int background = i % 4 == 0 ? Settings::ColorFourthLine : Settings::ColorNormalLine;
    int textColor = Settings::ColorNormalText;
    if (i == 0 || i == 2) {
        background = i == 0 ? Settings::ColorActiveLine : Settings::ColorInactiveLine;
        textColor = Settings::ColorInvertedText;
    }
    const int selected = i == 2 ? Settings::ColorSelectActiveLine
                         : i % 4 == 0 ? Settings::ColorSelectFourthLine
                                      : Settings::ColorSelectNormalLine;
    spans.push_back({0, QString("%1 ").arg(i, 2, 16, QChar('0')).toUpper(), textColor, background});
    for (int c = 0; c < kPreviewChannels; ++c) {
        const int column = 3 + c * kPatternChannelColumns;
        const int fields = c >= 1 && i >= 2 ? selected : background;
        spans.push_back({column, "|", Settings::ColorSeparator, background});
        if (c == 0 && i == 0)
            spans.push_back({column + 1, note, Settings::ColorInvertedText, kColorCursorField});
        else
            spans.push_back({column + 1, note, textColor, fields});
        spans.push_back({column + 4, " .. .. ...", textColor, fields});
    }
    return spans;
}

void PatternPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const PatternFontCell cell =
        patternFontFor(ctx_.settings.patternFontName, ctx_.settings.patternFontSize);
    const PatternColors colors = patternColors(ctx_.settings, palette());
    painter.fillRect(rect(), colors[Settings::ColorOutOfRange]);
    const int rows = height() / cell.lineHeight;
    for (int i = -2; i <= rows; ++i)
        drawPatternLine(painter, (i + 2) * cell.lineHeight, rowSpans(i), colors, cell);
}

// ---- SettingsPage --------------------------------------------------------------

SettingsPage::SettingsPage(AppContext& ctx, SoundControls sound, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName("TabSheetSetup");
    layoutsDir = DataPaths::forProgram().layouts();
    Settings& s = ctx_.settings;
    colorDialogFn = [this](const QColor& initial) {
        QColorDialog dialog(initial, this);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedColor() : QColor();
    };

    // Sound output.
    auto* wave = new QGroupBox("WaveOut", this);
    wave->setObjectName("GroupBoxWaveOut");
    auto* waveGrid = new QGridLayout(wave);
    waveGrid->addWidget(new QLabel("Size:", wave), 0, 0);
    waveGrid->addWidget(sound.bufSize, 0, 1);
    waveGrid->addWidget(new QLabel("Buffers count:", wave), 1, 0);
    waveGrid->addWidget(sound.bufCount, 1, 1);
    waveGrid->addWidget(new QLabel("Volume:", wave), 2, 0);
    waveGrid->addWidget(sound.volume, 2, 1);
    waveGrid->addWidget(sound.testSignal, 2, 2);
    sound.volume->setFixedWidth(120);

    // The look of the pattern view.
    auto* view = new QGroupBox("Pattern editor view", this);
    view->setObjectName("GroupBoxPtnView");
    auto* viewGrid = new QGridLayout(view);
    upDownFontSize_ = new QSpinBox(view);
    upDownFontSize_->setObjectName("UpDownFontSize");
    upDownFontSize_->setRange(Settings::kMinFontSize, Settings::kMaxFontSize);
    upDownFontSize_->setValue(std::clamp(s.patternFontSize, Settings::kMinFontSize, Settings::kMaxFontSize));
    fontFit_ = checkBox(view, "CheckBoxFontFit", "fit to window", s.patternFontFit);
    upDownFontSize_->setEnabled(!s.patternFontFit);
    if (auto* edit = upDownFontSize_->findChild<QLineEdit*>()) edit->setObjectName("EditFontSize");
    font_ = new QComboBox(view);
    font_->setObjectName("ComboBoxFont");
    font_->addItem(s.patternFontName);  // the full list comes on first focus
    font_->installEventFilter(this);
    font_->setMinimumWidth(160);
    colorCtrl_ = new QComboBox(view);
    colorCtrl_->setObjectName("ComboBoxColorCtrl");
    for (const char* name : kColorNames) colorCtrl_->addItem(name);
    shapeColor_ = new QFrame(view);
    shapeColor_->setObjectName("ShapeColorCtrl");
    shapeColor_->setToolTip("Click to change color");
    shapeColor_->setFixedSize(40, 20);
    shapeColor_->setFrameShape(QFrame::Box);
    shapeColor_->setAutoFillBackground(true);
    shapeColor_->installEventFilter(this);
    auto* pick = toolButton(view, "SpeedButtonColorCtrl", "...", "Select color from palette");
    auto* defaults =
        toolButton(view, "SpeedButtonColorsDefault", "Default", "Reset all colors to default");
    showPrevNext_ = new QComboBox(view);
    showPrevNext_->setObjectName("ComboBoxShowPrevNext");
    showPrevNext_->addItems({"Always", "EditSong mode only", "Never"});
    showPrevNext_->setCurrentIndex(std::clamp(s.patternShowPrevNext, 0, 2));
    noteDots_ = checkBox(view, "CheckBoxPtnNoteDots", "Show empty note field as dots",
                         s.patternEditorDots);
    auto* previewPanel = new QFrame(view);
    previewPanel->setObjectName("PanelPtnPreview");
    previewPanel->setFrameShape(QFrame::StyledPanel);
    auto* previewBox = new QVBoxLayout(previewPanel);
    previewBox->setContentsMargins(1, 1, 1, 1);
    preview_ = new PatternPreview(ctx_, previewPanel);
    previewBox->addWidget(preview_);

    viewGrid->addWidget(new QLabel("Font name:", view), 0, 0);
    viewGrid->addWidget(font_, 0, 1, 1, 3);
    viewGrid->addWidget(new QLabel("Font size:", view), 1, 0);
    viewGrid->addWidget(upDownFontSize_, 1, 1);
    viewGrid->addWidget(fontFit_, 1, 2, 1, 2);
    viewGrid->addWidget(new QLabel("Color for:", view), 2, 0);
    viewGrid->addWidget(colorCtrl_, 2, 1);
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(shapeColor_);
    colorRow->addWidget(pick);
    colorRow->addWidget(defaults);
    colorRow->addStretch(1);
    viewGrid->addLayout(colorRow, 2, 2, 1, 2);
    viewGrid->addWidget(new QLabel("Show Prev/Next patterns:", view), 3, 0);
    viewGrid->addWidget(showPrevNext_, 3, 1);
    viewGrid->addWidget(noteDots_, 4, 0, 1, 4);
    viewGrid->addWidget(previewPanel, 5, 0, 1, 4);
    viewGrid->setRowStretch(5, 1);
    viewGrid->setColumnStretch(3, 1);

    // Pattern editor control.
    auto* edit = new QGroupBox("Pattern editor control", this);
    edit->setObjectName("GroupBoxPtnEdit");
    auto* editGrid = new QGridLayout(edit);
    autorepeat_ = checkBox(edit, "CheckBoxPtnAutorepeat", "Autorepeat for note and value keys",
                           s.patternEditorAutorepeat);
    keyoff_ = checkBox(edit, "CheckBoxPtnKeyoff", "Key off when a note key is released",
                       s.patternEditorKeyoff);
    upDownPageStep_ = new QSpinBox(edit);
    upDownPageStep_->setObjectName("UpDownPageStep");
    upDownPageStep_->setRange(1, 128);
    upDownPageStep_->setValue(std::clamp(s.patternEditorPageStep, 1, 128));
    if (auto* e = upDownPageStep_->findChild<QLineEdit*>()) e->setObjectName("EditPageStep");
    editGrid->addWidget(autorepeat_, 0, 0, 1, 2);
    editGrid->addWidget(keyoff_, 1, 0, 1, 2);
    editGrid->addWidget(new QLabel("PageUp/PageDown step:", edit), 2, 0);
    editGrid->addWidget(upDownPageStep_, 2, 1);

    // Shell integration.
    auto* shell = new QGroupBox("Shell integration", this);
    shell->setObjectName("GroupBoxShell");
    auto* shellGrid = new QGridLayout(shell);
    reg_ = new QPushButton("Register *.qze", shell);
    reg_->setObjectName("ButtonRegQZE");
    unreg_ = new QPushButton("Unregister *.qze", shell);
    unreg_->setObjectName("ButtonUnregQZE");
    oneInstance_ = checkBox(shell, "CheckBoxOneInstance", "Run only one instance of editor",
                            s.oneInstance);
    shellGrid->addWidget(reg_, 0, 0);
    shellGrid->addWidget(unreg_, 0, 1);
    shellGrid->addWidget(oneInstance_, 1, 0, 1, 2);

    // Keyboard layout.
    auto* keys = new QGroupBox("Keyboard layout", this);
    keys->setObjectName("GroupBoxKeyLayout");
    auto* keysRow = new QHBoxLayout(keys);
    auto* load = toolButton(keys, "SpeedButtonKBDLoad", "Load...", "Load keyboard layout");
    kbdDefault_ = toolButton(keys, "SpeedButtonKBDDefault", "Default", "Use default layout");
    layoutName_ = new QLabel(keys);
    layoutName_->setObjectName("StaticTextKBDLayout");
    layoutName_->setFrameShape(QFrame::Panel);
    layoutName_->setFrameShadow(QFrame::Sunken);
    keysRow->addWidget(load);
    keysRow->addWidget(kbdDefault_);
    keysRow->addWidget(layoutName_, 1);

    auto* left = new QVBoxLayout;
    left->addWidget(wave);
    left->addWidget(edit);
    left->addWidget(shell);
    left->addWidget(keys);
    left->addStretch(1);
    auto* outer = new QHBoxLayout(this);
    outer->addLayout(left);
    outer->addWidget(view, 1);

    connect(upDownFontSize_, &QSpinBox::valueChanged, this, [this] { applyFont(); });
    connect(fontFit_, &QCheckBox::toggled, this, [this](bool on) {
        ctx_.settings.patternFontFit = on;
        upDownFontSize_->setEnabled(!on);
        applyFont();
    });
    connect(font_, &QComboBox::currentTextChanged, this, [this](const QString& name) {
        if (name.isEmpty() || name == ctx_.settings.patternFontName) return;
        ctx_.settings.patternFontName = name;
        applyFont();
    });
    connect(colorCtrl_, &QComboBox::currentIndexChanged, this, [this] { showSelectedColor(); });
    connect(pick, &QToolButton::clicked, this, &SettingsPage::SpeedButtonColorCtrlClick);
    connect(defaults, &QToolButton::clicked, this, &SettingsPage::SpeedButtonColorsDefaultClick);
    connect(showPrevNext_, &QComboBox::currentIndexChanged, this, [this](int index) {
        ctx_.settings.patternShowPrevNext = index;
        redrawPreview();
        emit viewOptionsChanged();
    });
    connect(noteDots_, &QCheckBox::toggled, this, [this](bool on) {
        ctx_.settings.patternEditorDots = on;
        redrawPreview();
        emit viewOptionsChanged();
    });
    connect(autorepeat_, &QCheckBox::toggled, this,
            [this](bool on) { ctx_.settings.patternEditorAutorepeat = on; });
    connect(keyoff_, &QCheckBox::toggled, this,
            [this](bool on) { ctx_.settings.patternEditorKeyoff = on; });
    connect(upDownPageStep_, &QSpinBox::valueChanged, this,
            [this](int v) { ctx_.settings.patternEditorPageStep = v; });
    connect(reg_, &QPushButton::clicked, this, &SettingsPage::ButtonRegQZEClick);
    connect(unreg_, &QPushButton::clicked, this, &SettingsPage::ButtonUnregQZEClick);
    connect(oneInstance_, &QCheckBox::clicked, this, [this](bool on) {
        ctx_.settings.oneInstance = on;
        Settings::writeOneInstance(*Settings::openUserStore(), on);
    });
    connect(load, &QToolButton::clicked, this, &SettingsPage::SpeedButtonKBDLoadClick);
    connect(kbdDefault_, &QToolButton::clicked, this, &SettingsPage::SpeedButtonKBDDefaultClick);

    showSelectedColor();
    showLayout();
}

bool SettingsPage::isPatternFont(const QString& family) {
    const QFontMetrics metrics(QFont(family, 10));
    const int blank = metrics.horizontalAdvance(QChar(' '));
    if (blank <= 0) return false;
    for (const char* c = kFontTestText; *c; ++c)
        if (metrics.horizontalAdvance(QChar(*c)) != blank) return false;
    return true;
}

void SettingsPage::fillFontList() {
    if (fontsListed_) return;
    fontsListed_ = true;
    const QString current = ctx_.settings.patternFontName;
    QStringList names;
    for (const QString& family : QFontDatabase::families())
        if (isPatternFont(family)) names << family;
    const QSignalBlocker block(font_);
    font_->clear();
    font_->addItems(names);
    font_->setCurrentIndex(0);
    const int at = font_->findText(current);
    if (at >= 0) font_->setCurrentIndex(at);
    else if (!names.isEmpty() && names.first() != current) {
        // The stored font is not in the list: it stays in use until a choice.
        font_->insertItem(0, current);
        font_->setCurrentIndex(0);
    }
}

bool SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == font_ && event->type() == QEvent::FocusIn) fillFontList();
    if (watched == shapeColor_ && event->type() == QEvent::MouseButtonPress) {
        SpeedButtonColorCtrlClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsPage::showEvent(QShowEvent* event) {
    updateShellButtons();
    QWidget::showEvent(event);
}

void SettingsPage::applyFont() {
    ctx_.settings.patternFontSize = upDownFontSize_->value();
    redrawPreview();
    emit fontApplied();
}

void SettingsPage::redrawPreview() { preview_->update(); }

void SettingsPage::showSelectedColor() {
    const int k = std::clamp(colorCtrl_->currentIndex(), 0, Settings::kColors - 1);
    QPalette pal = shapeColor_->palette();
    pal.setColor(QPalette::Window, patternColor(ctx_.settings, k, palette()));
    shapeColor_->setPalette(pal);
}

void SettingsPage::SpeedButtonColorCtrlClick() {
    const int k = std::clamp(colorCtrl_->currentIndex(), 0, Settings::kColors - 1);
    const QColor chosen = colorDialogFn(patternColor(ctx_.settings, k, palette()));
    if (!chosen.isValid()) return;
    ctx_.settings.colors[k] = storedColor(chosen);
    showSelectedColor();
    redrawPreview();
    emit viewOptionsChanged();
}

void SettingsPage::SpeedButtonColorsDefaultClick() {
    if (messageBoxFn("Reset all colors to default?", "Confirm",
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    ctx_.settings.resetColors();
    showSelectedColor();
    redrawPreview();
    emit viewOptionsChanged();
}

void SettingsPage::updateShellButtons() {
    const bool registered = FileAssociation::isRegistered();
    reg_->setEnabled(!registered);
    unreg_->setEnabled(registered);
}

void SettingsPage::ButtonRegQZEClick() {
    FileAssociation::registerModules(programPath);
    updateShellButtons();
}

void SettingsPage::ButtonUnregQZEClick() {
    FileAssociation::unregisterModules();
    updateShellButtons();
}

void SettingsPage::showLayout() {
    const bool isDefault = ctx_.settings.keyboardLayout == "Default";
    const QString name = QString::fromStdString(ctx_.layout.name());
    layoutName_->setText(name);
    layoutName_->setToolTip(name);
    kbdDefault_->setEnabled(!isDefault);
}

void SettingsPage::loadLayout(const QString& path) {
    // A file that fails leaves the layout in use as it is.
    const LayoutSelection result = changeLayout(ctx_.layout, path.toStdString(), programDir.toStdString(),
                                                ctx_.settings.keyboardLayout.toStdString());
    ctx_.settings.keyboardLayout = QString::fromStdString(result.setting);
    const QString report = QString::fromStdString(result.report.text());
    if (!result.failedPath.empty())
        messageBoxFn("Can't load keyboard layout '" + QString::fromStdString(result.failedPath) + "'\n" +
                         report +
                         (result.isDefault ? "Default layout will be used instead\n"
                                           : "The layout in use is kept\n"),
                     "Error", QMessageBox::Ok);
    else if (!report.isEmpty())
        messageBoxFn("Keyboard layout '" + path + "' has unknown names:\n" + report, "Warning",
                     QMessageBox::Ok);
    showLayout();
}

void SettingsPage::SpeedButtonKBDLoadClick() {
    const QString start = layoutsDir.isEmpty() ? programDir : layoutsDir;
    const QString path = openDialogFn("Load keyboard layout", start,
                                      "Qorvette keyboard layout (*.kbd)", "kbd");
    if (!path.isEmpty()) loadLayout(QFileInfo(path).absoluteFilePath());
}

void SettingsPage::SpeedButtonKBDDefaultClick() {
    if (messageBoxFn("Use default keyboard layout?", "Confirm",
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    loadLayout("Default");
}

}  // namespace qv
