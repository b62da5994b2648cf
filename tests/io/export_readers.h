// Small readers of our own VGM and QZD output, written independently of the
// encoders, that turn a file back into per-frame register writes.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "io/frame_log.h"
#include "sound/chip_pair.h"

namespace qvtest {

struct DecodedFrames {
    std::vector<std::vector<qv::RegisterWrite>> frames;
    int loopFrame = -1;
    bool ok = true;
    std::string error;
    std::string texts[3];
};

// A FrameLog of the given frames' writes.
inline qv::FrameLog makeLog(const std::vector<std::vector<qv::RegisterWrite>>& frames, int loopFrame) {
    qv::FrameLog log;
    for (const auto& f : frames) {
        log.beginFrame();
        for (const auto& w : f) log.add(w.chip, w.reg, w.value);
    }
    log.loopFrame = loopFrame;
    return log;
}

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// QZD: frame starts 0xFF and 0xFE n, chip switch 0xFD, loop 0xFA, end 0xFB.
inline DecodedFrames decodeQzd(const std::vector<uint8_t>& b) {
    DecodedFrames d;
    auto bad = [&d](const char* why) {
        d.ok = false;
        d.error = why;
        return d;
    };
    if (b.size() < 8 || std::string(b.begin(), b.begin() + 4) != "QZMD") return bad("magic");
    size_t p = 4;
    for (auto& text : d.texts) {
        while (p < b.size() && b[p] != 0) text.push_back(static_cast<char>(b[p++]));
        if (p >= b.size()) return bad("texts");
        ++p;
    }
    int chip = 0;
    bool ended = false;
    while (p < b.size()) {
        uint8_t c = b[p++];
        if (c == 0xFF) {
            d.frames.emplace_back();
            chip = 0;
        } else if (c == 0xFE) {
            if (p >= b.size()) return bad("run count");
            int n = b[p++] + 3;
            for (int i = 0; i < n; ++i) d.frames.emplace_back();
            chip = 0;
        } else if (c == 0xFD) {
            if (d.frames.empty()) return bad("chip switch before a frame");
            chip = 1;
        } else if (c == 0xFA) {
            if (d.loopFrame >= 0) return bad("two loop marks");
            d.loopFrame = d.frames.empty() ? 0 : static_cast<int>(d.frames.size()) - 1;
        } else if (c == 0xFB) {
            ended = true;
            break;
        } else {
            if (d.frames.empty()) return bad("write before a frame");
            if (p >= b.size()) return bad("pair cut");
            d.frames.back().push_back(qv::RegisterWrite{static_cast<uint8_t>(chip), c, b[p++]});
        }
    }
    if (!ended) return bad("no end code");
    if (p != b.size()) return bad("bytes after the end");
    return d;
}

struct DecodedVgm : DecodedFrames {
    uint32_t totalSamples = 0, loopSamples = 0, loopOffset = 0, gd3Offset = 0;
    std::vector<std::u16string> tags;
    int longWaits = 0;  // 0x61 commands seen
    std::vector<qv::RegisterWrite> prelude;  // writes before the first wait
};

inline DecodedVgm decodeVgm(const std::vector<uint8_t>& b) {
    DecodedVgm d;
    auto bad = [&d](const char* why) {
        d.ok = false;
        d.error = why;
        return d;
    };
    if (b.size() < 0x44 || std::string(b.begin(), b.begin() + 4) != "Vgm ") return bad("magic");
    if (le32(b, 4) != b.size() - 4) return bad("eof offset");
    if (le32(b, 8) != 0x101) return bad("version");
    if (le32(b, 0x10) != 7670442) return bad("clock");
    d.gd3Offset = le32(b, 0x14) + 0x14;
    d.totalSamples = le32(b, 0x18);
    d.loopOffset = le32(b, 0x1C) ? le32(b, 0x1C) + 0x1C : 0;
    d.loopSamples = le32(b, 0x20);
    uint64_t samples = 0;
    size_t p = 0x40;
    bool ended = false;
    while (p < b.size()) {
        // The loop offset points at the wait that opens the loop frame.
        if (d.loopOffset && p == d.loopOffset) d.loopFrame = static_cast<int>(d.frames.size());
        uint8_t c = b[p++];
        if (c == 0x63) {
            samples += 882;
            d.frames.emplace_back();
        } else if (c == 0x61) {
            if (p + 2 > b.size()) return bad("wait cut");
            int n = b[p] | b[p + 1] << 8;
            p += 2;
            samples += static_cast<uint64_t>(n);
            ++d.longWaits;
            if (samples % 882 == 0)
                while (d.frames.size() < samples / 882) d.frames.emplace_back();
        } else if (c == 0x52 || c == 0x53) {
            if (p + 2 > b.size()) return bad("write cut");
            if (samples % 882 != 0) return bad("write inside a frame");
            uint8_t reg = b[p], value = b[p + 1];
            p += 2;
            uint8_t chip = c == 0x53 ? 1 : 0;
            if (c == 0x52 && reg == 0x28 && (value & 4)) chip = 1, value ^= 4;
            (d.frames.empty() ? d.prelude : d.frames.back()).push_back(qv::RegisterWrite{chip, reg, value});
        } else if (c == 0x66) {
            ended = true;
            break;
        } else {
            return bad("unknown command");
        }
    }
    if (!ended) return bad("no end command");
    if (samples != d.totalSamples) return bad("total samples differ from the waits");
    if (d.loopOffset && d.loopFrame < 0) return bad("loop offset not on a command");
    if (p != d.gd3Offset) return bad("tag not right after the end");
    if (std::string(b.begin() + p, b.begin() + p + 4) != "Gd3 " || le32(b, p + 4) != 0x100)
        return bad("tag header");
    uint32_t len = le32(b, p + 8);
    p += 12;
    if (p + len != b.size()) return bad("tag length");
    std::u16string s;
    for (; p + 1 < b.size(); p += 2) {
        char16_t ch = static_cast<char16_t>(b[p] | b[p + 1] << 8);
        if (ch == 0) {
            d.tags.push_back(s);
            s.clear();
        } else {
            s.push_back(ch);
        }
    }
    if (d.tags.size() != 11) return bad("tag strings");
    return d;
}

}  // namespace qvtest

