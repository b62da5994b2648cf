// The whole engine builds, plays a note through a null device and shuts down
// in the right order, any number of times in one process.
#include <QtTest>

#include "app/app_context.h"

class TestAppContext : public QObject {
    Q_OBJECT
private slots:
    void buildsPlaysAndClosesRepeatedly() {
        for (int round = 0; round < 3; ++round) {
            qv::AppContext ctx(std::make_unique<qv::NullAudioDevice>());
            QVERIFY(ctx.chips.create(qv::kSampleRate, qv::kChipClock, 128));
            QCOMPARE(ctx.song->order.length, 1);
            auto& cell = ctx.song->patterns[0].rows[0][0];
            cell.setPitch(48);
            cell.instrument = 1;
            ctx.song->instrument(1).operators[3].TL = 0;
            ctx.song->instrument(1).operators[3].AR = 31;
            ctx.song->instrument(1).algorithm = 7;
            {
                std::lock_guard<std::mutex> lock(ctx.player.songMutex());
                ctx.player.songLengthFrames();
            }
            QVERIFY(ctx.audio.open(0, 0));
            QCOMPARE(ctx.player.start(0, 0, true, false, false, -1), false);
            QTRY_VERIFY_WITH_TIMEOUT(!ctx.player.isPlaying(), 2000);
            ctx.player.stop();
            ctx.audio.close();
            ctx.chips.destroy();
        }
    }
};

QTEST_GUILESS_MAIN(TestAppContext)
#include "tst_app_context.moc"
