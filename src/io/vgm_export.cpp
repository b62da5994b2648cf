#include "io/vgm_export.h"

#include <algorithm>
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

namespace {

// How one target chip setup takes the frames: header size, the writes that
// open the data, and the command bytes of one register write.
struct Target {
    size_t dataStart;
    std::span<const uint8_t> prelude;
    uint8_t* (*put)(uint8_t* p, const RegisterWrite& w);
};

uint8_t* putYm2612(uint8_t* p, const RegisterWrite& w) {
    if (w.chip == 0) {
        *p++ = vgm::kPort0, *p++ = w.reg, *p++ = w.value;
    } else if (w.reg == ym2203::kKeyOnOff) {
        *p++ = vgm::kPort0, *p++ = w.reg, *p++ = static_cast<uint8_t>(w.value ^ 4);
    } else {
        *p++ = vgm::kPort1, *p++ = w.reg, *p++ = w.value;
    }
    return p;
}

uint8_t* putYm2203Pair(uint8_t* p, const RegisterWrite& w) {
    *p++ = w.chip == 0 ? vgm::kYm2203 : vgm::kYm2203Second, *p++ = w.reg, *p++ = w.value;
    return p;
}

// Left and right output on for the six channels: a YM2612 may start with
// both cleared, and only the pan effect writes them otherwise.
constexpr uint8_t kPanEnable[] = {vgm::kPort0, 0xB4, 0xC0, vgm::kPort0, 0xB5, 0xC0, vgm::kPort0, 0xB6, 0xC0,
                                  vgm::kPort1, 0xB4, 0xC0, vgm::kPort1, 0xB5, 0xC0, vgm::kPort1, 0xB6, 0xC0};

// The commands, the tag and the fields common to both targets; the caller
// fills in the version and the clocks.
std::vector<uint8_t> encodeFrames(const ExportTexts& texts, const FrameLog& log, const Target& target) {
    // Every frame a wait, every write three bytes; packed runs only shrink.
    // The room past the commands holds the tag without another allocation.
    const size_t tag = 64 + 2 * (texts.trackName.size() + texts.author.size() + texts.message.size() + 128);
    std::vector<uint8_t> out(
        target.dataStart + target.prelude.size() + log.frameCount() + 3 * log.writes.size() + 1 + tag, 0);
    uint8_t* p = out.data() + target.dataStart;
    // Looping to the start goes back to the first command, so the opening
    // writes are replayed with each loop.
    const size_t loopStart = target.dataStart;
    p = std::copy(target.prelude.begin(), target.prelude.end(), p);
    size_t loopOffset = loopStart;
    uint32_t loopFrames = static_cast<uint32_t>(log.frameCount());

    int run = 0;  // single waits written since the last frame with writes or the loop point
    for (size_t i = 0; i < log.frameCount(); ++i) {
        std::span<const RegisterWrite> frame = log.frame(i);
        if (static_cast<int>(i) == log.loopFrame && i > 0) {
            // The loop starts with the loop frame's own wait: a replay that
            // loops waits one frame after the last frame's writes, as the
            // song does, and the samples from here to the end are the loop
            // samples. The waits before it stay single.
            loopOffset = static_cast<size_t>(p - out.data());
            loopFrames = static_cast<uint32_t>(log.frameCount() - i);
            run = 0;
        }
        *p++ = vgm::kWaitFrame;
        ++run;
        if (!frame.empty()) {
            if (run >= 4) p = packWaits(p, run);
            run = 0;
        }
        for (const RegisterWrite& w : frame) p = target.put(p, w);
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
    put32(out, 0x14, static_cast<uint32_t>(gd3 - 0x14));
    put32(out, 0x18, static_cast<uint32_t>(log.frameCount() * kSamplesPerFrame));
    if (log.loopFrame >= 0 && static_cast<size_t>(log.loopFrame) < log.frameCount()) {
        put32(out, 0x1C, static_cast<uint32_t>(loopOffset - 0x1C));
        put32(out, 0x20, loopFrames * kSamplesPerFrame);
    }
    return out;
}

}  // namespace

std::vector<uint8_t> encodeVgm(const ExportTexts& texts, const FrameLog& log) {
    std::vector<uint8_t> out = encodeFrames(texts, log, Target{vgm::kDataStart, kPanEnable, putYm2612});
    put32(out, 0x08, vgm::kVersion);
    put32(out, 0x10, vgm::kClock);
    return out;
}

std::vector<uint8_t> encodeVgm2203(const ExportTexts& texts, const FrameLog& log) {
    std::vector<uint8_t> out = encodeFrames(texts, log, Target{vgm::kDataStart151, {}, putYm2203Pair});
    put32(out, 0x08, vgm::kVersion151);
    put32(out, 0x34, static_cast<uint32_t>(vgm::kDataStart151 - 0x34));
    put32(out, 0x44, kChipClock | vgm::kDualChip);
    return out;
}

bool exportVgm(Player& player, ChipPair& chips, Song& song, const std::string& path) {
    FrameLog log;
    recordSong(player, chips, song, log, kMegaDriveClock);
    return writeWholeFile(path, encodeVgm(exportTexts(song), log));
}

bool exportVgm2203(Player& player, ChipPair& chips, Song& song, const std::string& path) {
    FrameLog log;
    recordSong(player, chips, song, log, kChipClock);
    return writeWholeFile(path, encodeVgm2203(exportTexts(song), log));
}

}  // namespace qv
