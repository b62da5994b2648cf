#include "app/settings.h"

#include <QSettings>
#include <QVariant>
#include <algorithm>
#include <limits>

namespace qv {

namespace {

// A DWORD value read as a signed int; the default when it is missing or is
// no whole number that fits 32 bits.
int readDword(QSettings& store, const QString& name, int fallback) {
    const QVariant value = store.value(name);
    if (!value.isValid()) return fallback;
    const int type = value.metaType().id();
    if (type == QMetaType::QStringList || type == QMetaType::QVariantList || type == QMetaType::QVariantMap)
        return fallback;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(number);
}

// A string value; the default when it is missing, is no text, or does not
// fit the 1024-byte buffer with its terminator.
QString readString(QSettings& store, const QString& name, const QString& fallback) {
    const QVariant value = store.value(name);
    if (!value.isValid() || value.metaType().id() != QMetaType::QString) return fallback;
    QString text = value.toString();
    if (text.toUtf8().size() > Settings::kMaxStringBytes) return fallback;
    return text;
}

void writeDword(QSettings& store, const QString& name, int value) { store.setValue(name, value); }
void writeString(QSettings& store, const QString& name, const QString& text) { store.setValue(name, text); }

int clampIndex(int value, int count) { return std::clamp(value, 0, count - 1); }

const char* const kColorNames[Settings::kColors] = {
    "ColorOutOfRange",     "ColorNormalLine",       "ColorFourthLine",       "ColorNormalText",
    "ColorInvertedText",   "ColorActiveLine",       "ColorInactiveLine",     "ColorSelectActiveLine",
    "ColorSelectNormalLine", "ColorSelectFourthLine", "ColorSeparator",      "ColorPrevNextPatterns",
};

constexpr int kWindowStateMaximized = 2;

}  // namespace

QString Settings::valueName(ColorIndex color) { return QString::fromLatin1(kColorNames[color]); }

QString Settings::defaultRecentName(int n) { return QStringLiteral("&%1: none").arg(n); }

std::array<QString, Settings::kRecentFiles> Settings::defaultRecentNames() {
    std::array<QString, kRecentFiles> names;
    for (int n = 0; n < kRecentFiles; ++n) names[n] = defaultRecentName(n);
    return names;
}

std::array<int, Settings::kColors> Settings::defaultColors() {
    std::array<int, kColors> colors;
    colors.fill(-1);
    return colors;
}

void Settings::load(QSettings& store) {
    const Settings defaults;
    waveBlockSize = clampIndex(readDword(store, "WaveBlockSize", defaults.waveBlockSize), kBufferSizes);
    waveBlockCount = clampIndex(readDword(store, "WaveBlockCount", defaults.waveBlockCount), kBufferCounts);
    waveOutputVolume = std::clamp(readDword(store, "WaveOutputVolume", defaults.waveOutputVolume), 0, 255);
    patternFontSize = std::clamp(readDword(store, "PatternFontSize", defaults.patternFontSize),
                                 kMinFontSize, kMaxFontSize);
    patternFontFit = readDword(store, "PatternFontFit", 0) != 0;
    patternEditorPageStep =
        std::clamp(readDword(store, "PatternEditorPageStep", defaults.patternEditorPageStep), 1, 128);
    patternFontName = readString(store, "PatternFontName", defaults.patternFontName);
    instrumentPolyMode = readDword(store, "InstrumentPolyMode", 1) != 0;
    analyzeType = readDword(store, "AnalyzeType", 0) != 0;

    // Signed: the size is the step, the sign the "Step:" toggle (negative = up).
    const int step = readDword(store, "PatternEditorAutostep", 1);
    autoStepOn = step >= 0;
    autoStep = step >= 0 ? std::min(step, kMaxAutoStep) : (step < -kMaxAutoStep ? kMaxAutoStep : -step);

    patternEditorAutorepeat = readDword(store, "PatternEditorAutorepeat", 1) != 0;
    patternEditorKeyoff = readDword(store, "PatternEditorKeyoff", 0) != 0;
    patternEditorDots = readDword(store, "PatternEditorDots", 0) != 0;
    oneInstance = readDword(store, "OneInstance", 0) != 0;
    patternShowPrevNext = clampIndex(readDword(store, "PatternShowPrevNext", 0), 3);
    windowTop = readDword(store, "WindowTop", -1);
    windowLeft = readDword(store, "WindowLeft", -1);
    windowWidth = readDword(store, "WindowWidth", -1);
    windowHeight = readDword(store, "WindowHeight", -1);
    windowMaximized = readDword(store, "WindowState", -1) == kWindowStateMaximized;
    for (int n = 0; n < kRecentFiles; ++n)
        recentNames[n] = readString(store, QStringLiteral("RecentName%1").arg(n), defaultRecentName(n));
    for (int c = 0; c < kColors; ++c) {
        // A colour is 0x00BBGGRR; anything negative or wider means "the default".
        const int color = readDword(store, kColorNames[c], -1);
        colors[c] = color < 0 || color > 0xFFFFFF ? -1 : color;
    }
    keyboardLayout = readString(store, "KeyboardLayout", defaults.keyboardLayout);
    pathInstrument = readString(store, "PathInstrument", defaults.pathInstrument);
    pathModule = readString(store, "PathModule", defaults.pathModule);
    pathImport = readString(store, "PathImport", defaults.pathImport);
    pathExport = readString(store, "PathExport", defaults.pathExport);
}

void Settings::save(QSettings& store) const {
    writeDword(store, "WaveBlockSize", waveBlockSize);
    writeDword(store, "WaveBlockCount", waveBlockCount);
    writeDword(store, "WaveOutputVolume", waveOutputVolume);
    writeDword(store, "PatternFontSize", patternFontSize);
    writeDword(store, "PatternFontFit", patternFontFit ? 1 : 0);
    writeDword(store, "PatternEditorPageStep", patternEditorPageStep);
    writeString(store, "PatternFontName", patternFontName);
    writeDword(store, "PatternEditorAutostep", autoStepOn ? autoStep : -autoStep);
    writeDword(store, "PatternEditorAutorepeat", patternEditorAutorepeat ? 1 : 0);
    writeDword(store, "PatternEditorKeyoff", patternEditorKeyoff ? 1 : 0);
    writeDword(store, "PatternEditorDots", patternEditorDots ? 1 : 0);
    writeDword(store, "OneInstance", oneInstance ? 1 : 0);
    writeDword(store, "InstrumentPolyMode", instrumentPolyMode ? 1 : 0);
    writeDword(store, "PatternShowPrevNext", patternShowPrevNext);
    for (int n = 0; n < kRecentFiles; ++n) writeString(store, QStringLiteral("RecentName%1").arg(n), recentNames[n]);
    writeDword(store, "WindowTop", windowTop);
    writeDword(store, "WindowLeft", windowLeft);
    writeDword(store, "WindowWidth", windowWidth);
    writeDword(store, "WindowHeight", windowHeight);
    writeDword(store, "WindowState", windowMaximized ? kWindowStateMaximized : 0);
    for (int c = 0; c < kColors; ++c) writeDword(store, kColorNames[c], colors[c]);
    writeString(store, "KeyboardLayout", keyboardLayout);
    writeString(store, "PathInstrument", pathInstrument);
    writeString(store, "PathModule", pathModule);
    writeString(store, "PathImport", pathImport);
    writeString(store, "PathExport", pathExport);
    writeDword(store, "AnalyzeType", analyzeType ? 1 : 0);
}

bool Settings::readOneInstance(QSettings& store) { return readDword(store, "OneInstance", 0) != 0; }

void Settings::writeOneInstance(QSettings& store, bool on) {
    writeDword(store, "OneInstance", on ? 1 : 0);
    store.sync();
}

int Settings::readWaveOutputVolume(QSettings& store) {
    return std::clamp(readDword(store, "WaveOutputVolume", 128), 0, 255);
}

std::unique_ptr<QSettings> Settings::openUserStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Nostrel"),
                                       QStringLiteral("Qorvette"));
}

}  // namespace qv
