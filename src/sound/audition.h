// The three audition voices on the third chip of the ChipPair: notes played
// on the instrument page sound the selected instrument there, written
// straight to the chip (not through the queue). Used from the user interface
// thread only.
#pragma once

#include <array>

#include "sound/chip_pair.h"
#include "sound/note_tables.h"
#include "song/song.h"

namespace qv {

class Audition {
public:
    static constexpr int kVoices = 3;
    static constexpr int kAuditionChip = 2;

    // tables: the Player's note tables (Player::noteTables()), so that the
    // audition is tuned like the song.
    Audition(ChipPair& chips, const NoteTables& tables) : chips_(chips), tables_(tables) {}

    // The instrument that the next started voice loads (the instrument
    // page's current one).
    void setInstrument(const Instrument& instrument) { instrument_ = instrument; }

    // note 0..95. Reports whether the note was taken (notes outside 0..95 are
    // not played but count as taken).
    bool auditionStart(int key, int note, bool poly);
    bool auditionStart(int key, int note, bool poly, const Instrument& instrument) {
        setInstrument(instrument);
        return auditionStart(key, note, poly);
    }
    // Mono only: voice 0 glides to the note without a new key-on.
    bool auditionSetPitch(int note, bool poly);
    // key >= 0: releases the voices started by that key; key < 0: the voices
    // playing note. Reports whether any voice was released or changed: in
    // mono mode, releasing the sounding key while other keys are still held
    // glides the voice back to the most recent of them (legato, no new
    // attack) instead of silencing it.
    bool auditionRelease(int key, int note = -1);
    bool auditionReleaseAll();

    // -1 when voice v is free.
    int voiceNote(int v) const { return voices_[v].note; }
    int voiceKey(int v) const { return voices_[v].key; }

private:
    struct Voice {
        int key = -1;
        int note = -1;
    };
    void write(int reg, int value);
    void writeNotePitch(int voice, int note);
    void load(int voice, int key, int note);
    void keyOffAndFree(int voice);

    // Mono mode's held keys, oldest first.
    static constexpr int kHeldKeys = 40;
    void forgetHeld(int key, int note);

    ChipPair& chips_;
    const NoteTables& tables_;
    Instrument instrument_{};
    std::array<Voice, kVoices> voices_{};
    std::array<Voice, kHeldKeys> held_{};
    int heldCount_ = 0;
};

}  // namespace qv
