// The one module the editor holds: patterns, order list, instruments, speeds
// and texts. Every capacity is fixed; nothing in a Song is allocated or grown
// while editing. A pattern shorter than 256 rows still owns 256 rows, and the
// rows past its length keep their contents.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qv {

constexpr int kChannels = 6;
constexpr int kPatterns = 256;
constexpr int kRows = 256;
constexpr int kOrderEntries = 256;
constexpr int kInstruments = 255;
constexpr int kMaxPitch = 95;         // B-8
constexpr int kDefaultPatternLength = 64;
constexpr int kTrackNameSize = 64;    // bytes, including the terminator
constexpr int kAuthorSize = 64;
constexpr int kMessageSize = 384;
constexpr int kInstrumentNameSize = 16;

constexpr int16_t kNoteKeyOff = 254;
constexpr int16_t kNoteEmpty = 255;

struct Cell {
    int16_t note = kNoteEmpty;  // 0-11 semitone, 254 key off, 255 empty
    int8_t octave = 0;          // 1-8 when note is 0-11
    int8_t volume = 0;          // 0 = none, 1-31
    int8_t effect = 0;          // 0-15
    uint8_t param = 0;          // 0-255
    int16_t instrument = 0;     // 0 = none, 1-255

    bool hasNote() const { return note >= 0 && note <= 11; }
    bool hasEffect() const { return effect != 0 || param != 0; }
    bool isEmpty() const {
        return note == kNoteEmpty && octave == 0 && volume == 0 && effect == 0 && param == 0 &&
               instrument == 0;
    }
    // note + 12 * (octave - 1); meaningful only when hasNote().
    int pitch() const { return note + 12 * (octave - 1); }
    // Stores a pitch 0-95 back as note and octave.
    void setPitch(int p) {
        note = static_cast<int16_t>(p % 12);
        octave = static_cast<int8_t>(p / 12 + 1);
    }
    bool operator==(const Cell&) const = default;
};

using Row = std::array<Cell, kChannels>;

struct Pattern {
    std::array<Row, kRows> rows{};
    int32_t length = kDefaultPatternLength;  // 1-256

    void clear();
    bool operator==(const Pattern&) const = default;
};

struct OrderEntry {
    uint8_t pattern = 0;
    // Timing in force when this position starts; derived by the song length
    // computation, never stored in files.
    uint8_t speedEven = 0;
    uint8_t speedOdd = 0;
    uint8_t interleave = 0;
    int32_t framesBefore = 0;
};

struct OrderList {
    int16_t length = 1;        // 1-256
    int16_t loopPosition = 0;  // below length
    std::array<OrderEntry, kOrderEntries> entries{};
};

struct Operator {
    int MULT = 0;   // 0-15
    int DT = 0;     // -3..3
    int TL = 127;   // 0-127
    int RS = 0;     // 0-3
    int AR = 0;     // 0-31
    int DR = 0;     // 0-31
    int SR = 0;     // 0-31
    int RR = 0;     // 0-15
    int SL = 0;     // 0-15
    int SSGEG = 0;  // 0 or 8-15
    bool operator==(const Operator&) const = default;
};

struct Instrument {
    std::array<Operator, 4> operators{};
    int algorithm = 0;  // 0-7
    int FB = 0;         // 0-7
    // Up to 16 characters, zero-padded; one extra byte keeps a terminator
    // after a name of exactly 16 characters.
    std::array<char, kInstrumentNameSize + 1> name{'e', 'm', 'p', 't', 'y'};

    std::string nameText() const;
    // Keeps the first 16 characters of the text.
    void setName(const std::string& text);
    // The default instrument: every field 0, TL 127 in every operator, "empty".
    bool isDefault() const { return *this == Instrument{}; }
    bool operator==(const Instrument&) const = default;
};

// 16-bit packed date: day in bits 11-15, month - 1 in bits 7-10, year % 100 in 0-6.
uint16_t packDate(int day, int month, int year);
uint16_t todayPacked();
// "--.--.--" for 0, otherwise "dd.mm.yy".
std::string packedDateText(uint16_t date);

struct Song {
    std::array<Pattern, kPatterns> patterns{};
    OrderList order{};
    std::array<Instrument, kInstruments> instruments{};  // index 0 is instrument 1
    int speedEven = 3;
    int speedOdd = 3;
    int interleave = 1;
    std::array<char, kTrackNameSize> trackName{};
    std::array<char, kAuthorSize> author{};
    std::array<char, kMessageSize> message{};
    uint16_t created = 0;
    uint16_t saved = 0;
    uint16_t saveCount = 0;

    // Resets every field to a new song's defaults (created = today). The
    // caller resets the Player's per-channel state separately.
    void clear();
    void clearPattern(int n) { patterns[n].clear(); }
    // i is the instrument number 1-255.
    Instrument& instrument(int i) { return instruments[i - 1]; }
    const Instrument& instrument(int i) const { return instruments[i - 1]; }
    void resetInstrument(int i) { instrument(i) = Instrument{}; }
    bool instrumentIsFree(int i) const { return instrument(i).isDefault(); }
    // Lowest instrument number (1-255) holding the default instrument.
    std::optional<int> firstFreeInstrument() const;

    std::string trackNameText() const;
    std::string authorText() const;
    std::string messageText() const;
    void setTrackName(const std::string& text);
    void setAuthor(const std::string& text);
    void setMessage(const std::string& text);
};

// Copies text into a zero-terminated fixed field, cut to size - 1 characters.
template <size_t N>
void setTextField(std::array<char, N>& field, const std::string& text) {
    field.fill(0);
    for (size_t i = 0; i < text.size() && i + 1 < N; ++i) field[i] = text[i];
}
template <size_t N>
std::string textField(const std::array<char, N>& field) {
    size_t n = 0;
    while (n < N && field[n] != 0) ++n;
    return std::string(field.data(), n);
}

}  // namespace qv
