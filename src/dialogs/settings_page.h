// The Editor page: the program's preferences in five groups (sound output,
// the look of the pattern view with a live preview, pattern editor control,
// shell integration and the keyboard layout). Every control takes effect at
// once; the values live in the settings record, written when the program
// closes (the one-instance flag is written at once).
#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>

#include "app/app_context.h"
#include "editor/pattern_view.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;

namespace qv {

// The preview of the pattern colours and font: three channels with a
// demonstration cursor and selection.
class PatternPreview : public QWidget {
    Q_OBJECT
public:
    explicit PatternPreview(AppContext& ctx, QWidget* parent = nullptr);
    // Whether the pattern editor is in EditSong mode (for the neighbour rows).
    std::function<bool()> editSongMode;
    // The spans of preview row i (-2 and -1 stand for the previous pattern's
    // end): 3 + 3 x 14 columns.
    std::vector<PatternLineSpan> rowSpans(int i) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppContext& ctx_;
};

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    // The sound output controls are the main window's (it wires them to the
    // audio output); the page only holds them.
    struct SoundControls {
        QComboBox* bufSize;
        QComboBox* bufCount;
        QSlider* volume;
        QToolButton* testSignal;
    };
    SettingsPage(AppContext& ctx, SoundControls sound, QWidget* parent = nullptr);

    static const char* const kColorNames[Settings::kColors];
    // The characters every listed font must draw in one width.
    static constexpr const char* kFontTestText = " -|*#0123456789ABCDEF";

    // Dialogs, replaced by tests. colorDialogFn returns an invalid colour on cancel.
    std::function<QMessageBox::StandardButton(const QString&, const QString&, QMessageBox::StandardButtons)>
        messageBoxFn;
    std::function<QColor(const QColor& initial)> colorDialogFn;
    std::function<QString(const QString& title, const QString& start, const QString& filter,
                          const QString& suffix)>
        openDialogFn;
    // The program file that "Register *.qze" registers and the folder a layout
    // setting is relative to.
    QString programPath;
    QString programDir;
    // Where the layout Load dialog starts: the shipped layouts folder (the
    // installed one, or the source tree's from a build folder).
    QString layoutsDir;

    // A font fit for the pattern view: every test character as wide as the
    // blank, and that width above 0 (measured at size 10).
    static bool isPatternFont(const QString& family);
    // Fills the font list (once; the first focus of the combo box does it).
    void fillFontList();
    void redrawPreview();
    // The Register/Unregister buttons after the association's state.
    void updateShellButtons();
    // The layout name line and the default button after the layout in use.
    void showLayout();
    // Loads a layout file the way the load button does (after the dialog).
    void loadLayout(const QString& path);
    PatternPreview* preview() const { return preview_; }

    // Slots of the controls, callable by tests.
    void SpeedButtonColorCtrlClick();
    void SpeedButtonColorsDefaultClick();
    void SpeedButtonKBDLoadClick();
    void SpeedButtonKBDDefaultClick();
    void ButtonRegQZEClick();
    void ButtonUnregQZEClick();

signals:
    // The pattern font changed: the pattern view re-measures itself.
    void fontApplied();
    // Colours, neighbour display or dots changed: the pattern view redraws.
    void viewOptionsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyFont();
    void showSelectedColor();

    AppContext& ctx_;
    QSpinBox* upDownFontSize_ = nullptr;
    QComboBox* font_ = nullptr;
    QComboBox* colorCtrl_ = nullptr;
    QFrame* shapeColor_ = nullptr;
    QComboBox* showPrevNext_ = nullptr;
    QCheckBox* noteDots_ = nullptr;
    QCheckBox* fontFit_ = nullptr;
    QCheckBox* autorepeat_ = nullptr;
    QCheckBox* keyoff_ = nullptr;
    QSpinBox* upDownPageStep_ = nullptr;
    QPushButton* reg_ = nullptr;
    QPushButton* unreg_ = nullptr;
    QCheckBox* oneInstance_ = nullptr;
    QToolButton* kbdDefault_ = nullptr;
    QLabel* layoutName_ = nullptr;
    PatternPreview* preview_ = nullptr;
    bool fontsListed_ = false;
};

}  // namespace qv
