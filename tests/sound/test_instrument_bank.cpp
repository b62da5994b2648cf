// The shipped instrument bank, instruments/*.qzi: every file loads, and
// played on the chip emulation (an audition voice on the third chip) it
// sounds loud enough without clipping, at the pitch of its note; the drums
// fade while held, the kick lower and the hats higher than the other sounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "song/instrument_file.h"
#include "sound/audition.h"

namespace qv {
namespace {

constexpr int kPitchedNote = 45;  // A of octave 4
constexpr int kRate = static_cast<int>(kSampleRate);

struct Rendered {
    std::vector<double> held;      // 0.6 s with the key down
    std::vector<double> released;  // 0.8 s after the key-off
};

Rendered render(const Instrument& ins, int note) {
    ChipPair chips;
    EXPECT_TRUE(chips.create(kSampleRate, kChipClock, 128));
    NoteTables tables;
    Audition audition(chips, tables);
    audition.auditionStart(0, note, false, ins);
    auto take = [&](int count) {
        std::vector<int16_t> buf(count);
        chips.renderMixOnly(buf.data(), count);
        return std::vector<double>(buf.begin(), buf.end());
    };
    Rendered r;
    r.held = take(kRate * 6 / 10);
    audition.auditionRelease(0);
    r.released = take(kRate * 8 / 10);
    return r;
}

double rms(const std::vector<double>& s, size_t from, size_t count) {
    double sum = 0;
    count = std::min(count, s.size() - from);
    for (size_t i = from; i < from + count; ++i) sum += s[i] * s[i];
    return std::sqrt(sum / std::max<size_t>(count, 1));
}

// Normalised autocorrelation of s[from, from + n) at lag.
double correlation(const std::vector<double>& s, size_t from, size_t n, double lag) {
    const auto whole = static_cast<size_t>(lag);
    const double frac = lag - whole;
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = from; i < from + n; ++i) {
        const double y = s[i + whole] * (1 - frac) + s[i + whole + 1] * frac;
        xy += s[i] * y;
        xx += s[i] * s[i];
        yy += y * y;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Zero crossings per second over the first 0.1 s.
double crossingRate(const std::vector<double>& s) {
    int crossings = 0;
    for (int i = 1; i < kRate / 10; ++i) crossings += (s[i - 1] < 0) != (s[i] < 0);
    return crossings * 10.0;
}

// Where any sounding operator runs at MULT 0 (half the note's frequency),
// the sound repeats only every second period.
int periodsPerRepeat(const Instrument& ins) {
    for (const Operator& op : ins.operators)
        if (op.MULT == 0 && op.TL < 100) return 2;
    return 1;
}

std::map<std::string, Instrument> loadBank() {
    std::map<std::string, Instrument> bank;
    const std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "instruments";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".qzi") continue;
        Song song;
        song.clear();
        EXPECT_TRUE(loadInstrument(song, 1, entry.path())) << entry.path();
        bank[entry.path().stem().string()] = song.instrument(1);
    }
    return bank;
}

TEST(InstrumentBank, HasEveryKindOfSound) {
    const auto bank = loadBank();
    EXPECT_GE(bank.size(), 32u);
    for (const char* kind : {"bass-", "piano-", "epiano-", "organ-", "brass-", "strings-", "lead-", "pad-",
                             "bell-", "pluck-", "drum-kick", "drum-snare", "drum-hat", "drum-tom"}) {
        const bool found = std::any_of(bank.begin(), bank.end(),
                                       [&](const auto& e) { return e.first.rfind(kind, 0) == 0; });
        EXPECT_TRUE(found) << kind;
    }
    for (const auto& [name, ins] : bank) EXPECT_LE(name.size(), 16u) << name << " would be cut when opened";
}

TEST(InstrumentBank, EverySoundHasLevelAndPitch) {
    const double note = 440.0 * std::pow(2.0, (kPitchedNote - 57) / 12.0);
    for (const auto& [name, ins] : loadBank()) {
        SCOPED_TRACE(name);
        const bool drum = name.rfind("drum-", 0) == 0;
        const Rendered r = render(ins, drum && name.find("kick") != std::string::npos ? 24 : kPitchedNote);
        double peak = 0;
        for (double v : r.held) peak = std::max(peak, std::abs(v));
        const size_t tenth = kRate / 10;
        // The loudest tenth of a second while held.
        double loudest = 0;
        for (size_t at = 0; at + tenth <= r.held.size(); at += tenth / 2)
            loudest = std::max(loudest, rms(r.held, at, tenth));
        EXPECT_GT(loudest, 1500.0) << "too quiet";
        EXPECT_LT(peak, 32000.0) << "clips";
        // Every sound ends some time after its key-off.
        EXPECT_LT(rms(r.released, r.released.size() - tenth, tenth), loudest / 4) << "rings on";
        if (drum) {
            std::printf("%-18s level %5.0f peak %5.0f\n", name.c_str(), loudest, peak);
            EXPECT_LT(rms(r.held, r.held.size() - tenth, tenth), loudest / 3) << "a drum must fade";
            continue;
        }
        // The pitch: the sound repeats after one period of the note (two
        // where an operator runs at half frequency); the best lag within a
        // quarter tone of it lies within a tenth of a semitone.
        const double period = kRate / note * periodsPerRepeat(ins);
        const size_t from = kRate / 10, n = kRate / 10;
        double bestLag = 0, best = -1;
        for (double lag = period * 0.97; lag <= period * 1.03; lag += 0.05) {
            const double c = correlation(r.held, from, n, lag);
            if (c > best) {
                best = c;
                bestLag = lag;
            }
        }
        EXPECT_GT(best, 0.8) << "not periodic at its note";
        EXPECT_NEAR(12 * std::log2(bestLag / period), 0.0, 0.1) << "off pitch";
        std::printf("%-18s level %5.0f peak %5.0f periodic %.2f pitch %+.3f semitones\n", name.c_str(), loudest,
                    peak, best, 12 * std::log2(bestLag / period));
    }
}

TEST(InstrumentBank, KickIsLowAndHatsAreHigh) {
    const auto bank = loadBank();
    const double kick = crossingRate(render(bank.at("drum-kick"), 24).held);
    const double hat = crossingRate(render(bank.at("drum-hat-closed"), kPitchedNote).held);
    const double snare = crossingRate(render(bank.at("drum-snare"), kPitchedNote).held);
    EXPECT_LT(kick, 400.0);
    EXPECT_GT(hat, 4000.0);
    EXPECT_GT(snare, kick * 4);
}

}  // namespace
}  // namespace qv
