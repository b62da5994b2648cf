// The user's settings: one plain record of values that the main window reads
// when it is created and writes back when it closes. They live per user under
// QSettings("Nostrel", "Qorvette"), the registry key
// HKCU\Software\Nostrel\Qorvette on Windows, an INI file elsewhere.
//
// A missing value, a value of the wrong type or one that does not fit reads
// as its default; values out of their control's range are clamped, so a
// hand-edited file never yields a value the window cannot show.
#pragma once

#include <QString>
#include <array>
#include <memory>

class QSettings;

namespace qv {

struct Settings {
    static constexpr int kRecentFiles = 10;
    static constexpr int kColors = 12;
    static constexpr int kBufferSizes = 6;   // 2048 ... 65536
    static constexpr int kBufferCounts = 9;  // 2 ... 10
    static constexpr int kMaxAutoStep = 256;
    // Strings must fit a 1024-byte buffer with their terminator.
    static constexpr int kMaxStringBytes = 1023;

    enum ColorIndex {
        ColorOutOfRange,
        ColorNormalLine,
        ColorFourthLine,
        ColorNormalText,
        ColorInvertedText,
        ColorActiveLine,
        ColorInactiveLine,
        ColorSelectActiveLine,
        ColorSelectNormalLine,
        ColorSelectFourthLine,
        ColorSeparator,
        ColorPrevNextPatterns,
    };

    int waveBlockSize = 0;   // index into the buffer sizes, 0-5
    int waveBlockCount = 0;  // index into the buffer counts, 0-8
    int waveOutputVolume = 128;  // 0-255
    static constexpr int kMinFontSize = 6;
    static constexpr int kMaxFontSize = 32;
    int patternFontSize = 9;     // 6-32
    // The pattern view takes the largest size whose line fits its width.
    bool patternFontFit = false;
    int patternEditorPageStep = 16;  // 1-128
    QString patternFontName = QStringLiteral("Courier");
    bool instrumentPolyMode = true;
    bool analyzeType = false;  // oscilloscope display on
    int autoStep = 1;          // 0-256, the step box's value
    bool autoStepOn = true;    // the "Step:" toggle is down
    bool patternEditorAutorepeat = true;
    bool patternEditorKeyoff = false;
    bool patternEditorDots = false;
    bool oneInstance = false;
    int patternShowPrevNext = 0;  // 0 "Always", 1 "EditSong mode only", 2 "Never"
    int windowTop = -1;
    int windowLeft = -1;
    int windowWidth = -1;
    int windowHeight = -1;
    bool windowMaximized = false;
    std::array<QString, kRecentFiles> recentNames = defaultRecentNames();
    std::array<int, kColors> colors = defaultColors();  // -1 = the view's default colour
    QString keyboardLayout = QStringLiteral("Default");
    QString pathInstrument = QStringLiteral(".");
    QString pathModule = QStringLiteral(".");
    QString pathImport = QStringLiteral(".");
    QString pathExport = QStringLiteral(".");

    // The auto step the editor moves by: 0 while the toggle is up.
    int effectiveAutoStep() const { return autoStepOn ? autoStep : 0; }
    // True when the stored bounds are all 0 or more: the window takes them
    // exactly; otherwise it is centred with its designed size.
    bool hasWindowBounds() const {
        return windowTop >= 0 && windowLeft >= 0 && windowWidth >= 0 && windowHeight >= 0;
    }
    // Resets every colour to "use the default" (the colour-defaults button).
    void resetColors() { colors = defaultColors(); }

    void load(QSettings& store);
    void save(QSettings& store) const;

    static QString valueName(ColorIndex color);
    static QString defaultRecentName(int n);  // "&N: none"
    static std::array<QString, kRecentFiles> defaultRecentNames();
    static std::array<int, kColors> defaultColors();

    // `OneInstance` alone: read by the program entry before any window
    // exists, and written at once when its check box is clicked.
    static bool readOneInstance(QSettings& store);
    static void writeOneInstance(QSettings& store, bool on);
    // `WaveOutputVolume` alone, for the batch export (0-255).
    static int readWaveOutputVolume(QSettings& store);

    // The per-user store: QSettings("Nostrel", "Qorvette") in its native format.
    static std::unique_ptr<QSettings> openUserStore();

    bool operator==(const Settings&) const = default;
};

}  // namespace qv
