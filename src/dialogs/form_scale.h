// The scale dialog shared by "Volume scale" and "Effect scale": a start and
// an end percentage on two track bars (fine 1 % steps up to 100 %, coarse
// 10 % steps above, up to 1000 %), optionally locked together, and the two
// scale commands.
#pragma once

#include <QDialog>
#include <functional>

#include "app/app_context.h"

class QCheckBox;
class QLabel;
class QSlider;

namespace qv {

class TFormScale : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTrackMax = 190;
    static constexpr int kTrackNeutral = 100;  // 100 %

    explicit TFormScale(QWidget* parent = nullptr);

    // Track position 0-190 to percent: 0-100 as they are, above that
    // 10 x position - 900 (101 is 110 %, 150 is 600 %, 190 is 1000 %).
    static int percentForPosition(int position);

    // Sets the caption ("Volume scale" or "Effect scale") and shows the
    // dialog modally (or runs the exec hook instead).
    int execFor(const QString& caption);
    std::function<int(TFormScale&)> execHook;

    bool wasAccepted() const { return accepted_; }
    int startPercent() const { return startPercent_; }
    int endPercent() const { return endPercent_; }

    void TrackBarStartChange(int position);
    void TrackBarEndChange(int position);
    void CheckBoxLockClick();
    void ButtonOKClick();
    void ButtonCancelClick();
    // Moves the track bars and the lock box as the user would.
    void setStartPosition(int position);
    void setEndPosition(int position);
    void setLocked(bool locked);

    QSlider* trackBarStart() const { return trackStart_; }
    QSlider* trackBarEnd() const { return trackEnd_; }

    void reject() override;

private:
    QSlider* trackStart_ = nullptr;
    QSlider* trackEnd_ = nullptr;
    QLabel* labelEnd_ = nullptr;
    QLabel* labelStartVal_ = nullptr;
    QLabel* labelEndVal_ = nullptr;
    QCheckBox* lock_ = nullptr;
    int startPercent_ = 100;
    int endPercent_ = 100;
    bool accepted_ = false;
};

// The Block / pattern pop-up scale commands: the dialog, captioned "Volume
// scale" or "Effect scale", then the scale over the selection of the current
// pattern. Nothing while the Player runs or no pattern is selected. True when
// the pattern view needs a redraw.
bool blockVolumeScaleCommand(AppContext& ctx, TFormScale& form);
bool blockEffectScaleCommand(AppContext& ctx, TFormScale& form);

}  // namespace qv
