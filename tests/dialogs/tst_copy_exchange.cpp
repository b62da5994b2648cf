// The operator and instrument copy/exchange dialogs and their commands: the
// controls, the presets, copying and swapping, the instrument numbers in the
// played rows of the patterns, "Find empty", and the choices the dialogs keep.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "dialogs/copy_exchange.h"
#include "dialogs/form_copy_ex_ins.h"
#include "dialogs/form_copy_ex_op.h"
#include "song/song.h"

namespace {

using qv::Song;
using qv::TFormCopyExIns;
using qv::TFormCopyExOp;

template <class T>
T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found) qWarning("no control %s", name);
    return found;
}

std::unique_ptr<Song> newSong() {
    auto song = std::make_unique<Song>();
    song->clear();
    return song;
}

// An instrument that differs from the default in every operator.
qv::Instrument sample(int seed, const char* name) {
    qv::Instrument ins;
    for (int op = 0; op < 4; ++op) {
        auto& o = ins.operators[static_cast<size_t>(op)];
        o.AR = (seed + op) % 32;
        o.DR = (seed * 3 + op) % 32;
        o.TL = (seed * 7 + op * 11) % 128;
        o.MULT = (seed + 2 * op) % 16;
        o.DT = (seed + op) % 7 - 3;
        o.SSGEG = op == 2 ? 9 : 0;
    }
    ins.algorithm = seed % 8;
    ins.FB = seed % 7 + 1;
    ins.setName(name);
    return ins;
}

// Clicks a button of the dialog from inside the exec hook.
template <class Form>
std::function<int(Form&)> clicking(const char* button) {
    return [button](Form& f) {
        child<QPushButton>(f, button)->click();
        return f.result();
    };
}

}  // namespace

class TestCopyExchange : public QObject {
    Q_OBJECT
private slots:
    void operatorDialogControls() {
        TFormCopyExOp form;
        QCOMPARE(form.windowTitle(), QString("Copy/Exchange operators settings"));
        QVERIFY(form.width() >= 312 && form.height() >= 149);
        QVERIFY(child<QGroupBox>(form, "GroupBox1"));
        QCOMPARE(child<QLabel>(form, "Label1")->text(), QString("Source:"));
        QCOMPARE(child<QLabel>(form, "Label2")->text(), QString("Destination:"));
        for (int i = 1; i <= 8; ++i) {
            auto* b = child<QToolButton>(form, QString("SpeedButton%1").arg(i).toLatin1());
            QCOMPARE(b->text(), QString("Operator #%1").arg((i - 1) % 4 + 1));
            QCOMPARE(b->isChecked(), i == 1 || i == 5);
        }
        QCOMPARE(child<QPushButton>(form, "Button1")->text(), QString("Copy"));
        QCOMPARE(child<QPushButton>(form, "Button2")->text(), QString("Exchange"));
        QCOMPARE(child<QPushButton>(form, "Button3")->text(), QString("Cancel"));
        QCOMPARE(form.source(), 0);
        QCOMPARE(form.destination(), 0);
        QVERIFY(!form.copy() && !form.exchange());
        QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
        // One radio group for each row.
        form.sourceButton(2)->click();
        QVERIFY(!form.sourceButton(0)->isChecked());
        QVERIFY(form.destinationButton(0)->isChecked());
    }

    void instrumentDialogControls() {
        TFormCopyExIns form;
        QCOMPARE(form.windowTitle(), QString("Copy/Exchange instruments"));
        QVERIFY(form.width() >= 350 && form.height() >= 154);
        QCOMPARE(child<QLabel>(form, "Label1")->text(), QString("Source:"));
        QCOMPARE(child<QLabel>(form, "Label2")->text(), QString("Dest.:"));
        QCOMPARE(child<QToolButton>(form, "SpeedButton1")->text(), QString("Find empty"));
        auto* check = child<QCheckBox>(form, "CheckBox1");
        QCOMPARE(check->text(), QString("Exchange with instrument numbers in patterns"));
        QVERIFY(check->isChecked());
        for (const char* name : {"UpDown1", "UpDown2"}) {
            auto* ud = child<QSpinBox>(form, name);
            QCOMPARE(ud->minimum(), 0);
            QCOMPARE(ud->maximum(), 254);
            QVERIFY(!ud->wrapping());
        }
        QCOMPARE(child<QPushButton>(form, "Button1")->text(), QString("Copy"));
        QCOMPARE(child<QPushButton>(form, "Button2")->text(), QString("Exchange"));
        QCOMPARE(child<QPushButton>(form, "Button3")->text(), QString("Cancel"));
        QVERIFY(!form.copy() && !form.exchange() && !form.exchangeInPatterns());
        QCOMPARE(form.source(), 0);
        QCOMPARE(form.destination(), 0);
    }

