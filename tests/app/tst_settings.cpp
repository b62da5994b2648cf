#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>

#include "app/settings.h"

using qv::Settings;

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int counter_ = 0;

    QString freshPath() { return dir_.filePath(QStringLiteral("s%1.ini").arg(counter_++)); }

    // Loads settings from an INI file holding the given raw [General] lines.
    Settings loadRaw(const QByteArray& lines) {
        const QString path = freshPath();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        file.write("[General]\n" + lines);
        file.close();
        QSettings store(path, QSettings::IniFormat);
        Settings s;
        s.load(store);
        return s;
    }

private slots:
    void defaultsFromAnEmptyStore() {
        QSettings store(freshPath(), QSettings::IniFormat);
        Settings s;
        s.waveOutputVolume = 5;  // load must replace everything
        s.load(store);
        QCOMPARE(s, Settings{});
        QCOMPARE(s.waveOutputVolume, 128);
        QCOMPARE(s.patternFontSize, 9);
        QCOMPARE(s.patternEditorPageStep, 16);
        QCOMPARE(s.patternFontName, QStringLiteral("Courier"));
        QVERIFY(s.instrumentPolyMode);
        QVERIFY(s.autoStepOn);
        QCOMPARE(s.effectiveAutoStep(), 1);
        QVERIFY(s.patternEditorAutorepeat);
        QVERIFY(!s.oneInstance);
        QVERIFY(!s.hasWindowBounds());
        QVERIFY(!s.windowMaximized);
        QCOMPARE(s.recentNames[0], QStringLiteral("&0: none"));
        QCOMPARE(s.recentNames[9], QStringLiteral("&9: none"));
        QCOMPARE(s.colors[Settings::ColorSeparator], -1);
        QCOMPARE(s.keyboardLayout, QStringLiteral("Default"));
        QCOMPARE(s.pathExport, QStringLiteral("."));
    }

    void firstSaveWritesEveryValue() {
        const QString path = freshPath();
        {
            QSettings store(path, QSettings::IniFormat);
            Settings{}.save(store);
        }
        QSettings store(path, QSettings::IniFormat);
        QStringList expected = {"WaveBlockSize", "WaveBlockCount", "WaveOutputVolume", "PatternFontSize", "PatternFontFit",
                                "PatternEditorPageStep", "PatternFontName", "PatternEditorAutostep",
                                "PatternEditorAutorepeat", "PatternEditorKeyoff", "PatternEditorDots",
                                "OneInstance", "InstrumentPolyMode", "PatternShowPrevNext", "WindowTop",
                                "WindowLeft", "WindowWidth", "WindowHeight", "WindowState", "KeyboardLayout",
                                "PathInstrument", "PathModule", "PathImport", "PathExport", "AnalyzeType"};
        for (int n = 0; n < 10; ++n) expected << QStringLiteral("RecentName%1").arg(n);
        for (int c = 0; c < Settings::kColors; ++c) expected << Settings::valueName(Settings::ColorIndex(c));
        QStringList keys = store.allKeys();
        keys.sort();
        expected.sort();
        QCOMPARE(keys, expected);
        QCOMPARE(store.value("WindowTop").toInt(), -1);
        QCOMPARE(store.value("WindowState").toInt(), 0);
        QCOMPARE(store.value("PatternEditorAutostep").toInt(), 1);
        QCOMPARE(store.value("ColorFourthLine").toInt(), -1);
        QCOMPARE(store.value("RecentName3").toString(), QStringLiteral("&3: none"));
        QCOMPARE(store.value("InstrumentPolyMode").toInt(), 1);
    }

    void roundTrip() {
        Settings s;
        s.waveBlockSize = 5;
        s.waveBlockCount = 8;
        s.waveOutputVolume = 255;
        s.patternFontSize = 12;
        s.patternEditorPageStep = 128;
        s.patternFontName = QStringLiteral("DejaVu Sans Mono, Book");
        s.instrumentPolyMode = false;
        s.analyzeType = true;
        s.autoStep = 7;
        s.autoStepOn = false;
        s.patternEditorAutorepeat = false;
        s.patternEditorKeyoff = true;
        s.patternEditorDots = true;
        s.oneInstance = true;
        s.patternShowPrevNext = 2;
        s.windowTop = 10;
        s.windowLeft = 0;
        s.windowWidth = 900;
        s.windowHeight = 700;
        s.windowMaximized = true;
        s.recentNames[4] = QStringLiteral("&4: /home/u/Mus\u00efk/a = b; c.qze");
        s.colors[Settings::ColorNormalText] = 0xFFFFFF;
        s.colors[Settings::ColorOutOfRange] = 0;
        s.keyboardLayout = QStringLiteral("qwertz.kbd");
        s.pathInstrument = QStringLiteral("/tmp/ins");
        s.pathModule = QStringLiteral("C:\\Music\\Modules");
        s.pathImport = QString();
        s.pathExport = QStringLiteral("/x");
        const QString path = freshPath();
        {
            QSettings store(path, QSettings::IniFormat);
            s.save(store);
        }
        QSettings store(path, QSettings::IniFormat);
        Settings back;
        back.load(store);
        QCOMPARE(back, s);
        QCOMPARE(store.value("PatternEditorAutostep").toInt(), -7);
        QCOMPARE(store.value("WindowState").toInt(), 2);
        QVERIFY(back.hasWindowBounds());
        QCOMPARE(back.effectiveAutoStep(), 0);
    }

    void autoStepSign() {
        Settings s = loadRaw("PatternEditorAutostep=-3\n");
        QVERIFY(!s.autoStepOn);
        QCOMPARE(s.autoStep, 3);
        QCOMPARE(s.effectiveAutoStep(), 0);
        s.autoStepOn = true;  // turning the toggle on moves by 3
        QCOMPARE(s.effectiveAutoStep(), 3);

        s = loadRaw("PatternEditorAutostep=0\n");
        QVERIFY(s.autoStepOn);
        QCOMPARE(s.effectiveAutoStep(), 0);
        s = loadRaw("PatternEditorAutostep=1000\n");
        QCOMPARE(s.autoStep, 256);
        s = loadRaw(QByteArray("PatternEditorAutostep=") + QByteArray::number(INT_MIN) + "\n");
        QVERIFY(!s.autoStepOn);
        QCOMPARE(s.autoStep, 256);
    }

    void clampsOutOfRangeValues() {
        Settings s = loadRaw(
            "WaveBlockSize=99\nWaveBlockCount=-4\nWaveOutputVolume=999\nPatternFontSize=1\n"
            "PatternEditorPageStep=0\nPatternShowPrevNext=7\nColorSeparator=16777216\nColorActiveLine=-5\n"
            "ColorNormalLine=255\nInstrumentPolyMode=0\nOneInstance=-1\n");
        QCOMPARE(s.waveBlockSize, 5);
        QCOMPARE(s.waveBlockCount, 0);
        QCOMPARE(s.waveOutputVolume, 255);
        QCOMPARE(s.patternFontSize, 6);
        QCOMPARE(s.patternEditorPageStep, 1);
        QCOMPARE(s.patternShowPrevNext, 2);
        QCOMPARE(s.colors[Settings::ColorSeparator], -1);
        QCOMPARE(s.colors[Settings::ColorActiveLine], -1);
        QCOMPARE(s.colors[Settings::ColorNormalLine], 255);
        QVERIFY(!s.instrumentPolyMode);
        QVERIFY(s.oneInstance);
        s = loadRaw("WaveBlockCount=9\nPatternFontSize=33\nPatternEditorPageStep=129\nWaveOutputVolume=-1\n");
        QCOMPARE(s.waveBlockCount, 8);
        QCOMPARE(s.patternFontSize, 32);
        QCOMPARE(s.patternEditorPageStep, 128);
        QCOMPARE(s.waveOutputVolume, 0);
    }

    void windowBoundsAndState() {
        Settings s = loadRaw("WindowTop=5\nWindowLeft=6\nWindowWidth=-1\nWindowHeight=400\nWindowState=1\n");
        QVERIFY(!s.hasWindowBounds());  // one negative bound centres the window
        QVERIFY(!s.windowMaximized);    // a minimised window restores as normal
        s = loadRaw("WindowTop=0\nWindowLeft=0\nWindowWidth=0\nWindowHeight=0\nWindowState=2\n");
        QVERIFY(s.hasWindowBounds());
        QVERIFY(s.windowMaximized);
    }

    void corruptValuesGiveDefaults() {
        const QByteArray longText(1024, 'x');
        const QByteArray fitting(1023, 'y');
        Settings s = loadRaw("WaveOutputVolume=loud\nPatternFontSize=9.5\nWindowTop=99999999999\n"
                             "PatternFontName=" + longText + "\nKeyboardLayout=" + fitting +
                             "\nPathModule=a, b, c\nRecentName2=@Variant(garbage)\nColorFourthLine=\n"
                             "PatternEditorDots=true\n");
        QCOMPARE(s.waveOutputVolume, 128);
        QCOMPARE(s.patternFontSize, 9);
        QCOMPARE(s.windowTop, -1);
        QCOMPARE(s.patternFontName, QStringLiteral("Courier"));
        QCOMPARE(s.keyboardLayout, QString::fromLatin1(fitting));
        QCOMPARE(s.pathModule, QStringLiteral("."));
        QCOMPARE(s.recentNames[2], QStringLiteral("&2: none"));
        QCOMPARE(s.colors[Settings::ColorFourthLine], -1);
        QVERIFY(!s.patternEditorDots);

        // A multi-byte text counts in bytes: 512 two-byte letters do not fit.
        s = loadRaw("PathExport=" + QString(512, QChar(0xE9)).toUtf8() + "\n");
        QCOMPARE(s.pathExport, QStringLiteral("."));

        // Binary garbage never crashes and yields defaults.
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) junk.append(char((i * 7919) & 0xFF));
        s = loadRaw(junk);
        QCOMPARE(s.waveOutputVolume, 128);
    }

    void singleValues() {
        const QString path = freshPath();
        QSettings store(path, QSettings::IniFormat);
        QVERIFY(!Settings::readOneInstance(store));
        Settings::writeOneInstance(store, true);
        QSettings other(path, QSettings::IniFormat);  // written through at once
        QVERIFY(Settings::readOneInstance(other));
        QCOMPARE(other.value("OneInstance").toInt(), 1);
        QCOMPARE(Settings::readWaveOutputVolume(other), 128);
        other.setValue("WaveOutputVolume", 300);
        QCOMPARE(Settings::readWaveOutputVolume(other), 255);
    }

    void resetColors() {
        Settings s;
        s.colors.fill(0x123456);
        s.resetColors();
        for (int c : s.colors) QCOMPARE(c, -1);
    }

    void userStoreIsPerUserNative() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.filePath("user"));
        auto store = Settings::openUserStore();
        QCOMPARE(store->organizationName(), QStringLiteral("Nostrel"));
        QCOMPARE(store->applicationName(), QStringLiteral("Qorvette"));
        QCOMPARE(store->scope(), QSettings::UserScope);
        QCOMPARE(store->format(), QSettings::NativeFormat);
#ifndef Q_OS_WIN
        Settings s;
        s.waveOutputVolume = 77;
        s.save(*store);
        store->sync();
        QVERIFY(store->fileName().startsWith(dir_.filePath("user")));
        QVERIFY(QFile::exists(store->fileName()));
#endif
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
