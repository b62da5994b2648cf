#include "sound/note_tables.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// F-numbers of C to B and the C above, for the two clocks the program knows.
constexpr std::array<int, 13> kBase3500000 = {707, 749, 793, 840, 890, 943, 999,
                                              1059, 1122, 1189, 1259, 1334, 1413};
constexpr std::array<int, 13> kBase3835221 = {645, 683, 724, 767, 812, 861, 912,
                                              966, 1024, 1085, 1149, 1217, 1290};

}  // namespace

void NoteTables::buildNoteTables(uint32_t clock) {
    clock_ = clock;
    const auto& base = clock == 3835221 ? kBase3835221 : kBase3500000;
    for (int k = 0; k < 12; ++k) {
        // The step is a multiple of 1/32, so adding it up in single precision
        // is exact; truncation then gives the table value.
        const float step = static_cast<float>(base[k + 1] - base[k]) / 32.0f;
        float value = static_cast<float>(base[k]);
        for (int j = 0; j < 32; ++j) {
            noteFrequency_[32 * k + j] = static_cast<uint16_t>(value);
            value += step;
        }
    }
    const float pi = 3.14159265358979f;
    for (int d = 0; d < 16; ++d) {
        for (int i = 0; i < 32; ++i) {
            const float s = std::sin(static_cast<float>(i) * pi / 16.0f);
            vibrato_[d][i] = static_cast<int8_t>(s * static_cast<float>(2 * d));
        }
    }
}

ChipFrequency NoteTables::frequency(int pitch) const {
    const int f = std::clamp(pitch, 0, kMaxEnginePitch);
    return ChipFrequency{(f / 32) / 12, noteFrequency_[f % 384]};
}

}  // namespace qv