    void lastInstrumentProposesTheOneBefore() {
        auto song = newSong();
        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 254);
        QCOMPARE(form.source(), 254);
        QCOMPARE(form.destination(), 253);
        form.execHook = [](TFormCopyExIns& f) {
            // Checks run in a function of their own: a failed one returns from it.
            [&] {
                QCOMPARE(child<QLabel>(f, "StaticText1")->text(), QString("FF"));
                QCOMPARE(child<QLabel>(f, "StaticText3")->text(), QString("FE"));
                QCOMPARE(child<QLabel>(f, "StaticText4")->text(), QString("empty"));
                QCOMPARE(f.upDown1()->value(), 254);
                QCOMPARE(f.upDown2()->value(), 253);
            }();
            return 0;
        };
        form.execFor(*song);
        qv::prepareCopyExchangeInstruments(form, 0);
        QCOMPARE(form.destination(), 1);
    }

    void upDownsRewriteTheTexts() {
        auto song = newSong();
        song->instruments[9] = sample(4, "B\xE4ss");  // names are Latin-1
        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 2);
        form.execHook = [](TFormCopyExIns& f) {
            // Checks run in a function of their own: a failed one returns from it.
            [&] {
                QCOMPARE(child<QLabel>(f, "StaticText1")->text(), QString("03"));
                QCOMPARE(child<QLabel>(f, "StaticText3")->text(), QString("04"));
                f.upDown1()->setValue(9);
                QCOMPARE(f.source(), 9);
                QCOMPARE(child<QLabel>(f, "StaticText1")->text(), QString("0A"));
                QCOMPARE(child<QLabel>(f, "StaticText2")->text(), QString::fromUtf8("B\u00e4ss"));
                f.upDown2()->stepBy(1);
                QCOMPARE(f.destination(), 4);
                QCOMPARE(child<QLabel>(f, "StaticText3")->text(), QString("05"));
                f.upDown2()->setValue(300);  // held at 254
                QCOMPARE(f.destination(), 254);
                QCOMPARE(child<QLabel>(f, "StaticText3")->text(), QString("FF"));
                child<QPushButton>(f, "Button3")->click();
            }();
            return f.result();
        };
        form.execFor(*song);
        QCOMPARE(form.source(), 9);
        QCOMPARE(form.destination(), 254);
        QVERIFY(!form.copy() && !form.exchange());
    }

    void exchangeWithNumbersInPatterns() {
        auto song = newSong();
        const auto one = sample(1, "One");
        const auto two = sample(2, "Two");
        song->instruments[0] = one;
        song->instruments[1] = two;
        auto& p0 = song->patterns[0];
        p0.length = 16;
        p0.rows[0][0].instrument = 1;
        p0.rows[3][5].instrument = 2;
        p0.rows[4][2].instrument = 0;
        p0.rows[5][1].instrument = 3;
        p0.rows[15][4].instrument = 1;
        p0.rows[16][0].instrument = 1;  // beyond the pattern's length
        p0.rows[20][1].instrument = 2;
        song->patterns[200].length = 256;
        song->patterns[200].rows[255][3].instrument = 2;

        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 0);
        form.execHook = clicking<TFormCopyExIns>("Button2");
        form.execFor(*song);
        QVERIFY(form.exchange() && !form.copy());
        QVERIFY(form.exchangeInPatterns());
        const auto next = qv::copyExchangeInstruments(*song, 0, form);
        QCOMPARE(next.value_or(-1), 1);
        QVERIFY(song->instruments[0] == two);
        QVERIFY(song->instruments[1] == one);
        QCOMPARE(p0.rows[0][0].instrument, int16_t(2));
        QCOMPARE(p0.rows[3][5].instrument, int16_t(1));
        QCOMPARE(p0.rows[4][2].instrument, int16_t(0));
        QCOMPARE(p0.rows[5][1].instrument, int16_t(3));
        QCOMPARE(p0.rows[15][4].instrument, int16_t(2));
        QCOMPARE(p0.rows[16][0].instrument, int16_t(1));
        QCOMPARE(p0.rows[20][1].instrument, int16_t(2));
        QCOMPARE(song->patterns[200].rows[255][3].instrument, int16_t(1));
        QCOMPARE(song->patterns[1].rows[0][0].instrument, int16_t(0));
    }

    void exchangeWithoutNumbersInPatterns() {
        auto song = newSong();
        const auto one = sample(1, "One");
        const auto two = sample(2, "Two");
        song->instruments[0] = one;
        song->instruments[1] = two;
        song->patterns[0].rows[0][0].instrument = 1;
        song->patterns[0].rows[1][0].instrument = 2;

        TFormCopyExIns form;
        form.execHook = [](TFormCopyExIns& f) {
            child<QCheckBox>(f, "CheckBox1")->setChecked(false);
            child<QPushButton>(f, "Button2")->click();
            return f.result();
        };
        qv::prepareCopyExchangeInstruments(form, 0);
        form.execFor(*song);
        QVERIFY(form.exchange());
        QVERIFY(!form.exchangeInPatterns());
        QCOMPARE(qv::copyExchangeInstruments(*song, 0, form).value_or(-1), 1);
        QVERIFY(song->instruments[0] == two);
        QVERIFY(song->instruments[1] == one);
        QCOMPARE(song->patterns[0].rows[0][0].instrument, int16_t(1));
        QCOMPARE(song->patterns[0].rows[1][0].instrument, int16_t(2));

        // The check box keeps its state for the next opening.
        form.execHook = [](TFormCopyExIns& f) {
            // Checks run in a function of their own: a failed one returns from it.
            [&] {
                QVERIFY(!f.checkBox1()->isChecked());
            }();
            return 0;
        };
        form.execFor(*song);
    }

    void copyThreeToFive() {
        auto song = newSong();
        const auto three = sample(3, "Lead 3");
        song->instruments[2] = three;
        song->patterns[0].rows[0][0].instrument = 3;
        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 2);
        form.execHook = [](TFormCopyExIns& f) {
            // Checks run in a function of their own: a failed one returns from it.
            [&] {
                f.upDown2()->setValue(4);
                QCOMPARE(child<QLabel>(f, "StaticText3")->text(), QString("05"));
                child<QPushButton>(f, "Button1")->click();
            }();
            return f.result();
        };
        form.execFor(*song);
        QVERIFY(form.copy() && !form.exchange() && !form.exchangeInPatterns());
        QCOMPARE(qv::copyExchangeInstruments(*song, 2, form).value_or(-1), 4);
        QVERIFY(song->instruments[4] == three);
        QCOMPARE(song->instruments[4].nameText(), std::string("Lead 3"));
        QVERIFY(song->instruments[2] == three);
        QCOMPARE(song->patterns[0].rows[0][0].instrument, int16_t(3));
    }

    void cancelChangesNothing() {
        auto song = newSong();
        song->instruments[0] = sample(1, "One");
        const auto before = song->instruments;
        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 0);
        form.execHook = clicking<TFormCopyExIns>("Button3");
        form.execFor(*song);
        QVERIFY(!qv::copyExchangeInstruments(*song, 0, form).has_value());
        QVERIFY(song->instruments == before);

        // Escape is Cancel too.
        form.execHook = [](TFormCopyExIns& f) {
            child<QPushButton>(f, "Button2")->click();
            f.reject();
            return f.result();
        };
        form.execFor(*song);
        QVERIFY(!form.exchange() && !form.copy() && !form.exchangeInPatterns());
    }

    void findEmpty() {
        auto song = newSong();
        for (int i = 0; i < 6; ++i) song->instruments[static_cast<size_t>(i)] = sample(i, "Used");
        TFormCopyExIns form;
        qv::prepareCopyExchangeInstruments(form, 0);
        form.execHook = [](TFormCopyExIns& f) {
            child<QToolButton>(f, "SpeedButton1")->click();
            return 0;
        };
        form.execFor(*song);
        QCOMPARE(form.destination(), 6);
        QCOMPARE(form.upDown2()->value(), 6);
        QCOMPARE(child<QLabel>(form, "StaticText3")->text(), QString("07"));
        QCOMPARE(child<QLabel>(form, "StaticText4")->text(), QString("empty"));

        // With every instrument in use nothing changes.
        for (auto& ins : song->instruments) ins = sample(5, "Full");
        qv::prepareCopyExchangeInstruments(form, 10);
        form.execFor(*song);
        QCOMPARE(form.destination(), 11);
        QCOMPARE(form.upDown2()->value(), 11);
        QCOMPARE(child<QLabel>(form, "StaticText3")->text(), QString("0C"));
    }

    void copyOperator() {
        auto song = newSong();
        song->instruments[7] = sample(6, "Ops");
        const auto before = song->instruments[7];
        TFormCopyExOp form;
        qv::prepareCopyExchangeOperators(form);
        form.execHook = [](TFormCopyExOp& f) {
            f.sourceButton(1)->click();
            f.destinationButton(3)->click();
            child<QPushButton>(f, "Button1")->click();
            return f.result();
        };
        form.execFor();
        QCOMPARE(form.source(), 1);
        QCOMPARE(form.destination(), 3);
        QVERIFY(form.copy() && !form.exchange());
        QVERIFY(qv::copyExchangeOperators(*song, 7, form));
        const auto& after = song->instruments[7];
        QVERIFY(after.operators[3] == before.operators[1]);
        QVERIFY(after.operators[1] == before.operators[1]);
        QVERIFY(after.operators[0] == before.operators[0]);
        QVERIFY(after.operators[2] == before.operators[2]);
        QCOMPARE(after.algorithm, before.algorithm);
        QCOMPARE(after.FB, before.FB);
        QCOMPARE(after.nameText(), before.nameText());
    }

    void exchangeOperators() {
        auto song = newSong();
        song->instruments[0] = sample(9, "Ops");
        const auto before = song->instruments[0];
        TFormCopyExOp form;
        form.execHook = [](TFormCopyExOp& f) {
            f.sourceButton(0)->click();
            f.destinationButton(2)->click();
            child<QPushButton>(f, "Button2")->click();
            return f.result();
        };
        qv::prepareCopyExchangeOperators(form);
        form.execFor();
        QVERIFY(form.exchange() && !form.copy());
        QVERIFY(qv::copyExchangeOperators(*song, 0, form));
        QVERIFY(song->instruments[0].operators[0] == before.operators[2]);
        QVERIFY(song->instruments[0].operators[2] == before.operators[0]);
        QVERIFY(song->instruments[0].operators[1] == before.operators[1]);
    }

    void operatorOntoItself() {
        auto song = newSong();
        song->instruments[3] = sample(12, "Self");
        const auto before = song->instruments[3];
        TFormCopyExOp form;
        for (const char* button : {"Button1", "Button2"}) {
            form.execHook = [button](TFormCopyExOp& f) {
                f.sourceButton(2)->click();
                f.destinationButton(2)->click();
                child<QPushButton>(f, button)->click();
                return f.result();
            };
            form.execFor();
            QVERIFY(qv::copyExchangeOperators(*song, 3, form));
            QVERIFY(song->instruments[3] == before);
        }
    }

    void operatorCancel() {
        auto song = newSong();
        song->instruments[0] = sample(2, "Keep");
        const auto before = song->instruments[0];
        TFormCopyExOp form;
        form.execHook = [](TFormCopyExOp& f) {
            f.sourceButton(3)->click();
            f.destinationButton(1)->click();
            child<QPushButton>(f, "Button3")->click();
            return f.result();
        };
        form.execFor();
        // Cancel also stores the pressed operators.
        QCOMPARE(form.source(), 3);
        QCOMPARE(form.destination(), 1);
        QVERIFY(!form.copy() && !form.exchange());
        QVERIFY(!qv::copyExchangeOperators(*song, 0, form));
        QVERIFY(song->instruments[0] == before);
    }

    void operatorDialogKeepsDestination() {
        TFormCopyExOp form;
        form.execHook = [](TFormCopyExOp& f) {
            f.sourceButton(2)->click();
            f.destinationButton(3)->click();
            child<QPushButton>(f, "Button1")->click();
            return f.result();
        };
        form.execFor();
        // The next opening starts from operator #1 but keeps the destination.
        qv::prepareCopyExchangeOperators(form);
        form.execHook = [](TFormCopyExOp& f) {
            // Checks run in a function of their own: a failed one returns from it.
            [&] {
                QVERIFY(f.sourceButton(0)->isChecked());
                QVERIFY(!f.sourceButton(2)->isChecked());
                QVERIFY(f.destinationButton(3)->isChecked());
                f.reject();
            }();
            return f.result();
        };
        form.execFor();
        QCOMPARE(form.source(), 0);
        QCOMPARE(form.destination(), 3);
        QVERIFY(!form.copy() && !form.exchange());
    }
};

QTEST_MAIN(TestCopyExchange)
#include "tst_copy_exchange.moc"
