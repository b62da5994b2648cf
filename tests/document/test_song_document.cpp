#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "document/song_document.h"
#include "song/edit_ops.h"
#include "song/module_file.h"
#include "sound/chip_pair.h"
#include "sound/player.h"

using namespace qv;

namespace {

struct Rig {
    std::unique_ptr<Song> song = std::make_unique<Song>();
    ChipPair chips;
    Player player{*song, chips};
    SongDocument doc{*song, player};
    int64_t now = 0;
    Rig() {
        song->clear();
        doc.setClock([this] { return now; });
        doc.refreshTiming();
    }
};

Cell randomCell(std::mt19937& rng) {
    Cell c;
    const int kind = static_cast<int>(rng() % 4);
    if (kind == 0) return c;
    if (kind == 1) c.note = kNoteKeyOff;
    else c.setPitch(static_cast<int>(rng() % 96));
    c.volume = static_cast<int8_t>(rng() % 32);
    c.instrument = static_cast<int16_t>(rng() % 256);
    c.effect = static_cast<int8_t>(rng() % 16);
    c.param = static_cast<uint8_t>(rng() % 256);
    return c;
}

// A song with something in every part, so that every kind of edit has
// something to change.
void fill(Song& s, std::mt19937& rng, int patterns) {
    for (int p = 0; p < patterns; ++p) {
        s.patterns[p].length = 16 + static_cast<int>(rng() % 48);
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < kChannels; ++c)
                if (rng() % 3 == 0) s.patterns[p].rows[r][c] = randomCell(rng);
    }
    s.order.length = 6;
    for (int i = 0; i < 6; ++i) s.order.entries[i].pattern = static_cast<uint8_t>(i % patterns);
    for (int i = 1; i <= 8; ++i) {
        s.instrument(i).algorithm = i % 8;
        s.instrument(i).operators[1].TL = 10 * i;
        s.instrument(i).setName("ins" + std::to_string(i));
    }
    s.setTrackName("track");
}

Block randomBlock(std::mt19937& rng, int pattern) {
    Block b;
    b.pattern = pattern;
    b.channel = static_cast<int>(rng() % kChannels);
    b.row = static_cast<int>(rng() % 32);
    b.width = 1 + static_cast<int>(rng() % (kChannels - b.channel));
    b.height = 1 + static_cast<int>(rng() % 24);
    return b;
}

