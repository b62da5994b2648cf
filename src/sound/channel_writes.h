// The register writes of one channel: key on/off, pitch (including the four
// frequencies of channel 3's special mode), instrument loading and volume
// updates, appended to the RegisterWriteQueue. The Player decides when they
// happen; these operations decide what the chips receive.
#pragma once

#include <array>
#include <cstdint>

#include "sound/chip_pair.h"
#include "sound/note_tables.h"
#include "song/song.h"

namespace qv {

// The Player's state of one channel (0..5; chip = channel / 3, chip channel =
// channel % 3). A default-constructed record holds the values of
// Player::resetChannels.
struct PlayerChannel {
    int currentInstrument = -1;  // 1-255 in use, -1 none
    int channelVolume = 248;     // volume * 8, 0..248
    int arpeggioStep = 0;        // 0, 1, 2
    int pitch = -1;              // base pitch in 1/32 semitone
    int portamentoTarget = -1;   // target of effect 3
    int vibratoOffset = 0;
    int arpeggioOffset = 0;
    int vibratoPhase = 0;        // 0..63
    int channelEffect = 0;       // effect number of the last row read
    int arpeggioParam = 255;     // 255 = no arpeggio
    int portaUpSpeed = 0;
    int portaDownSpeed = 0;
    int tonePortaSpeed = 0;
    int vibratoParam = 0;
    int volumeSlideParam = 0;
    int cutFrame = -1;           // ECx; -1 none
    int delayFrame = -1;         // EDx
    int retrigInterval = -1;     // E9x
    bool reloadInstrument = false;
};

constexpr int kMaxChannelVolume = 248;

// Operator k (1..4) sits at register offset 4 * (k - 1) (ym2203::operatorSlot).
constexpr int operatorOffset(int k) { return 4 * (k - 1); }

class ChannelWriter {
public:
    ChannelWriter(RegisterWriteQueue& queue, const Song& song, const NoteTables& tables,
                  std::array<PlayerChannel, kChannels>& channels)
        : queue_(queue), song_(song), tables_(tables), channels_(channels) {}

    // Appends (chip of the channel, reg, value); dropped when the frame is full.
    void queue(int channel, int reg, int value);
    void keyOff(int channel);
    // All four operators on.
    void keyOn(int channel);
    // High byte first: the chip latches it until the low byte arrives. With
    // channel3Mode != 0 on channel 2 the four operator frequencies are written.
    void writePitch(int channel, int pitch, int channel3Mode);
    // Loads instrument n (1-255) in full; the carriers stay silent (0xFF)
    // until the rest of the instrument is set, then get their levels.
    void loadInstrument(int channel, int n, int cellVolume, int effect, int param);
    // v = volume * 8, or 0 to keep the channel volume. Writes the levels of
    // the carriers and of an operator named by effect 8, 9, C or D.
    void updateVolume(int channel, int v, int effect, int param);

    // The instrument in use on the channel, or null when it has none (or an
    // out-of-range number).
    const Instrument* currentInstrument(int channel) const;

private:
    struct Levels {
        std::array<int, 4> level{};
        unsigned marked = 0;  // bit k-1 = operator k
    };
    Levels computeLevels(const Instrument& ins, int channelVolume, int effect, int param) const;

    RegisterWriteQueue& queue_;
    const Song& song_;
    const NoteTables& tables_;
    std::array<PlayerChannel, kChannels>& channels_;
};

// Instrument numbers the writes accept.
constexpr bool validInstrument(int n) { return n >= 1 && n <= kInstruments; }

}  // namespace qv
