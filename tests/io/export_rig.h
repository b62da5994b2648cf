// A Song, ChipPair and Player for export tests, with small song builders and
// a reference drive of the Player that copies each frame's queue.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "song/song.h"
#include "sound/chip_pair.h"
#include "sound/player.h"

namespace qvtest {

struct ExportRig {
    std::unique_ptr<qv::Song> song = std::make_unique<qv::Song>();
    std::unique_ptr<qv::ChipPair> chips = std::make_unique<qv::ChipPair>();
    std::unique_ptr<qv::Player> player;

    ExportRig() {
        song->clear();
        chips->create(qv::kSampleRate, qv::kChipClock, 128);
        player = std::make_unique<qv::Player>(*song, *chips);
    }
    ~ExportRig() {
        player.reset();
        chips->destroy();
    }

    // An audible instrument: algorithm 7 with only operator 1 sounding.
    void sineInstrument(int n) {
        qv::Instrument& i = song->instrument(n);
        i = qv::Instrument{};
        i.algorithm = 7;
        i.operators[0].TL = 0;
        i.operators[0].MULT = 1;
        i.operators[0].AR = 31;
        i.operators[0].RR = 15;
        i.setName("sine");
    }
    // Order entries use patterns 0.. with the given lengths.
    void layout(const std::vector<int>& lengths, int loopPosition, int speedEven, int speedOdd = -1) {
        song->order.length = static_cast<int16_t>(lengths.size());
        song->order.loopPosition = static_cast<int16_t>(loopPosition);
        for (size_t i = 0; i < lengths.size(); ++i) {
            song->order.entries[i].pattern = static_cast<uint8_t>(i);
            song->patterns[i].length = lengths[i];
        }
        song->speedEven = speedEven;
        song->speedOdd = speedOdd < 0 ? speedEven : speedOdd;
        song->interleave = 1;
    }
    qv::Cell& cell(int pattern, int row, int channel) { return song->patterns[pattern].rows[row][channel]; }
    void note(int pattern, int row, int channel, int note, int octave, int instrument = 1, int volume = 0) {
        qv::Cell& c = cell(pattern, row, channel);
        c.note = static_cast<int16_t>(note);
        c.octave = static_cast<int8_t>(octave);
        c.instrument = static_cast<int16_t>(instrument);
        c.volume = static_cast<int8_t>(volume);
    }
    int songFrames() {
        std::lock_guard<std::mutex> lock(player->songMutex());
        return player->songLengthFrames();
    }
    // The first n frames as the Player queues them, placeholders left out.
    std::vector<std::vector<qv::RegisterWrite>> referenceFrames(int n, uint32_t clock) {
        {
            std::lock_guard<std::mutex> lock(player->songMutex());
            player->buildNoteTables(clock);
            player->songLengthFrames();
        }
        player->start(0, 0, false, false, false, -1);
        std::vector<std::vector<qv::RegisterWrite>> frames;
        for (int i = 0; i < n; ++i) {
            std::lock_guard<std::mutex> lock(player->songMutex());
            player->tick();
            frames.emplace_back();
            const qv::RegisterWriteQueue& q = chips->queue();
            for (int k = 0; k < q.count; ++k)
                if (q.entries[k].reg != 255) frames.back().push_back(q.entries[k]);
        }
        player->stop();
        std::lock_guard<std::mutex> lock(player->songMutex());
        player->buildNoteTables(qv::kChipClock);
        return frames;
    }
};

}  // namespace qvtest
