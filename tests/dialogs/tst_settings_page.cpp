// The Editor page: sound buffers reopening the output, the font rule and font
// changes reaching the pattern view, colours with their dialogs, the preview's
// rows, the editor options, the shell buttons, the one-instance flag written
// at once, and loading keyboard layouts.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/app_context.h"
#include "app/file_association.h"
#include "dialogs/settings_page.h"
#include "editor/form_main.h"
#include "editor/pattern_view.h"
#include "editor/window_fixture.h"

namespace {

// The window with the layout file dialog answered by dialogResult.
struct Fixture : qv::test::WindowFixture {
    Fixture() {
        answer = QMessageBox::Ok;
        window->openDialogFn = [this](const QString&, const QString& start, const QString&,
                                      const QString&) {
            dialogStart = start;
            return dialogResult;
        };
        page = window->findChild<qv::SettingsPage*>("TabSheetSetup");
        // The program loads its layout before the window; here it comes after.
        ctx.layout.loadDefault();
        page->showLayout();
    }
    qv::SettingsPage* page = nullptr;
    QString dialogResult;
    QString dialogStart;
};

// The preview's 45 columns (three channels).
QString spanText(const std::vector<qv::PatternLineSpan>& spans) {
    return qv::patternLineText(spans).left(45);
}

}  // namespace

class TestSettingsPage : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase() {
        // Settings, associations and layouts go to a home of the test's own.
        QVERIFY(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        QCoreApplication::setOrganizationName("Nostrel");
        QCoreApplication::setApplicationName("Qorvette");
    }

    void pageLayoutAndStartValues() {
        Fixture f;
        QVERIFY(f.page);
        auto* pages = f.find<QTabWidget>("PageControlMain");
        QCOMPARE(pages->tabText(pages->indexOf(f.page)), QString("Editor"));
        for (const char* name :
             {"GroupBoxWaveOut", "GroupBoxPtnView", "GroupBoxPtnEdit", "GroupBoxShell",
              "GroupBoxKeyLayout", "ComboBoxBufSize", "ComboBoxBufCount", "TrackBarVol",
              "SpeedButtonTestSignal", "EditFontSize", "ComboBoxFont", "ComboBoxColorCtrl",
              "ShapeColorCtrl", "SpeedButtonColorCtrl", "SpeedButtonColorsDefault",
              "ComboBoxShowPrevNext", "CheckBoxPtnNoteDots", "PanelPtnPreview", "PaintBoxPtnPreview",
              "CheckBoxPtnAutorepeat", "CheckBoxPtnKeyoff", "EditPageStep", "ButtonRegQZE",
              "ButtonUnregQZE", "CheckBoxOneInstance", "SpeedButtonKBDLoad",
              "SpeedButtonKBDDefault", "StaticTextKBDLayout"})
            QVERIFY2(f.page->findChild<QWidget*>(name), name);
        auto* colors = f.find<QComboBox>("ComboBoxColorCtrl");
        QCOMPARE(colors->count(), 12);
        QCOMPARE(colors->itemText(0), QString("Out of pattern background"));
        QCOMPARE(colors->itemText(11), QString("Prev/Next patterns"));
        auto* size = f.find<QSpinBox>("UpDownFontSize");
        QCOMPARE(size->minimum(), 6);
        QCOMPARE(size->maximum(), 32);
        auto* step = f.find<QSpinBox>("UpDownPageStep");
        QCOMPARE(step->minimum(), 1);
        QCOMPARE(step->maximum(), 128);
        QCOMPARE(step->value(), 16);
        QCOMPARE(f.find<QComboBox>("ComboBoxShowPrevNext")->itemText(1), QString("EditSong mode only"));
        QCOMPARE(f.find<QLabel>("StaticTextKBDLayout")->text(), QString("Default Layout"));
        QVERIFY(!f.find<QToolButton>("SpeedButtonKBDDefault")->isEnabled());
    }

    void bufferChoiceReopensTheOutput() {
        Fixture f;
        QVERIFY(f.ctx.audio.open(0, 0));
        f.find<QComboBox>("ComboBoxBufCount")->setCurrentIndex(3);
        f.find<QComboBox>("ComboBoxBufSize")->setCurrentIndex(5);
        QCOMPARE(f.ctx.audio.blockSize(), 65536);
        QCOMPARE(f.ctx.audio.blockCount(), 5);
        QCOMPARE(f.ctx.settings.waveBlockSize, 5);
        QCOMPARE(f.ctx.settings.waveBlockCount, 3);
        f.find<QSlider>("TrackBarVol")->setValue(200);
        QCOMPARE(f.ctx.settings.waveOutputVolume, 200);
    }