// One random edit of any kind through the document.
void randomEdit(Rig& rig, std::mt19937& rng, PatternClipboard& clip) {
    SongDocument& d = rig.doc;
    const int p = static_cast<int>(rng() % 8);
    const int kind = static_cast<int>(rng() % 22);
    rig.now += 10 + static_cast<int>(rng() % 3000);  // some edits fall within a merge window
    switch (kind) {
    case 0: {
        const int r = static_cast<int>(rng() % 64), c = static_cast<int>(rng() % kChannels);
        const Cell cell = randomCell(rng);
        d.edit("Type note", SongChange::cells(p, r, r), [&](Song& s) { s.patterns[p].rows[r][c] = cell; },
               "typing");
        break;
    }
    case 1: d.edit("Cut", SongChange::cells(p), [&](Song& s) { cutBlock(s, randomBlock(rng, p), clip); }); break;
    case 2: d.edit("Paste", SongChange::cells(p), [&](Song& s) { pasteBlock(s, p, 1, 3, clip); }); break;
    case 3: d.edit("Paste over", SongChange::cells(p), [&](Song& s) { pasteBlockOver(s, p, 0, 7, clip); }); break;
    case 4:
        d.edit("Transpose", SongChange::cells(p),
               [&](Song& s) { transposeBlock(s, 0, randomBlock(rng, p), 5, 0, false); });
        break;
    case 5:
        d.edit("Gradient", SongChange::cells(p), [&](Song& s) {
            volumeGradient(s, randomBlock(rng, p));
            effectScale(s, randomBlock(rng, p), 20, 150);
        });
        break;
    case 6: d.edit("Duplicate", SongChange::cells(p), [&](Song& s) { duplicateBlock(s, randomBlock(rng, p), 2); }); break;
    case 7:
        d.edit("Insert row", SongChange::patternLength(p), [&](Song& s) {
            expandBlock(s, randomBlock(rng, p));
            insertCell(s, p, 5, 2);
        });
        break;
    case 8: d.edit("Delete row", SongChange::cells(p), [&](Song& s) { deleteCell(s, p, 3, 4); }); break;
    case 9: d.edit("Expand pattern", SongChange::patternLength(p), [&](Song& s) { expandPattern(s, p); }); break;
    case 10: d.edit("Shrink pattern", SongChange::patternLength(p), [&](Song& s) { shrinkPattern(s, p); }); break;
    case 11: {
        const int len = 1 + static_cast<int>(rng() % 256);
        d.edit("Pattern length", SongChange::patternLength(p), [&](Song& s) { s.patterns[p].length = len; });
        break;
    }
    case 12: {
        SongChange scope = SongChange::allPatterns();
        scope.parts |= SongChange::OrderList;
        const int pos = static_cast<int>(rng() % 6);
        d.edit("Insert order entry", scope,
               [&](Song& s) { insertOrderEntry(s, pos, static_cast<OrderInsertKind>(rng() % 3)); });
        break;
    }
    case 13:
        d.edit("Move order entry", SongChange::orderList(), [&](Song& s) {
            swapOrderEntries(s, 0, 1);
            if (rng() % 2) deleteOrderEntry(s, 2);
            s.order.loopPosition = static_cast<int16_t>(rng() % s.order.length);
        });
        break;
    case 14: {
        const int v = 1 + static_cast<int>(rng() % 31);
        d.edit("Speed", SongChange::speeds(), [&](Song& s) {
            s.speedEven = v;
            s.interleave = 1 + v % 4;
        }, "speed");
        break;
    }
    case 15: {
        const int i = 1 + static_cast<int>(rng() % 10), tl = static_cast<int>(rng() % 128);
        d.edit("Change TL", SongChange::instrumentPart(i),
               [&](Song& s) { s.instrument(i).operators[2].TL = tl; }, "knob TL");
        break;
    }
    case 16: {
        const int i = 1 + static_cast<int>(rng() % 10);
        d.edit("Reset instrument", SongChange::instrumentPart(i), [&](Song& s) { s.resetInstrument(i); });
        break;
    }
    case 17: {
        SongChange scope = SongChange::allPatterns();
        scope.parts |= SongChange::Instrument;
        d.edit("Exchange instruments", scope, [&](Song& s) {
            std::swap(s.instrument(1), s.instrument(3));
            exchangeInstrumentNumbers(s, 1, 3);
            if (rng() % 3 == 0) rearrangeInstruments(s);
            if (rng() % 3 == 0) cleanupInstruments(s);
        });
        break;
    }
    case 18: d.edit("Rearrange patterns", SongChange::wholeSong(), [&](Song& s) { rearrangePatterns(s); }); break;
    case 19: {
        const std::string text(1 + rng() % 40, static_cast<char>('a' + rng() % 26));
        d.edit("Type text", SongChange::texts(), [&](Song& s) { s.setMessage(s.messageText() + text); },
               "message");
        break;
    }
    case 20:
        d.edit("Transpose track", SongChange::allPatterns(), [&](Song& s) {
            for (int q = 0; q < kPatterns; ++q)
                transposeBlock(s, 0, Block{q, 0, 0, kChannels, s.patterns[q].length}, -3, 0, false);
        });
        break;
    case 21: {
        auto other = std::make_unique<Song>();
        other->clear();
        fill(*other, rng, 3);
        d.replaceSong(*other, true, "Import MOD");
        break;
    }
    }
}

TEST(SongDocument, RandomEditsUndoToTheStartAndRedoToTheEnd) {
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        Rig rig;
        fill(*rig.song, rng, 8);
        rig.doc.refreshTiming();
        const auto original = packModule(*rig.song);
        const int originalLength = rig.doc.lengthFrames();
        PatternClipboard clip;
        copyBlock(*rig.song, Block{0, 0, 0, 6, 16}, clip);
        for (int i = 0; i < 300; ++i) randomEdit(rig, rng, clip);
        const auto edited = packModule(*rig.song);
        const int editedLength = rig.doc.lengthFrames();
        ASSERT_NE(edited, original);
        EXPECT_TRUE(rig.doc.isModified());

        int steps = 0;
        while (rig.doc.undo()) ++steps;
        EXPECT_EQ(packModule(*rig.song), original);
        EXPECT_EQ(rig.doc.lengthFrames(), originalLength);
        EXPECT_EQ(rig.doc.lengthFrames(), rig.player.songLengthFrames());
        EXPECT_FALSE(rig.doc.isModified());
        EXPECT_GT(steps, 100);
        EXPECT_LT(steps, 300);  // merged runs are one step each

        while (rig.doc.redo()) --steps;
        EXPECT_EQ(steps, 0);
        EXPECT_EQ(packModule(*rig.song), edited);
        EXPECT_EQ(rig.doc.lengthFrames(), editedLength);
        EXPECT_TRUE(rig.doc.isModified());
    }
}

