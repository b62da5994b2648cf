// Our VGM played by a real player (libgme, through ffmpeg) against our own
// wave render of the same one-note song: duration, sound and pitch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

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