    void onlyFixedPitchFontsWithTheTestCharactersAreListed() {
        const QStringList families = QFontDatabase::families();
        if (!families.contains("DejaVu Sans") || !families.contains("DejaVu Sans Mono"))
            QSKIP("the DejaVu fonts are not installed");
        QVERIFY(qv::SettingsPage::isPatternFont("DejaVu Sans Mono"));
        QVERIFY(!qv::SettingsPage::isPatternFont("DejaVu Sans"));

        Fixture f;
        auto* combo = f.find<QComboBox>("ComboBoxFont");
        f.page->fillFontList();
        QVERIFY(combo->findText("DejaVu Sans Mono") >= 0);
        QCOMPARE(combo->findText("DejaVu Sans"), -1);
        QCOMPARE(combo->findText("DejaVu Serif"), -1);
        for (int i = 0; i < combo->count(); ++i)
            if (combo->itemText(i) != "Courier")
                QVERIFY2(qv::SettingsPage::isPatternFont(combo->itemText(i)),
                         qPrintable(combo->itemText(i)));
    }

    // A font change reaches the pattern view at once.
    void fontChangesRemeasureThePatternView() {
        Fixture f;
        auto* view = f.find<qv::PatternView>("PaintBoxPtn");
        f.find<QSpinBox>("UpDownFontSize")->setValue(6);
        const int small = view->lineHeight();
        f.find<QSpinBox>("UpDownFontSize")->setValue(12);
        QCOMPARE(f.ctx.settings.patternFontSize, 12);
        QVERIFY(view->lineHeight() > small);
        // "fit to window": the view takes the size that fits its width, and
        // the size box waits until the choice is undone.
        auto* fit = f.find<QCheckBox>("CheckBoxFontFit");
        QCOMPARE(fit->text(), QString("fit to window"));
        view->setAvailableWidth(3000);
        fit->setChecked(true);
        QVERIFY(f.ctx.settings.patternFontFit);
        QVERIFY(!f.find<QSpinBox>("UpDownFontSize")->isEnabled());
        QCOMPARE(view->fontSize(), qv::fitPatternFontSize(f.ctx.settings.patternFontName, 3000));
        QVERIFY(view->fontSize() > 12);
        fit->setChecked(false);
        QCOMPARE(view->fontSize(), 12);
        const QStringList families = QFontDatabase::families();
        if (families.contains("DejaVu Sans Mono")) {
            auto* combo = f.find<QComboBox>("ComboBoxFont");
            f.page->fillFontList();
            combo->setCurrentIndex(combo->findText("DejaVu Sans Mono"));
            QCOMPARE(f.ctx.settings.patternFontName, QString("DejaVu Sans Mono"));
        }
    }

    void colorsThroughTheDialogAndBackToDefaults() {
        Fixture f;
        auto* combo = f.find<QComboBox>("ComboBoxColorCtrl");
        combo->setCurrentIndex(qv::Settings::ColorSeparator);
        f.page->colorDialogFn = [](const QColor&) { return QColor(); };  // cancelled
        f.page->SpeedButtonColorCtrlClick();
        QCOMPARE(f.ctx.settings.colors[qv::Settings::ColorSeparator], -1);
        QColor offered;
        f.page->colorDialogFn = [&](const QColor& initial) {
            offered = initial;
            return QColor(1, 2, 3);
        };
        // A press on the colour shape does what the button does.
        QTest::mousePress(f.find<QWidget>("ShapeColorCtrl"), Qt::LeftButton);
        QCOMPARE(offered, qv::patternColor(qv::Settings{}, qv::Settings::ColorSeparator, f.page->palette()));
        QCOMPARE(f.ctx.settings.colors[qv::Settings::ColorSeparator], 1 + 256 * 2 + 65536 * 3);
        QCOMPARE(f.find<QWidget>("ShapeColorCtrl")->palette().color(QPalette::Window), QColor(1, 2, 3));

        f.answer = QMessageBox::Cancel;
        f.page->SpeedButtonColorsDefaultClick();
        QCOMPARE(f.boxes.last().text, QString("Reset all colors to default?"));
        QCOMPARE(f.boxes.last().caption, QString("Confirm"));
        QCOMPARE(f.ctx.settings.colors[qv::Settings::ColorSeparator], 1 + 256 * 2 + 65536 * 3);
        f.answer = QMessageBox::Ok;
        f.page->SpeedButtonColorsDefaultClick();
        QCOMPARE(f.ctx.settings.colors[qv::Settings::ColorSeparator], -1);
        QCOMPARE(f.find<QWidget>("ShapeColorCtrl")->palette().color(QPalette::Window),
                 qv::patternColor(f.ctx.settings, qv::Settings::ColorSeparator, f.page->palette()));
    }