namespace qvtest {

// A VGM 1.51 file for two YM2203, read the way a VGM player reads it: the
// header's data offset, the clock with its dual-chip bit, then commands
// 0x55/0xA5 (register writes of chip 0/1), 0x61/0x62/0x63/0x70-0x7F
// (waits) and 0x66 (end). Each wait is rendered through the project's chips
// (a ChipPair at 44 100 Hz), the writes before it handed over in order.
struct Vgm2203Replay {
    bool ok = true;
    std::string error;
    uint32_t version = 0, clock = 0, totalSamples = 0, loopOffset = 0, loopSamples = 0;
    size_t dataOffset = 0, endOffset = 0;
    std::vector<int16_t> samples;
    std::vector<uint8_t> commands;  // every command byte seen, in order
    uint64_t samplesAtLoop = 0;     // samples rendered when the loop offset was passed
};

inline Vgm2203Replay replayVgm2203(const std::vector<uint8_t>& b, int volume) {
    Vgm2203Replay r;
    auto bad = [&r](const char* why) {
        r.ok = false;
        r.error = why;
        return r;
    };
    if (b.size() < 0x80 || std::string(b.begin(), b.begin() + 4) != "Vgm ") return bad("magic");
    if (le32(b, 4) != b.size() - 4) return bad("eof offset");
    r.version = le32(b, 8);
    r.clock = le32(b, 0x44);
    r.totalSamples = le32(b, 0x18);
    r.loopOffset = le32(b, 0x1C) ? le32(b, 0x1C) + 0x1C : 0;
    r.loopSamples = le32(b, 0x20);
    r.dataOffset = r.version >= 0x150 && le32(b, 0x34) ? le32(b, 0x34) + 0x34 : 0x40;
    if (r.version < 0x151) return bad("version too old for the YM2203 clock");
    if ((r.clock & 0x3FFFFFFF) != qv::kChipClock) return bad("YM2203 clock");
    const bool dual = (r.clock & 0x40000000) != 0;

    auto chips = std::make_unique<qv::ChipPair>();
    if (!chips->create(qv::kSampleRate, r.clock & 0x3FFFFFFF, volume)) return bad("chips");
    chips->beginExport(true);  // the two chips only
    chips->reset();
    auto wait = [&](uint32_t n) {
        size_t at = r.samples.size();
        r.samples.resize(at + n);
        chips->renderWithQueue(r.samples.data() + at, static_cast<int>(n));
        chips->queue().clear();
    };
    size_t p = r.dataOffset;
    bool ended = false;
    while (p < b.size()) {
        if (r.loopOffset && p == r.loopOffset) r.samplesAtLoop = r.samples.size();
        uint8_t c = b[p++];
        r.commands.push_back(c);
        if (c == 0x55 || c == 0xA5) {
            if (p + 2 > b.size()) return bad("write cut");
            if (c == 0xA5 && !dual) return bad("second chip without the dual-chip bit");
            chips->queue().push(c == 0x55 ? 0 : 1, b[p], b[p + 1]);
            p += 2;
        } else if (c == 0x61) {
            if (p + 2 > b.size()) return bad("wait cut");
            wait(b[p] | b[p + 1] << 8);
            p += 2;
        } else if (c == 0x62) {
            wait(735);
        } else if (c == 0x63) {
            wait(882);
        } else if (c >= 0x70 && c <= 0x7F) {
            wait(c - 0x6F);
        } else if (c == 0x66) {
            ended = true;
            break;
        } else {
            return bad("unknown command");
        }
    }
    chips->destroy();
    r.endOffset = p;
    if (!ended) return bad("no end command");
    if (r.samples.size() != r.totalSamples) return bad("total samples differ from the waits");
    if (r.loopOffset && r.samples.size() - r.samplesAtLoop != r.loopSamples) return bad("loop samples");
    if (le32(b, 0x14) + 0x14 != p) return bad("tag not right after the end");
    return r;
}

}  // namespace qvtest
