#include "song/module_file.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>

#include "song/file_write.h"
#include "song/pack_stream.h"

namespace qv {

namespace {

constexpr uint8_t kEmptyNameByte = 0xFF;

bool nameIsEmptyWord(const Instrument& ins) { return ins.nameText() == "empty"; }

// Sequence layout, one function per direction so the field order lives in
// exactly two places that mirror each other.
template <typename Put>
void writeSequence(const Song& s, Put&& put) {
    put(static_cast<uint8_t>((s.speedEven & 15) << 4 | (s.speedOdd & 15)));
    put(static_cast<uint8_t>(s.interleave));
    put(static_cast<uint8_t>(s.order.length));  // 256 becomes 0
    put(static_cast<uint8_t>(s.order.loopPosition));
    auto put16 = [&](uint16_t v) {
        put(static_cast<uint8_t>(v & 0xFF));
        put(static_cast<uint8_t>(v >> 8));
    };
    put16(s.created);
    put16(s.saved);
    put16(s.saveCount);
    auto putText = [&](const auto& field) {
        size_t n = 0;
        while (n < field.size() && field[n] != 0) put(static_cast<uint8_t>(field[n++]));
        for (; n < field.size(); ++n) put(0);
    };
    putText(s.author);
    putText(s.trackName);
    putText(s.message);
    for (const auto& e : s.order.entries) put(e.pattern);
    for (const auto& ins : s.instruments) {
        if (nameIsEmptyWord(ins)) {
            for (int i = 0; i < kInstrumentNameSize; ++i) put(kEmptyNameByte);
        } else {
            int n = 0;
            while (n < kInstrumentNameSize && ins.name[n] != 0) put(static_cast<uint8_t>(ins.name[n++]));
            for (; n < kInstrumentNameSize; ++n) put(0);
        }
    }
    for (const auto& ins : s.instruments) {
        put(static_cast<uint8_t>(ins.algorithm));
        put(static_cast<uint8_t>(ins.FB));
        for (const auto& op : ins.operators) {
            put(static_cast<uint8_t>(op.MULT));
            put(static_cast<uint8_t>(op.DT));  // two's complement
            put(static_cast<uint8_t>(op.TL ^ 0x7F));
            put(static_cast<uint8_t>(op.RS));
            put(static_cast<uint8_t>(op.AR));
            put(static_cast<uint8_t>(op.DR));
            put(static_cast<uint8_t>(op.SR));
            put(static_cast<uint8_t>(op.RR));
            put(static_cast<uint8_t>(op.SL));
            put(static_cast<uint8_t>(op.SSGEG));
        }
    }
    for (const auto& p : s.patterns) put(static_cast<uint8_t>(p.length));  // 256 becomes 0
    for (const auto& p : s.patterns) {
        for (int ch = 0; ch < kChannels; ++ch) {
            for (const auto& row : p.rows) {
                const Cell& c = row[ch];
                int v = c.hasNote() ? c.note + 12 * c.octave : c.note;
                put(static_cast<uint8_t>(v ^ 0xFF));
            }
            for (const auto& row : p.rows) put(static_cast<uint8_t>(row[ch].volume));
            for (const auto& row : p.rows) put(static_cast<uint8_t>(row[ch].instrument));
            for (const auto& row : p.rows) put(static_cast<uint8_t>(row[ch].effect));
            for (const auto& row : p.rows) put(row[ch].param);
        }
    }
}

// What a stored pitch byte p means: v = p XOR 0xFF is note + 12 * octave when
// below 128 (octaves outside 1-8 are held there), 254 is a key off, and any
// other value is an empty note.
struct PitchByte {
    int16_t note;
    int8_t octave;
};
constexpr std::array<PitchByte, 256> makePitchBytes() {
    std::array<PitchByte, 256> t{};
    for (int p = 0; p < 256; ++p) {
        const int v = p ^ 0xFF;
        if (v < 128)
            t[p] = {static_cast<int16_t>(v % 12), static_cast<int8_t>(std::clamp(v / 12, 1, 8))};
        else
            t[p] = {v == kNoteKeyOff ? kNoteKeyOff : kNoteEmpty, 0};
    }
    return t;
}
constexpr std::array<PitchByte, 256> kPitchBytes = makePitchBytes();

bool datePlausible(uint16_t d) { return (d & 127) <= 99 && ((d >> 7) & 15) <= 11; }

// Reads a complete unpacked sequence whose dates were already checked. It
// cannot fail, so the caller validates everything first and only then lets it
// overwrite the song. Every field is set, the order entries' cached timing
// included, as loading into a cleared song would leave it. Values a
// well-formed file never holds are brought into the Song's ranges, so nothing
// downstream sees a speed of 0 or a pitch outside 0-95.
void readSequence(const uint8_t* q, Song& s) {
    size_t at = 0;
    auto get = [&]() { return q[at++]; };
    auto get16 = [&]() {
        uint16_t lo = get();
        return static_cast<uint16_t>(lo | get() << 8);
    };
    uint8_t speeds = get();
    s.speedEven = std::max(1, speeds >> 4);
    s.speedOdd = std::max(1, speeds & 15);
    s.interleave = std::max<int>(1, get());
    int len = get();
    s.order.length = static_cast<int16_t>(len == 0 ? 256 : len);
    int loop = get();
    s.order.loopPosition = static_cast<int16_t>(std::min(loop, s.order.length - 1));
    s.created = get16();
    s.saved = get16();
    s.saveCount = get16();

    auto getText = [&](auto& field) {
        for (auto& ch : field) ch = static_cast<char>(get());
        field.back() = 0;  // a field without a terminator is cut
    };
    getText(s.author);
    getText(s.trackName);
    getText(s.message);
    for (auto& e : s.order.entries) e = OrderEntry{get()};
    for (auto& ins : s.instruments) {
        ins.name.fill(0);
        if (q[at] == kEmptyNameByte) {
            ins.setName("empty");
            at += kInstrumentNameSize;
        } else {
            bool ended = false;
            for (int i = 0; i < kInstrumentNameSize; ++i) {
                char c = static_cast<char>(get());
                if (c == 0) ended = true;
                if (!ended) ins.name[i] = c;
            }
        }
    }
    for (auto& ins : s.instruments) {
        ins.algorithm = get() & 7;
        ins.FB = get() & 7;
        for (auto& op : ins.operators) {
            op.MULT = get() & 15;
            op.DT = std::clamp<int>(static_cast<int8_t>(get()), -3, 3);
            op.TL = (get() ^ 0x7F) & 127;
            op.RS = get() & 3;
            op.AR = get() & 31;
            op.DR = get() & 31;
            op.SR = get() & 31;
            op.RR = get() & 15;
            op.SL = get() & 15;
            int ssg = get() & 15;
            op.SSGEG = ssg < 8 ? 0 : ssg;
        }
    }
    for (auto& p : s.patterns) {
        int l = get();
        p.length = l == 0 ? 256 : l;
    }
    // Pattern data: five columns of 256 rows per channel.
    const uint8_t* col = q + at;
    for (auto& p : s.patterns) {
        for (int ch = 0; ch < kChannels; ++ch, col += 5 * kRows) {
            for (int r = 0; r < kRows; ++r) {
                Cell& c = p.rows[r][ch];
                const PitchByte& pitch = kPitchBytes[col[r]];
                c.note = pitch.note;
                c.octave = pitch.octave;
                c.volume = static_cast<int8_t>(col[kRows + r] & 31);
                c.instrument = col[2 * kRows + r];
                c.effect = static_cast<int8_t>(col[3 * kRows + r] & 15);
                c.param = col[4 * kRows + r];
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> moduleSequence(const Song& song) {
    std::vector<uint8_t> out(kModuleSequenceSize);
    uint8_t* o = out.data();
    writeSequence(song, [&](uint8_t b) { *o++ = b; });
    return out;
}

std::vector<uint8_t> packModule(const Song& song) {
    const std::vector<uint8_t> sequence = moduleSequence(song);
    return packBytes(sequence.data(), sequence.size());
}

int decodeModule(const uint8_t* data, size_t size, Song& song) {
    if (size > kModuleMaxFileSize) return kModuleWrongFormat;
    try {
        std::vector<uint8_t> sequence;
        size_t consumed = 0;
        if (!unpackBytes(data, size, kModuleSequenceSize, sequence, &consumed)) return kModuleWrongFormat;
        // One byte of slack after the packed data is tolerated.
        if (size - consumed > 1) return kModuleWrongFormat;
        const uint16_t created = static_cast<uint16_t>(sequence[4] | sequence[5] << 8);
        const uint16_t saved = static_cast<uint16_t>(sequence[6] | sequence[7] << 8);
        if (!datePlausible(created) || !datePlausible(saved)) return kModuleWrongFormat;
        // Nothing can fail from here on, so the song is only now overwritten.
        readSequence(sequence.data(), song);
        return kModuleLoaded;
    } catch (const std::bad_alloc&) {
        return kModuleOutOfMemory;
    }
}

bool saveModule(Song& song, const std::filesystem::path& path) {
    const uint16_t oldCount = song.saveCount;
    const uint16_t oldSaved = song.saved;
    if (song.saveCount != 65535) ++song.saveCount;
    song.saved = todayPacked();
    bool ok = false;
    try {
        ok = writeFileReplacing(path, packModule(song));
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        song.saveCount = oldCount;
        song.saved = oldSaved;
    }
    return ok;
}

int loadModule(Song& song, const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    switch (readWholeFile(path, kModuleMaxFileSize, bytes)) {
        case ReadResult::ok: break;
        case ReadResult::notFound: return kModuleNotFound;
        case ReadResult::tooLarge: return kModuleWrongFormat;
        case ReadResult::outOfMemory: return kModuleOutOfMemory;
        case ReadResult::isFolder: return kModuleIsFolder;
        case ReadResult::noAccess: return kModuleNoAccess;
    }
    return decodeModule(bytes, song);
}

const char* moduleLoadProblemText(int result) {
    switch (result) {
        case kModuleLoaded: return "";
        case kModuleNotFound: return readProblemText(ReadResult::notFound);
        case kModuleOutOfMemory: return readProblemText(ReadResult::outOfMemory);
        case kModuleIsFolder: return readProblemText(ReadResult::isFolder);
        case kModuleNoAccess: return readProblemText(ReadResult::noAccess);
        default: return "not a module or damaged";
    }
}

std::string fileTitle(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.find_last_of('.');
    size_t end = (dot == std::string::npos || dot < start) ? path.size() : dot;
    return path.substr(start, end - start);
}

}  // namespace qv