    void previewRows() {
        Fixture f;
        qv::PatternPreview* preview = f.page->preview();
        // The previous pattern's end, in its colour.
        QCOMPARE(spanText(preview->rowSpans(-2)),
                 QString("3E |--- .. .. ...|--- .. .. ...|--- .. .. ..."));
        QCOMPARE(preview->rowSpans(-1).front().colorIndex, int(qv::Settings::ColorPrevNextPatterns));
        // "EditSong mode only": blank until EditSong mode is on.
        f.find<QComboBox>("ComboBoxShowPrevNext")->setCurrentIndex(1);
        QCOMPARE(f.ctx.settings.patternShowPrevNext, 1);
        QCOMPARE(spanText(preview->rowSpans(-2)).trimmed(), QString());
        f.find<QToolButton>("SpeedButtonEditSong")->setChecked(true);
        QCOMPARE(spanText(preview->rowSpans(-1)).left(3), QString("3F "));
        f.find<QComboBox>("ComboBoxShowPrevNext")->setCurrentIndex(2);
        QCOMPARE(spanText(preview->rowSpans(-1)).trimmed(), QString());

        // Row 0: the cursor line with the black cursor on the first note.
        const auto row0 = preview->rowSpans(0);
        QCOMPARE(spanText(row0), QString("00 |--- .. .. ...|--- .. .. ...|--- .. .. ..."));
        bool cursor = false;
        for (const auto& s : row0)
            if (s.column == 4) {
                cursor = s.backgroundIndex == qv::kColorCursorField &&
                         s.colorIndex == qv::Settings::ColorInvertedText;
            }
        QVERIFY(cursor);
        // Selection on channels 2 and 3 from row 2: its three backgrounds.
        auto backgroundAt = [&](int row, int column) {
            for (const auto& s : preview->rowSpans(row))
                if (column >= s.column && column < s.column + s.text.size()) return s.backgroundIndex;
            return -1;
        };
        QCOMPARE(backgroundAt(2, 18), int(qv::Settings::ColorSelectActiveLine));
        QCOMPARE(backgroundAt(4, 18), int(qv::Settings::ColorSelectFourthLine));
        QCOMPARE(backgroundAt(5, 32), int(qv::Settings::ColorSelectNormalLine));
        QCOMPARE(backgroundAt(1, 18), int(qv::Settings::ColorNormalLine));
        QCOMPARE(backgroundAt(5, 5), int(qv::Settings::ColorNormalLine));
        QCOMPARE(backgroundAt(2, 5), int(qv::Settings::ColorInactiveLine));
        QCOMPARE(backgroundAt(8, 5), int(qv::Settings::ColorFourthLine));
        // Dots for empty notes.
        f.find<QCheckBox>("CheckBoxPtnNoteDots")->setChecked(true);
        QVERIFY(f.ctx.settings.patternEditorDots);
        QCOMPARE(spanText(preview->rowSpans(1)).mid(3, 4), QString("|..."));
    }

    void editorOptionsTakeEffectAtOnce() {
        Fixture f;
        f.find<QCheckBox>("CheckBoxPtnAutorepeat")->setChecked(false);
        QVERIFY(!f.ctx.settings.patternEditorAutorepeat);
        f.find<QCheckBox>("CheckBoxPtnKeyoff")->setChecked(true);
        QVERIFY(f.ctx.settings.patternEditorKeyoff);
        f.find<QSpinBox>("UpDownPageStep")->setValue(5);
        QCOMPARE(f.ctx.settings.patternEditorPageStep, 5);
    }

    void shellButtonsFollowTheAssociation() {
        Fixture f;
        f.page->programPath = QCoreApplication::applicationFilePath();
        qv::FileAssociation::unregisterModules();
        f.page->updateShellButtons();
        auto* reg = f.find<QPushButton>("ButtonRegQZE");
        auto* unreg = f.find<QPushButton>("ButtonUnregQZE");
        QVERIFY(reg->isEnabled());
        QVERIFY(!unreg->isEnabled());
        f.page->ButtonRegQZEClick();
        QVERIFY(qv::FileAssociation::isRegistered());
        QVERIFY(!reg->isEnabled());
        QVERIFY(unreg->isEnabled());
        f.page->ButtonUnregQZEClick();
        QVERIFY(!qv::FileAssociation::isRegistered());
        QVERIFY(reg->isEnabled());
        QVERIFY(!unreg->isEnabled());
    }