TEST(SongDocument, StepsNamesCleanStateAndMerging) {
    Rig rig;
    SongDocument& d = rig.doc;
    std::vector<SongChange> told;
    const int id = d.addListener([&](const SongChange& c) { told.push_back(c); });
    EXPECT_FALSE(d.canUndo());
    EXPECT_FALSE(d.edit("Nothing", SongChange::speeds(), [](Song&) {}));  // no change, no step
    EXPECT_TRUE(told.empty());

    d.setPlaceSource([](SongChange& c) { c.orderPosition = 4; c.cursorRow = 9; });
    EXPECT_TRUE(d.edit("Type note", SongChange::cells(2), [](Song& s) { s.patterns[2].rows[9][1].volume = 5; }));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].parts, unsigned(SongChange::Cells));
    EXPECT_EQ(told[0].pattern, 2);
    EXPECT_EQ(told[0].firstRow, 9);
    EXPECT_EQ(told[0].orderPosition, 4);
    EXPECT_EQ(d.undoText(), "Type note");
    EXPECT_TRUE(d.isModified());

    // One knob drag: three notches within the window are one step; a sealed
    // step or a pause starts a new one.
    for (int v : {10, 11, 12}) {
        rig.now += 100;
        d.edit("Change AR", SongChange::instrumentPart(1), [v](Song& s) { s.instrument(1).operators[0].AR = v; },
               "AR");
    }
    EXPECT_EQ(d.history().undoCount(), 2u);
    d.sealMerge();
    d.edit("Change AR", SongChange::instrumentPart(1), [](Song& s) { s.instrument(1).operators[0].AR = 20; }, "AR");
    rig.now += 5000;
    d.edit("Change AR", SongChange::instrumentPart(1), [](Song& s) { s.instrument(1).operators[0].AR = 21; }, "AR");
    EXPECT_EQ(d.history().undoCount(), 4u);

    told.clear();
    ASSERT_TRUE(d.undo());
    ASSERT_TRUE(d.undo());
    ASSERT_TRUE(d.undo());
    EXPECT_EQ(rig.song->instrument(1).operators[0].AR, 0);
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2].cause, SongChange::Cause::Undo);
    EXPECT_EQ(told[2].instrument, 1);
    EXPECT_EQ(d.redoText(), "Change AR");

    // Clean state: saving here, then undoing past it and redoing back.
    d.setClean();
    EXPECT_FALSE(d.isModified());
    d.undo();
    EXPECT_TRUE(d.isModified());
    d.redo();
    EXPECT_FALSE(d.isModified());
    // A new edit drops the redo steps; the clean state is no longer in reach
    // once the step after it is replaced.
    d.undo();
    d.edit("Speed", SongChange::speeds(), [](Song& s) { s.speedOdd = 7; });
    EXPECT_FALSE(d.canRedo());
    EXPECT_TRUE(d.isModified());
    while (d.undo()) {}
    EXPECT_TRUE(d.isModified());

    // A step of the clean state is never merged into.
    d.removeListener(id);
    Rig r2;
    r2.doc.edit("Type", SongChange::texts(), [](Song& s) { s.setAuthor("a"); }, "author");
    r2.doc.setClean();
    r2.doc.edit("Type", SongChange::texts(), [](Song& s) { s.setAuthor("ab"); }, "author");
    EXPECT_EQ(r2.doc.history().undoCount(), 2u);
    r2.doc.undo();
    EXPECT_FALSE(r2.doc.isModified());
    EXPECT_EQ(r2.song->authorText(), "a");
}

