#include "song/instrument_file.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "song/file_write.h"
#include "song/module_file.h"
#include "song/text_codec.h"

namespace qv {

std::optional<InstrumentKind> instrumentKindOf(const std::string& path) {
    if (path.size() < 3) return std::nullopt;
    std::string end = path.substr(path.size() - 3);
    for (char& c : end)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (end == "qzi") return InstrumentKind::qzi;
    if (end == "dat") return InstrumentKind::dat;
    if (end == "y12") return InstrumentKind::y12;
    if (end == "ins") return InstrumentKind::ins;
    return std::nullopt;
}

int detuneFromChip(int code) {
    static constexpr std::array<int, 8> table{0, 1, 2, 3, 0, -1, -2, -3};
    return code >= 0 && code <= 7 ? table[code] : 0;
}

namespace {

// Register-style bytes as the chip takes them.
void setDetuneMultiple(Operator& op, uint8_t v) {
    op.MULT = v & 15;
    op.DT = detuneFromChip((v >> 4) & 7);
}
void setRateScalingAttack(Operator& op, uint8_t v) {
    op.AR = v & 31;
    op.RS = v >> 6;
}
void setSustainRelease(Operator& op, uint8_t v) {
    op.RR = v & 15;
    op.SL = v >> 4;
}

Instrument decodeQzi(const uint8_t* d) {
    Instrument ins;
    ins.algorithm = d[0] & 7;
    ins.FB = d[1] & 7;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* b = d + 2 + 10 * k;
        Operator& op = ins.operators[k];
        op.MULT = b[0] & 15;
        op.DT = std::min((b[1] & 7) - 3, 3);
        op.TL = b[2] & 127;
        op.RS = b[3] & 3;
        op.AR = b[4] & 31;
        op.DR = b[5] & 31;
        op.SR = b[6] & 31;
        op.RR = b[7] & 15;
        op.SL = b[8] & 15;
        int ssg = b[9] & 15;
        op.SSGEG = ssg < 8 ? 0 : ssg;
    }
    return ins;
}

Instrument decodeDat(const uint8_t* d) {
    Instrument ins;
    for (int i = 0; i < 26; ++i) {
        uint8_t reg = d[2 * i];
        uint8_t v = d[2 * i + 1];
        if (reg == 0xB0) {
            ins.algorithm = v & 7;
            ins.FB = (v >> 3) & 7;
            continue;
        }
        Operator& op = ins.operators[(reg >> 2) & 3];
        switch (reg & ~0x0C) {
            case 0x30: setDetuneMultiple(op, v); break;
            case 0x40: op.TL = v & 127; break;
            case 0x50: setRateScalingAttack(op, v); break;
            case 0x60: op.DR = v & 31; break;
            case 0x70: op.SR = v & 31; break;
            case 0x80: setSustainRelease(op, v); break;
            default: break;
        }
    }
    return ins;
}

Instrument decodeY12(const uint8_t* d) {
    Instrument ins;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* b = d + 16 * k;
        Operator& op = ins.operators[k];
        op.MULT = b[0] & 15;
        op.DT = detuneFromChip(b[0] >> 4);
        op.TL = b[1] & 127;
        setRateScalingAttack(op, b[2]);
        op.DR = b[3] & 31;
        op.SR = b[4] & 31;
        setSustainRelease(op, b[5]);
    }
    ins.algorithm = d[64] & 7;
    ins.FB = d[65] & 7;
    return ins;
}

std::optional<Instrument> decodeIns(const uint8_t* d, size_t size) {
    if (size < 5 || size > kInsMaxSize || std::memcmp(d, "MVSI1", 5) != 0) return std::nullopt;
    size_t end = 5;
    while (end < size && d[end] != 0) ++end;
    if (end >= size) return std::nullopt;  // the name has no terminator
    size_t start = end + 1;
    if (size - start < 25) return std::nullopt;  // data would lie past the end
    const uint8_t* g = d + start;
    static constexpr std::array<int, 4> byteOf{0, 2, 1, 3};  // operator 1-4 within a group
    Instrument ins;
    for (int k = 0; k < 4; ++k) {
        Operator& op = ins.operators[k];
        int j = byteOf[k];
        setDetuneMultiple(op, g[j]);
        op.TL = g[4 + j] & 127;
        setRateScalingAttack(op, g[8 + j]);
        op.DR = g[12 + j] & 31;
        op.SR = g[16 + j] & 31;
        setSustainRelease(op, g[20 + j]);
    }
    ins.algorithm = g[24] & 7;
    ins.FB = (g[24] >> 3) & 7;
    return ins;
}

}  // namespace

