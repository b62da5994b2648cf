// The effect numbers of a Cell's effect column (0-F) and the sub-commands of
// effect E, named once for the Player, the instrument writes, the editors and
// the importers.
#pragma once

namespace qv {

enum Effect : int {
    kEffectArpeggio = 0x0,        // xy: the note, +x, +y semitones in turn (0 with parameter 0 is no effect)
    kEffectPortaUp = 0x1,         // pitch up by the parameter every frame
    kEffectPortaDown = 0x2,       // pitch down by the parameter every frame
    kEffectTonePorta = 0x3,       // slide towards the row's note without a new key on
    kEffectVibrato = 0x4,         // xy: speed x, depth y
    kEffectTonePortaSlide = 0x5,  // tone portamento going on, plus a volume slide
    kEffectVibratoSlide = 0x6,    // vibrato going on, plus a volume slide
    kEffectLevel1 = 0x8,          // total level of operator 1
    kEffectLevel2 = 0x9,          // total level of operator 2
    kEffectVolumeSlide = 0xA,     // xy: up by x or down by y every frame
    kEffectChannel3Mode = 0xB,    // xy: channel 3 special mode, operators 3 and 4 detuned by x and y
    kEffectLevel3 = 0xC,          // total level of operator 3
    kEffectLevel4 = 0xD,          // total level of operator 4
    kEffectExtended = 0xE,        // high nibble picks a sub-command, low nibble is its value
    kEffectSpeed = 0xF,           // above 15: even and odd speed; 0-15: interleave
};

// Effect E's sub-commands (the parameter's high nibble).
enum ExtendedEffect : int {
    kExtMultiple1 = 0x00,  // MULT of operator 1 .. 4 (0x00-0x30)
    kExtMultiple4 = 0x30,
    kExtKeyOnMask = 0x50,  // key on of the operators whose bits are set
    kExtPatternLoop = 0x60,  // E60 marks the start, E6x plays the section x + 1 times
    kExtPan = 0x80,          // E81 left, E82 right, others both
    kExtRetrigger = 0x90,
    kExtCut = 0xC0,
    kExtDelay = 0xD0,
    kExtReload = 0xE0,     // E0: write the instrument again
    kExtFeedback = 0xF0,   // FB of the channel
};

// The operator (1-4) whose total level a level effect sets, or 0.
constexpr int levelEffectOperator(int effect) {
    switch (effect) {
        case kEffectLevel1: return 1;
        case kEffectLevel2: return 2;
        case kEffectLevel3: return 3;
        case kEffectLevel4: return 4;
        default: return 0;
    }
}

}  // namespace qv
