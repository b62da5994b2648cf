// Our VGM played by a real player (libgme, through ffmpeg) against our own
// wave render of the same one-note song: duration, sound and pitch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "io/export_readers.h"
#include "io/export_rig.h"
#include "io/vgm_export.h"
#include "io/wav_export.h"
#include "sound/sample_source.h"

using namespace qv;
using qvtest::ExportRig;
namespace fs = std::filesystem;

namespace {

struct Wave {
    int rate = 0, channels = 0;
    std::vector<double> mono;  // first channel
};

Wave readWave(const std::string& path) {
    Wave w;
    auto b = qvtest::readFile(path);
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF") return w;
    size_t p = 12;
    int bits = 0;
    while (p + 8 <= b.size()) {
        std::string id(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p) + 4);
        uint32_t len = qvtest::le32(b, p + 4);
        p += 8;
        if (id == "fmt ") {
            w.channels = b[p + 2] | b[p + 3] << 8;
            w.rate = static_cast<int>(qvtest::le32(b, p + 4));
            bits = b[p + 14] | b[p + 15] << 8;
        } else if (id == "data" && bits == 16) {
            size_t end = std::min<size_t>(b.size(), p + len);
            for (size_t i = p; i + 2 * w.channels <= end; i += 2 * static_cast<size_t>(w.channels))
                w.mono.push_back(static_cast<int16_t>(b[i] | b[i + 1] << 8));
        }
        p += len + (len & 1);
    }
    return w;
}

// Frequency from the rising zero crossings between two times, interpolated.
double frequency(const Wave& w, double from, double to) {
    size_t a = static_cast<size_t>(from * w.rate), z = std::min(w.mono.size(), static_cast<size_t>(to * w.rate));
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = a + 1; i < z; ++i) {
        if (w.mono[i - 1] < 0 && w.mono[i] >= 0) {
            double t = (i - 1) + w.mono[i - 1] / (w.mono[i - 1] - w.mono[i]);
            if (first < 0) first = t;
            else ++crossings;
            last = t;
        }
    }
    return crossings > 0 ? crossings * w.rate / (last - first) : 0;
}

double rms(const Wave& w, double from, double to) {
    size_t a = static_cast<size_t>(from * w.rate), z = std::min(w.mono.size(), static_cast<size_t>(to * w.rate));
    double sum = 0;
    for (size_t i = a; i < z; ++i) sum += w.mono[i] * w.mono[i];
    return z > a ? std::sqrt(sum / static_cast<double>(z - a)) : 0;
}

}  // namespace

// Start times of the sounding stretches (10 ms windows above a level) and
// their lengths.
std::vector<std::pair<double, double>> soundingStretches(const Wave& w) {
    std::vector<std::pair<double, double>> out;
    const size_t win = static_cast<size_t>(w.rate / 100);
    bool on = false;
    double start = 0;
    for (size_t a = 0; a + win <= w.mono.size(); a += win) {
        double sum = 0;
        for (size_t i = a; i < a + win; ++i) sum += w.mono[i] * w.mono[i];
        bool loud = std::sqrt(sum / static_cast<double>(win)) > 300;
        double t = static_cast<double>(a) / w.rate;
        if (loud && !on) start = t;
        if (!loud && on) out.emplace_back(start, t - start);
        on = loud;
    }
    if (on) out.emplace_back(start, static_cast<double>(w.mono.size()) / w.rate - start);
    return out;
}

TEST(VgmPlayback, LibgmeAgreesWithOurRender) {
    if (std::system("ffmpeg -hide_banner -loglevel quiet -buildconf 2>/dev/null | grep -q enable-libgme") != 0)
        GTEST_SKIP() << "ffmpeg with libgme is not installed";
    fs::path dir = fs::temp_directory_path() / "qv_vgm_playback";
    fs::remove_all(dir);
    fs::create_directories(dir);

    // One note on row 0, keyed off on row 32, 64 rows of 6 frames: the song
    // lasts 7.68 s and loops to its start; the note sounds for 3.84 s.
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({64}, 0, 6);
    rig.note(0, 0, 0, 9, 5);
    rig.cell(0, 32, 0).note = kNoteKeyOff;
    ASSERT_EQ(rig.songFrames(), 384);
    const double songSeconds = 384 * 882 / 44100.0;
    const std::string vgm = (dir / "note.vgm").string(), ours = (dir / "ours.wav").string(),
                      theirs = (dir / "gme.wav").string();
    ASSERT_TRUE(exportVgm(*rig.player, *rig.chips, *rig.song, vgm));
    SampleSource source(*rig.player, *rig.chips);
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, ours, true));

    // libgme loops the song for as long as it is asked to play.
    std::string cmd = "ffmpeg -hide_banner -loglevel error -y -t 17 -i '" + vgm + "' -ac 1 -ar 44100 -c:a pcm_s16le '" +
                      theirs + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    Wave g = readWave(theirs), o = readWave(ours);
    ASSERT_EQ(o.rate, 44100);
    ASSERT_EQ(g.rate, 44100);
    EXPECT_NEAR(static_cast<double>(o.mono.size()) / o.rate, songSeconds + 3, 1e-9);

    auto gs = soundingStretches(g), os = soundingStretches(o);
    // Our render keeps playing through its three-second tail, so the song's
    // restart sounds there too, fading out.
    ASSERT_EQ(os.size(), 2u);
    ASSERT_GE(gs.size(), 2u);
    EXPECT_NEAR(os[1].first - os[0].first, songSeconds, 0.011);
    EXPECT_NEAR(os[0].second, songSeconds / 2, 0.01 * songSeconds / 2);
    EXPECT_NEAR(gs[0].first, os[0].first, 0.03);
    EXPECT_NEAR(gs[0].second, os[0].second, 0.01 * os[0].second);
    // The loop brings the note back one song length later.
    EXPECT_NEAR(gs[1].first - gs[0].first, songSeconds, 0.01 * songSeconds);
    EXPECT_NEAR(gs[1].second, os[0].second, 0.01 * os[0].second);

    EXPECT_GT(rms(g, 0.5, 3.0), 1000.0);
    EXPECT_GT(rms(o, 0.5, 3.0), 1000.0);
    double fg = frequency(g, 0.5, 3.0), fo = frequency(o, 0.5, 3.0);
    EXPECT_NEAR(fo, 440.0, 440.0 * 0.01) << "our render";
    EXPECT_NEAR(fg, fo, fo * 0.01) << "libgme " << fg << " Hz, ours " << fo << " Hz";
    fs::remove_all(dir);
}

