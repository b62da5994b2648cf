#include "io/vgm_export.h"

#include <cstdio>

#include "io/export_driver.h"
#include "song/song.h"
#include "sound/ym2203_registers.h"

namespace qv {

namespace {

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Replaces the n single waits that end at p by 0x61 commands; returns the new end.
uint8_t* packWaits(uint8_t* p, int n) {
    p -= n;
    uint32_t samples = static_cast<uint32_t>(n) * kSamplesPerFrame;
    while (samples > 0) {
        uint32_t take = samples > vgm::kMaxWait ? vgm::kMaxWait : samples;
        *p++ = vgm::kWait;
        *p++ = static_cast<uint8_t>(take & 0xFF);
        *p++ = static_cast<uint8_t>(take >> 8);
        samples -= take;
    }
    return p;
}

void putWideText(std::vector<uint8_t>& out, const std::string& text) {
    for (char c : text) {
        if (c == 0) break;
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
}

}  // namespace

std::string vgmReleaseDate(uint16_t packed) {
    int day = packed >> 11;
    int month = ((packed >> 7) & 15) + 1;
    int year = (packed & 0x7F) + 2000;
    char text[32];
    std::snprintf(text, sizeof text, "%4.4i/%2.2i/%2.2i", year, month, day);
    return text;
}

std::vector<uint8_t> encodeVgm(const ExportTexts& texts, const FrameLog& log) {
    // Every frame a wait, every write three bytes; packed runs only shrink.
    // The room past the commands holds the tag without another allocation.
    const size_t tag = 64 + 2 * (texts.trackName.size() + texts.author.size() + texts.message.size() + 128);
    std::vector<uint8_t> out(vgm::kDataStart + log.frameCount() + 3 * log.writes.size() + 1 + tag, 0);
    uint8_t* p = out.data() + vgm::kDataStart;
    // Looping to the start goes back to the first wait.
    size_t loopOffset = vgm::kDataStart;
    uint32_t loopFrames = static_cast<uint32_t>(log.frameCount());

    int run = 0;  // single waits written since the last frame with writes or the loop point
    for (size_t i = 0; i < log.frameCount(); ++i) {
        std::span<const RegisterWrite> frame = log.frame(i);
        *p++ = vgm::kWaitFrame;
        ++run;
        if (!frame.empty()) {
            if (run >= 4) p = packWaits(p, run);
            run = 0;
        }
        if (static_cast<int>(i) == log.loopFrame && i > 0) {
            loopOffset = static_cast<size_t>(p - out.data());
            loopFrames = static_cast<uint32_t>(log.frameCount() - i);
            run = 0;
        }
        for (const RegisterWrite& w : frame) {
            if (w.chip == 0) {
                *p++ = vgm::kPort0, *p++ = w.reg, *p++ = w.value;
            } else if (w.reg == ym2203::kKeyOnOff) {
                *p++ = vgm::kPort0, *p++ = w.reg, *p++ = static_cast<uint8_t>(w.value ^ 4);
            } else {
                *p++ = vgm::kPort1, *p++ = w.reg, *p++ = w.value;
            }
        }
    }
    out.resize(static_cast<size_t>(p - out.data()));
    out.push_back(vgm::kEnd);

    size_t gd3 = out.size();
    for (char c : {'G', 'd', '3', ' '}) out.push_back(static_cast<uint8_t>(c));
    append32(out, 0x100);
    append32(out, 0);  // string length, filled in below
    size_t strings = out.size();
    putWideText(out, texts.trackName);
    putWideText(out, "");
    putWideText(out, "");
    putWideText(out, "");
    putWideText(out, vgm::kSystemName);
    putWideText(out, "");
    putWideText(out, texts.author);
    putWideText(out, "");
    putWideText(out, vgmReleaseDate(texts.saved));
    putWideText(out, vgm::kConverter);
    putWideText(out, texts.message);
    put32(out, strings - 4, static_cast<uint32_t>(out.size() - strings));

    out[0] = 'V', out[1] = 'g', out[2] = 'm', out[3] = ' ';
    put32(out, 0x04, static_cast<uint32_t>(out.size() - 4));
    put32(out, 0x08, vgm::kVersion);
    put32(out, 0x10, vgm::kClock);
    put32(out, 0x14, static_cast<uint32_t>(gd3 - 0x14));
    put32(out, 0x18, static_cast<uint32_t>(log.frameCount() * kSamplesPerFrame));
    if (log.loopFrame >= 0 && static_cast<size_t>(log.loopFrame) < log.frameCount()) {
        put32(out, 0x1C, static_cast<uint32_t>(loopOffset - 0x1C));
        put32(out, 0x20, loopFrames * kSamplesPerFrame);
    }
    return out;
}

bool exportVgm(Player& player, ChipPair& chips, Song& song, const std::string& path) {
    FrameLog log;
    recordSong(player, chips, song, log, kMegaDriveClock);
    return writeWholeFile(path, encodeVgm(exportTexts(song), log));
}

}  // namespace qv
