#include "io/mod_import.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "song/song.h"
#include "song/effects.h"

namespace qv {

namespace mod {
const std::array<uint16_t, 85> kPeriods = {
    3424, 3232, 3048, 2880, 2712, 2560, 2416, 2280, 2152, 2032, 1920, 1812,
    1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960,  906,
    856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480,  453,
    428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  226,
    214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120,  113,
    107,  101,  95,   90,   85,   80,   75,   71,   67,   63,   60,   56,
    53,   50,   47,   45,   42,   40,   37,   35,   33,   31,   30,   28,
    0};
}  // namespace mod

namespace {

constexpr size_t kMinSize = 600;
constexpr size_t kSignature = 1080;
constexpr int kModRows = 64;
constexpr int kOrderTableSize = 128;

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

struct ModCell {
    int period;
    int sample;
    int effect;
    int param;
};

ModCell readCell(const uint8_t* p) {
    return ModCell{(p[0] & 0x0F) << 8 | p[1], (p[0] & 0xF0) | (p[2] >> 4), p[2] & 0x0F, p[3]};
}

bool isArpeggio(const Cell& c) { return c.effect == 0 && c.param != 0; }

}  // namespace

int modPeriodIndex(int period) {
    if (period <= 0) return -1;
    for (int i = 0; i < 84; ++i)
        if (mod::kPeriods[i] >= period && period > mod::kPeriods[i + 1]) return i;
    return -1;
}

bool detectModFormat(const uint8_t* data, size_t size, ModFormat& format) {
    if (size < kMinSize) return false;
    // A file too short to hold a signature can only be an old 15-sample one.
    if (size < kSignature + 4 || data[kSignature] <= 31) {
        format = ModFormat{15, 4, 600};
        return true;
    }
    const uint8_t* s = data + kSignature;
    int channels = 0;
    if (isDigit(s[0]) && s[1] == 'C' && s[2] == 'H' && s[3] == 'N') {
        channels = s[0] - '0';
    } else if ((s[0] == 'M' && s[1] == '.' && s[2] == 'K' && s[3] == '.') ||
               (s[0] == 'M' && s[1] == '!' && s[2] == 'K' && s[3] == '!')) {
        channels = 4;
    } else if (s[0] == 'F' && s[1] == 'L' && s[2] == 'T' && isDigit(s[3])) {
        channels = s[3] - '0';
    } else if (isDigit(s[0]) && isDigit(s[1]) && s[2] == 'C' && s[3] == 'H') {
        channels = (s[0] - '0') * 10 + (s[1] - '0');
    } else if (s[0] == 'O' && s[1] == 'K' && s[2] == 'T' && s[3] == 'A') {
        channels = 8;
    }
    if (channels <= 0) return false;
    format = ModFormat{31, channels, 1084};
    return true;
}

bool importModData(const uint8_t* data, size_t size, const std::string& fileName, Song& song) {
    ModFormat fmt;
    if (!detectModFormat(data, size, fmt)) return false;

    const size_t lengthAt = 20 + 30 * static_cast<size_t>(fmt.samples);
    int songLength = std::min<int>(data[lengthAt], kOrderTableSize);
    if (songLength == 0) return false;
    int restart = data[lengthAt + 1];
    const uint8_t* orderTable = data + lengthAt + 2;

    int patternCount = 0;
    for (int i = 0; i < songLength; ++i) patternCount = std::max(patternCount, orderTable[i] + 1);
    const size_t patternBytes = static_cast<size_t>(kModRows) * 4 * static_cast<size_t>(fmt.channels);
    if (fmt.patternData + patternBytes * static_cast<size_t>(patternCount) > size) return false;

    auto scratch = std::make_unique<Song>();
    Song& out = *scratch;
    out.clear();

    out.setTrackName(std::string(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), 20)));
    out.setMessage("Imported from file '" + fileName + "'");

    std::array<int, 32> sampleVolume{};
    for (int k = 1; k <= fmt.samples; ++k) {
        const uint8_t* h = data + 20 + 30 * (k - 1);
        int words = h[22] << 8 | h[23];
        sampleVolume[k] = h[25];
        if (words > 1) {
            const char* name = reinterpret_cast<const char*>(h);
            out.instrument(k).setName(std::string(name, strnlen(name, kInstrumentNameSize)));
        }
    }

    out.order.length = static_cast<int16_t>(songLength);
    out.order.loopPosition = static_cast<int16_t>(restart < songLength ? restart : 0);
    for (int i = 0; i < songLength; ++i) out.order.entries[i].pattern = orderTable[i];

    const int used = std::min(fmt.channels, kChannels);
    for (int p = 0; p < patternCount; ++p) {
        const uint8_t* src = data + fmt.patternData + patternBytes * static_cast<size_t>(p);
        Pattern& pattern = out.patterns[p];
        pattern.length = kModRows;
        for (int r = 0; r < kModRows; ++r) {
            const uint8_t* rowData = src + static_cast<size_t>(r) * 4 * static_cast<size_t>(fmt.channels);
            bool ends = false;
            // A break or jump in any channel ends the pattern, even in the
            // channels that are not kept.
            for (int c = 0; c < fmt.channels; ++c) {
                ModCell m = readCell(rowData + 4 * c);
                if (m.effect == 11 || m.effect == 13) ends = true;
                if (c >= used) continue;

                Cell cell;
                cell.instrument = static_cast<int16_t>(m.sample);
                int index = modPeriodIndex(m.period);
                if (index >= 0) cell.setPitch(index);
                if (m.effect != 12 && m.sample != 0 && m.sample <= fmt.samples)
                    cell.volume = static_cast<int8_t>(std::min(sampleVolume[m.sample] / 2, 31));
                switch (m.effect) {
                    case 0: case 1: case 2: case 3: case 4: case 10:
                        cell.effect = static_cast<int8_t>(m.effect);
                        cell.param = static_cast<uint8_t>(m.param);
                        break;
                    case 8:
                        cell.effect = kEffectExtended;
                        if (m.param == 164 || (m.param >= 48 && m.param <= 79)) cell.param = 0x80;
                        else if (m.param < 48) cell.param = 0x81;
                        else cell.param = 0x82;
                        break;
                    case 12:
                        cell.volume = static_cast<int8_t>(std::min(m.param / 2, 31));
                        break;
                    case 14: {
                        int hi = m.param >> 4, lo = m.param & 15;
                        if (hi == 6 || hi == 9 || hi == 12 || hi == 13) {
                            cell.effect = kEffectExtended;
                            cell.param = static_cast<uint8_t>(m.param);
                        } else if (hi == 8) {
                            cell.effect = kEffectExtended;
                            cell.param = lo <= 5 ? 0x81 : lo <= 9 ? 0x80 : 0x82;
                        }
                        break;
                    }
                    case 15:
                        if (m.param < 32) {
                            cell.effect = kEffectSpeed;
                            cell.param = static_cast<uint8_t>(std::min(m.param, 15) * 17);
                        }
                        break;
                    default:
                        break;  // 5, 6, 7, 9, 11, 13: no counterpart
                }
                if (r > 0) {
                    Cell& above = pattern.rows[r - 1][c];
                    if (!isArpeggio(cell) && isArpeggio(above)) {
                        if (cell.hasEffect()) {
                            above.param = 0xFF;
                        } else {
                            cell.effect = 0;
                            cell.param = 0xFF;
                        }
                    }
                }
                pattern.rows[r][c] = cell;
            }
            if (ends) {
                pattern.length = r + 1;
                break;
            }
        }
    }

    // Song end: the first jump back (or onto itself) found while walking the
    // order list closes the order list and sets the loop.
    for (int pos = 0; pos < songLength; ++pos) {
        const uint8_t* src = data + fmt.patternData + patternBytes * orderTable[pos];
        bool done = false, closed = false;
        for (int r = 0; r < kModRows && !done; ++r) {
            for (int c = 0; c < fmt.channels; ++c) {
                ModCell m = readCell(src + (static_cast<size_t>(r) * fmt.channels + c) * 4);
                if (m.effect == 11 && m.param <= pos) {
                    out.order.length = static_cast<int16_t>(pos + 1);
                    out.order.loopPosition = static_cast<int16_t>(m.param);
                    closed = true;
                    break;
                }
                if (m.effect == 11 || m.effect == 13) done = true;
            }
            if (closed) break;
        }
        if (closed) break;
    }

    song = std::move(out);
    return true;
}

bool importMod(const std::string& path, Song& song) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return importModData(bytes.data(), bytes.size(), name, song);
}

}  // namespace qv