TEST(Vgm2203Playback, ReplayThroughTheChipsEqualsTheWaveRender) {
    // Both chips busy with effects, a pattern loop across entries and a loop
    // position of 1: the VGM read by a plain VGM reader and played through
    // the chips gives the wave render's samples over the whole pass.
    ExportRig rig;
    rig.sineInstrument(1);
    Instrument& bright = rig.song->instrument(2);
    bright.algorithm = 4;
    bright.FB = 5;
    for (int op = 0; op < 4; ++op) {
        bright.operators[op].TL = 8 + 10 * op;
        bright.operators[op].MULT = 1 + op;
        bright.operators[op].AR = 28;
        bright.operators[op].DR = 6;
        bright.operators[op].SL = 4;
        bright.operators[op].RR = 7;
    }
    rig.layout({16, 12, 16}, 1, 3, 4);
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < rig.song->patterns[p].length; r += 2)
            for (int c = 0; c < 6; c += 1 + (r + p) % 2) {
                rig.note(p, r, c, (r * 5 + c * 7 + p) % 12, 2 + (c + r) % 4, 1 + (r + c) % 2, 8 + (r + c) % 8);
                Cell& cell = rig.cell(p, r, c);
                cell.effect = static_cast<int8_t>(c == 2 ? 4 : c == 4 ? 0 : c == 5 ? 10 : 0);
                cell.param = static_cast<uint8_t>(c == 2 ? 0x46 : c == 4 ? 0x47 : c == 5 ? 0x02 : 0);
            }
    rig.cell(1, 3, 3) = Cell{};
    rig.cell(0, 4, 3).effect = 14, rig.cell(0, 4, 3).param = 0x60;
    rig.cell(1, 5, 3).effect = 14, rig.cell(1, 5, 3).param = 0x61;  // back to entry 0, row 4
    rig.cell(1, 3, 3).note = kNoteKeyOff;
    int pass;
    {
        std::lock_guard<std::mutex> lock(rig.player->songMutex());
        pass = rig.player->passFrames();
    }
    ASSERT_GT(pass, rig.songFrames());

    fs::path dir = fs::temp_directory_path() / "qv_vgm2203";
    fs::create_directories(dir);
    const std::string vgm = (dir / "song.2203.vgm").string(), wav = (dir / "song.wav").string();
    ASSERT_TRUE(exportVgm2203(*rig.player, *rig.chips, *rig.song, vgm));
    SampleSource source(*rig.player, *rig.chips);
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, wav, true));

    auto r = qvtest::replayVgm2203(qvtest::readFile(vgm), 128);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.version, 0x151u);
    EXPECT_EQ(r.clock, 3500000u | 0x40000000u);
    ASSERT_EQ(r.samples.size(), 882u * pass);
    EXPECT_EQ(std::count(r.commands.begin(), r.commands.end(), 0x52), 0);
    EXPECT_GT(std::count(r.commands.begin(), r.commands.end(), 0xA5), 100);
    // The loop starts with entry 1: after entries 0 and the replayed part of it.
    EXPECT_GT(r.samplesAtLoop, 882u * 16 * 3);
    EXPECT_EQ(r.samplesAtLoop + r.loopSamples, r.samples.size());

    // The wave file fades its last three seconds from the block that
    // overlaps them: the same fade on the replay.
    const int64_t total = 882LL * (pass + 150);
    WaveFade fade(total);
    std::vector<int16_t> replay = r.samples;
    replay.resize(static_cast<size_t>(total), 0);
    for (int64_t at = 0; at < total; at += 8192)
        fade.apply(replay.data() + at, static_cast<int>(std::min<int64_t>(8192, total - at)), at);
    Wave w = readWave(wav);
    ASSERT_EQ(w.mono.size(), static_cast<size_t>(total));
    size_t differing = 0, loud = 0;
    for (size_t i = 0; i < r.samples.size(); ++i) {
        differing += replay[i] != static_cast<int16_t>(w.mono[i]);
        loud += std::abs(replay[i]) > 300;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(loud, r.samples.size() / 4) << "max " << *std::max_element(replay.begin(), replay.end());
    fs::remove_all(dir);
}