TEST(SongDocument, HistoryStaysWithinItsBudgetOnAFullSong) {
    std::mt19937 rng(7);
    Rig rig;
    for (int p = 0; p < kPatterns; ++p) {
        rig.song->patterns[p].length = kRows;
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kChannels; ++c) rig.song->patterns[p].rows[r][c].setPitch(12 + static_cast<int>(rng() % 60));
    }
    rig.doc.setMemoryBudget(16u << 20);  // the same rule as the 64 MB default, at a quarter of the cost
    auto transposeAll = [](Song& s) {
        for (int q = 0; q < kPatterns; ++q) transposeBlock(s, 0, Block{q, 0, 0, kChannels, kRows}, 1, 0, false);
    };
    for (int i = 0; i < 12; ++i) {
        rig.doc.edit("Transpose track", SongChange::allPatterns(), transposeAll);
        EXPECT_LE(rig.doc.history().memoryUsed(), 16u << 20);
    }
    // About 3 MB a step: the oldest went first, the newest are all there.
    EXPECT_GE(rig.doc.history().undoCount(), 4u);
    EXPECT_LT(rig.doc.history().undoCount(), 12u);
    EXPECT_TRUE(rig.doc.isModified());  // the clean start is out of reach
    const int note = rig.song->patterns[5].rows[7][2].pitch();
    while (rig.doc.undo()) {}
    EXPECT_EQ(rig.song->patterns[5].rows[7][2].pitch(), note - static_cast<int>(rig.doc.history().redoCount()));

    // A thousand small steps fit the default budget with room to spare.
    Rig small;
    for (int i = 0; i < 1200; ++i)
        small.doc.edit("Type note", SongChange::cells(i % 256),
                       [i](Song& s) { s.patterns[i % 256].rows[i % 64][i % 6].volume = static_cast<int8_t>(1 + i % 31); });
    EXPECT_EQ(small.doc.history().undoCount(), 1200u);
    EXPECT_LT(small.doc.history().memoryUsed(), 1u << 20);
}

TEST(SongDocument, LoadSaveAndReplace) {
    const auto dir = std::filesystem::path(QV_BINARY_DIR) / "song_document_files";
    std::filesystem::create_directories(dir);
    const auto path = dir / "a.qze";
    Rig rig;
    std::vector<SongChange::Cause> causes;
    rig.doc.addListener([&](const SongChange& c) { causes.push_back(c.cause); });
    rig.doc.edit("Type", SongChange::cells(0), [](Song& s) { s.patterns[0].rows[0][0].setPitch(40); });
    ASSERT_TRUE(rig.doc.save(path));
    EXPECT_FALSE(rig.doc.isModified());
    EXPECT_EQ(rig.song->saveCount, 1);
    EXPECT_TRUE(rig.doc.canUndo());  // saving keeps the history

    auto copy = std::make_unique<Song>();
    rig.doc.copySongInto(*copy);
    EXPECT_EQ(packModule(*copy), packModule(*rig.song));

    Rig other;
    other.doc.edit("Type", SongChange::cells(1), [](Song& s) { s.patterns[1].rows[0][0].volume = 3; });
    EXPECT_EQ(other.doc.load(dir / "missing.qze"), kModuleNotFound);
    EXPECT_TRUE(other.doc.canUndo());
    ASSERT_EQ(other.doc.load(path), kModuleLoaded);
    EXPECT_FALSE(other.doc.canUndo());
    EXPECT_FALSE(other.doc.isModified());
    EXPECT_EQ(other.song->patterns[0].rows[0][0].pitch(), 40);
    EXPECT_FALSE(rig.doc.save(dir / "no" / "such" / "folder" / "b.qze"));

    // Recovered: modified, nothing to undo; new: clean.
    rig.doc.replaceSong(*other.song, true);
    EXPECT_TRUE(rig.doc.isModified());
    EXPECT_FALSE(rig.doc.canUndo());
    auto fresh = std::make_unique<Song>();
    fresh->clear();
    rig.doc.replaceSong(*fresh, false);
    EXPECT_FALSE(rig.doc.isModified());
    EXPECT_EQ(causes.back(), SongChange::Cause::Replace);
    std::filesystem::remove_all(dir);
}

// A copy taken on another thread (the recovery writer) while the editor
// changes every pattern is never torn: all patterns come from one state.
TEST(SongDocument, CopiesFromAnotherThreadAreWhole) {
    Rig rig;
    std::atomic<bool> done{false};
    int torn = 0, copies = 0;
    std::thread copier([&] {
        auto copy = std::make_unique<Song>();
        while (!done.load()) {
            rig.doc.copySongInto(*copy);
            ++copies;
            for (int p = 1; p < kPatterns; ++p)
                if (copy->patterns[p].rows[0][0].volume != copy->patterns[0].rows[0][0].volume) {
                    ++torn;
                    break;
                }
        }
    });
    for (int v = 1; v <= 40; ++v)
        rig.doc.edit("Fill", SongChange::allPatterns(), [v](Song& s) {
            for (Pattern& p : s.patterns) p.rows[0][0].volume = static_cast<int8_t>(v % 32);
        });
    done = true;
    copier.join();
    EXPECT_GT(copies, 0);
    EXPECT_EQ(torn, 0);
}

}  // namespace