std::optional<Instrument> decodeInstrument(InstrumentKind kind, const uint8_t* data, size_t size) {
    if (data == nullptr && size != 0) return std::nullopt;
    switch (kind) {
        case InstrumentKind::qzi:
            if (size != kQziSize) return std::nullopt;
            return decodeQzi(data);
        case InstrumentKind::dat:
            if (size != kDatSize) return std::nullopt;
            return decodeDat(data);
        case InstrumentKind::y12:
            if (size != kY12Size) return std::nullopt;
            return decodeY12(data);
        case InstrumentKind::ins:
            return decodeIns(data, size);
    }
    return std::nullopt;
}

std::vector<uint8_t> encodeQzi(const Instrument& ins) {
    std::vector<uint8_t> out;
    out.reserve(kQziSize);
    out.push_back(static_cast<uint8_t>(ins.algorithm));
    out.push_back(static_cast<uint8_t>(ins.FB));
    for (const Operator& op : ins.operators) {
        out.push_back(static_cast<uint8_t>(op.MULT));
        out.push_back(static_cast<uint8_t>(op.DT + 3));
        out.push_back(static_cast<uint8_t>(op.TL));
        out.push_back(static_cast<uint8_t>(op.RS));
        out.push_back(static_cast<uint8_t>(op.AR));
        out.push_back(static_cast<uint8_t>(op.DR));
        out.push_back(static_cast<uint8_t>(op.SR));
        out.push_back(static_cast<uint8_t>(op.RR));
        out.push_back(static_cast<uint8_t>(op.SL));
        out.push_back(static_cast<uint8_t>(op.SSGEG));
    }
    return out;
}

bool loadInstrument(Song& song, int slot, const std::filesystem::path& path) {
    if (slot < 1 || slot > kInstruments) return false;
    auto kind = instrumentKindOf(path.string());
    if (!kind) return false;
    // No instrument file is larger than the .ins limit; larger files are not read.
    std::vector<uint8_t> bytes;
    if (readWholeFile(path, kInsMaxSize, bytes) != ReadResult::ok) return false;
    auto ins = decodeInstrument(*kind, bytes);
    if (!ins) return false;
    song.instrument(slot) = *ins;
    return true;
}

bool saveInstrument(const Song& song, int slot, const std::filesystem::path& path) {
    if (slot < 1 || slot > kInstruments) return false;
    return writeFileReplacing(path, encodeQzi(song.instrument(slot)));
}

std::string instrumentNameFromPath(const std::string& path) {
    return latin1FromUtf8(fileTitle(path)).substr(0, kInstrumentNameSize);
}

std::string instrumentFileNameFor(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool refused = byte < 32 || byte == 127 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
        out.push_back(refused ? '_' : c);
    }
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    size_t first = out.find_first_not_of(' ');
    out.erase(0, first == std::string::npos ? out.size() : first);
    if (out.empty()) out = "instrument";
    if (instrumentKindOf(out) != InstrumentKind::qzi || out.size() < 5 || out[out.size() - 4] != '.') out += ".qzi";
    return out;
}

std::vector<InstrumentOpenResult> openInstrumentFiles(Song& song, int currentSlot,
                                                       const std::vector<std::string>& paths) {
    std::vector<InstrumentOpenResult> results;
    results.reserve(paths.size());
    bool stopped = false;
    for (size_t i = 0; i < paths.size(); ++i) {
        InstrumentOpenResult r;
        r.path = paths[i];
        if (stopped) {
            results.push_back(r);
            continue;
        }
        int slot = 0;
        if (i == 0) {
            slot = currentSlot;
        } else {
            for (int s = std::max(currentSlot, 1); s <= kInstruments && slot == 0; ++s)
                if (song.instrumentIsFree(s)) slot = s;
        }
        if (slot < 1 || slot > kInstruments) {
            r.status = InstrumentOpenStatus::noRoom;
            stopped = true;
            results.push_back(r);
            continue;
        }
        r.slot = slot;
        if (loadInstrument(song, slot, paths[i])) {
            song.instrument(slot).setName(instrumentNameFromPath(paths[i]));
            r.status = InstrumentOpenStatus::loaded;
        } else {
            r.status = InstrumentOpenStatus::failed;
        }
        results.push_back(r);
    }
    return results;
}

std::vector<InstrumentOpenResult> takeInstruments(Song& song, int firstSlot, const Song& source) {
    std::vector<InstrumentOpenResult> results;
    int slot = std::max(firstSlot, 1);
    bool full = false;
    for (int n = 1; n <= kInstruments; ++n) {
        const Instrument& ins = source.instrument(n);
        if (source.instrumentIsFree(n)) continue;
        InstrumentOpenResult r;
        r.path = ins.nameText();
        if (!full) {
            while (slot <= kInstruments && !song.instrumentIsFree(slot)) ++slot;
            if (slot > kInstruments) {
                full = true;
                r.status = InstrumentOpenStatus::noRoom;
            } else {
                song.instrument(slot) = ins;
                r.slot = slot;
                r.status = InstrumentOpenStatus::loaded;
            }
        }
        results.push_back(r);
    }
    return results;
}

}  // namespace qv