    void oneInstanceIsWrittenAtOnce() {
        Fixture f;
        auto* box = f.find<QCheckBox>("CheckBoxOneInstance");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(f.ctx.settings.oneInstance);
        QVERIFY(qv::Settings::readOneInstance(*qv::Settings::openUserStore()));
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!qv::Settings::readOneInstance(*qv::Settings::openUserStore()));
    }

    void keyboardLayouts() {
        Fixture f;
        QTemporaryDir dir;
        const QString path = dir.filePath("mine.kbd");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("layoutName=My keys\ngenStop=f12\nnoteC-0=z\n");
        }
        f.dialogResult = path;
        f.page->SpeedButtonKBDLoadClick();
        // From the build folder the dialog starts in the source tree's layouts.
        QCOMPARE(QFileInfo(f.dialogStart).canonicalFilePath(),
                 QFileInfo(QV_SOURCE_DIR "/layouts").canonicalFilePath());
        QCOMPARE(f.find<QLabel>("StaticTextKBDLayout")->text(), QString("My keys"));
        QCOMPARE(f.ctx.settings.keyboardLayout, path);
        QVERIFY(f.find<QToolButton>("SpeedButtonKBDDefault")->isEnabled());
        QVERIFY(f.boxes.isEmpty());

        // Back to the default only on OK.
        f.answer = QMessageBox::Cancel;
        f.page->SpeedButtonKBDDefaultClick();
        QCOMPARE(f.boxes.last().text, QString("Use default keyboard layout?"));
        QCOMPARE(f.ctx.settings.keyboardLayout, path);
        f.answer = QMessageBox::Ok;
        f.page->SpeedButtonKBDDefaultClick();
        QCOMPARE(f.ctx.settings.keyboardLayout, QString("Default"));
        QCOMPARE(f.find<QLabel>("StaticTextKBDLayout")->text(), QString("Default Layout"));
        QVERIFY(!f.find<QToolButton>("SpeedButtonKBDDefault")->isEnabled());

        // A file that cannot be read: the message, then the default layout.
        f.boxes.clear();
        f.dialogResult = dir.filePath("missing.kbd");
        f.page->SpeedButtonKBDLoadClick();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].caption, QString("Error"));
        QVERIFY(f.boxes[0].text.startsWith("Can't load keyboard layout '"));
        QVERIFY(f.boxes[0].text.endsWith("'\nDefault layout will be used instead\n"));
        QCOMPARE(f.ctx.settings.keyboardLayout, QString("Default"));

        // A layout that binds no note key is refused with the first few
        // unknown names and their lines; the layout in use stays.
        f.dialogResult = path;
        f.page->SpeedButtonKBDLoadClick();
        f.boxes.clear();
        const QString broken = dir.filePath("broken.kbd");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("layoutName=Broken\ngenStop=escc\nnoteC-O=z\nptnCut=ctrl+x\n");
        }
        f.dialogResult = broken;
        f.page->SpeedButtonKBDLoadClick();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, "Can't load keyboard layout '" + broken +
                                      "'\nbinds no note key\nline 2: unknown key 'escc'\n"
                                      "line 3: unknown command 'noteC-O'\nThe layout in use is kept\n");
        QCOMPARE(f.ctx.settings.keyboardLayout, path);
        QCOMPARE(f.find<QLabel>("StaticTextKBDLayout")->text(), QString("My keys"));
        QCOMPARE(f.ctx.layout.bindingIndex(qv::cmd::noteKey(0, 0)) >= 0, true);

        // A usable layout with a typo loads and says where the typo is.
        f.boxes.clear();
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("noteC-0=z\ngenStop=escc\n");
        }
        f.page->SpeedButtonKBDLoadClick();
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].caption, QString("Warning"));
        QCOMPARE(f.boxes[0].text, "Keyboard layout '" + broken + "' has unknown names:\nline 2: unknown key 'escc'\n");
        QCOMPARE(f.find<QLabel>("StaticTextKBDLayout")->text(), QString("broken.kbd"));
        f.answer = QMessageBox::Ok;
        f.page->SpeedButtonKBDDefaultClick();
        f.boxes.clear();

        // A cancelled dialog changes nothing.
        f.boxes.clear();
        f.dialogResult.clear();
        f.page->SpeedButtonKBDLoadClick();
        QVERIFY(f.boxes.isEmpty());
        QCOMPARE(f.ctx.settings.keyboardLayout, QString("Default"));
    }
};

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"
