// Command-line batch conversion: parsing, output names, conversions of
// modules and MOD files, and the one-line error reports.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "io/batch.h"
#include "io/export_readers.h"
#include "io/export_rig.h"
#include "io/mod_import.h"
#include "song/module_file.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

BatchRequest parse(std::vector<std::string> args) { return parseBatchArgs(args); }

long lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qv batch " + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string writeModule(const std::string& name) {
        qvtest::ExportRig rig;
        rig.sineInstrument(1);
        rig.layout({8, 8}, 1, 3);
        for (int r = 0; r < 8; ++r) rig.note(r % 2, r, r % 6, r, 4);
        rig.song->setTrackName("batch song");
        std::string path = (dir / name).string();
        EXPECT_TRUE(saveModule(*rig.song, path));
        return path;
    }
    std::string writeMod(const std::string& name) {
        std::vector<uint8_t> b(1084 + 1024, 0);
        std::copy_n("mod title", 9, b.begin());
        b[20 + 22] = 0, b[20 + 23] = 50, b[20 + 25] = 64;  // sample 1
        b[950] = 2;                                        // two positions
        std::copy_n("M.K.", 4, b.begin() + 1080);
        for (int r = 0; r < 64; r += 4) {  // C-4 with sample 1 on channel 1
            size_t at = 1084 + static_cast<size_t>(r) * 16;
            b[at] = 0x01, b[at + 1] = 0xAC, b[at + 2] = 0x10;
        }
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
        return path;
    }
    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        BatchRequest r = parseBatchArgs(args);
        EXPECT_TRUE(r.handled());
        return runBatchRequest(r, out, err);
    }
    // The program's own entry, as the shell runs it.
    int runEntry(std::vector<std::string> args, bool& handled) {
        args.insert(args.begin(), "qorvette");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        return runBatch(static_cast<int>(argv.size()), argv.data(), handled);
    }

    fs::path dir;
    std::ostringstream out, err;
};

}  // namespace

TEST(BatchArgs, SwitchesModulesAndHandling) {
    EXPECT_FALSE(parse({}).handled());
    EXPECT_FALSE(parse({"song.qze"}).handled());
    EXPECT_FALSE(parse({"-wav"}).handled());
    EXPECT_FALSE(parse({"-wav", "song.txt"}).handled());

    BatchRequest r = parse({"  -WAV ", "C:\\MUSIC\\SONG.QZE"});
    EXPECT_TRUE(r.handled());
    EXPECT_EQ(r.kind, BatchKind::Wav);
    EXPECT_EQ(r.module, "C:\\MUSIC\\SONG.QZE");  // the path keeps its case
    r = parse({"/home/me/My Songs/tune.qze", "-Smd"});
    EXPECT_EQ(r.kind, BatchKind::Smd);
    EXPECT_EQ(r.module, "/home/me/My Songs/tune.qze");  // one argument, spaces and all
    r = parse({"-qzd", "a.qze", "-vgm", "b.QzE"});
    EXPECT_EQ(r.kind, BatchKind::Vgm);  // later switches and modules win
    EXPECT_EQ(r.module, "b.QzE");
    EXPECT_EQ(parse({"-qzd", ".qze"}).module, "");  // too short to be a module
    EXPECT_EQ(parse({"-qzd", "a.qze.bak"}).module, "");
    r = parse({"-qze", "Tune.MOD"});
    EXPECT_EQ(r.kind, BatchKind::Qze);
    EXPECT_EQ(r.module, "Tune.MOD");
    EXPECT_TRUE(parse({"-h"}).handled());
    EXPECT_TRUE(parse({"--HELP"}).help);
    EXPECT_EQ(parse({"-x", "song.qze"}).kind, BatchKind::None);
}

TEST(BatchArgs, OutputBesideTheModule) {
    EXPECT_EQ(batchOutputPath("C:\\MUSIC\\SONG.QZE", BatchKind::Wav), "C:\\MUSIC\\SONG.wav");
    EXPECT_EQ(batchOutputPath("/m/My.Songs/song.qze", BatchKind::Smd), "/m/My.Songs/song.qzd");
    EXPECT_EQ(batchOutputPath("song.qze", BatchKind::Qzd), "song.qzd");
    EXPECT_EQ(batchOutputPath("dir/Tune.Mod", BatchKind::Qze), "dir/Tune.qze");
    EXPECT_EQ(batchOutputPath("dir/Tune.Mod", BatchKind::Vgm), "dir/Tune.vgm");
}

TEST_F(BatchRun, HelpPrintsTheSwitches) {
    EXPECT_EQ(run({"--help"}), 0);
    for (const char* s : {"-wav", "-wavch", "-vgm", "-vgm2203", "-qzd", "-smd", "-qze", "-o DIR", "--help", ".wav",
                          ".ch1.wav", ".vgm", ".2203.vgm", ".qzd"})
        EXPECT_NE(out.str().find(s), std::string::npos) << s;
    EXPECT_EQ(err.str(), "");
}

TEST_F(BatchRun, EveryExportOfAModule) {
    std::string module = writeModule("My Song.QZE");
    for (const char* sw : {"-wav", "-VGM", "-qzd"}) {
        EXPECT_EQ(run({sw, module}), 0) << sw;
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str(), "");
    }
    auto vgm = qvtest::decodeVgm(qvtest::readFile((dir / "My Song.vgm").string()));
    ASSERT_TRUE(vgm.ok) << vgm.error;
    EXPECT_EQ(vgm.frames.size(), 16u * 3);
    EXPECT_EQ(vgm.loopFrame, 24);
    EXPECT_EQ(vgm.tags[0], u"batch song");
    auto qzd = qvtest::readFile((dir / "My Song.qzd").string());
    auto q = qvtest::decodeQzd(qzd);
    ASSERT_TRUE(q.ok) << q.error;
    EXPECT_EQ(q.frames.size(), 48u);
    EXPECT_EQ(q.texts[0], "batch song");
    auto wav = qvtest::readFile((dir / "My Song.wav").string());
    EXPECT_EQ(wav.size(), 44u + 2 * 882 * (48 + 150));
    // -smd writes the same name with the Mega Drive frequencies.
    EXPECT_EQ(run({module, "-smd"}), 0);
    auto smd = qvtest::readFile((dir / "My Song.qzd").string());
    EXPECT_EQ(smd.size(), qzd.size());
    EXPECT_NE(smd, qzd);
}

TEST_F(BatchRun, ModFilesAreImportedFirst) {
    std::string mod = writeMod("Tune.MOD");
    EXPECT_EQ(run({"-qze", mod}), 0);
    EXPECT_EQ(err.str(), "");
    auto song = std::make_unique<Song>();
    ASSERT_EQ(loadModule(*song, dir / "Tune.qze"), 0);
    EXPECT_EQ(song->trackNameText(), "mod title");
    EXPECT_EQ(song->order.length, 2);
    EXPECT_EQ(song->patterns[0].rows[4][0].pitch(), 36);
    auto before = qvtest::readFile((dir / "Tune.qze").string());

    // Never overwrites: a second run is an error naming the file.
    EXPECT_EQ(run({"-qze", mod}), 1);
    EXPECT_NE(err.str().find("Tune.qze"), std::string::npos);
    EXPECT_EQ(lineCount(err.str()), 1);
    EXPECT_EQ(qvtest::readFile((dir / "Tune.qze").string()), before);

    EXPECT_EQ(run({"-vgm", mod}), 0);
    auto v = qvtest::decodeVgm(qvtest::readFile((dir / "Tune.vgm").string()));
    ASSERT_TRUE(v.ok) << v.error;
    EXPECT_EQ(v.frames.size(), 2u * 64 * 3);
}

TEST_F(BatchRun, FailuresReportOneLineAndExitNonZero) {
    auto expectOneLine = [this](const std::string& mention) {
        EXPECT_NE(err.str().find(mention), std::string::npos) << err.str();
        EXPECT_EQ(lineCount(err.str()), 1) << err.str();
        EXPECT_EQ(out.str(), "");
    };
    std::string missing = (dir / "none.qze").string();
    EXPECT_EQ(run({"-wav", missing}), 1);
    expectOneLine(missing);
    EXPECT_FALSE(fs::exists(dir / "none.wav"));

    std::string junk = (dir / "junk.qze").string();
    std::ofstream(junk) << "this is not a module";
    EXPECT_EQ(run({"-vgm", junk}), 1);
    expectOneLine(junk);
    EXPECT_FALSE(fs::exists(dir / "junk.vgm"));

    std::string badMod = (dir / "bad.mod").string();
    std::ofstream(badMod) << std::string(2000, 'x');
    EXPECT_EQ(run({"-qze", badMod}), 1);
    expectOneLine(badMod);
    EXPECT_FALSE(fs::exists(dir / "bad.qze"));

    std::string module = writeModule("song.qze");
    fs::create_directories(dir / "song.vgm");  // the output cannot be created
    EXPECT_EQ(run({"-vgm", module}), 1);
    expectOneLine((dir / "song.vgm").string());
    fs::create_directories(dir / "song.wav");
    EXPECT_EQ(run({"-wav", module}), 1);
    expectOneLine((dir / "song.wav").string());

    EXPECT_EQ(run({"-qze", module}), 1);  // -qze takes a MOD file
    expectOneLine(module);
}

// Runs f as an ordinary user in a child process when the tests run as root
// (root may read any file); gives f's result, -1 when that cannot be done.
int asOrdinaryUser(const std::function<int()>& f) {
    if (geteuid() != 0) return f();
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
        _exit(f());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

TEST_F(BatchRun, ReadFailuresSayWhatIsWrong) {
    for (const char* name : {"folder.qze", "folder.mod"}) {
        fs::create_directories(dir / name);
        EXPECT_EQ(run({"-vgm", (dir / name).string()}), 1);
        EXPECT_NE(err.str().find(": is a folder"), std::string::npos) << err.str();
    }
    EXPECT_EQ(run({"-vgm", (dir / "gone.mod").string()}), 1);
    EXPECT_NE(err.str().find(": file not found"), std::string::npos) << err.str();

    // Files the user may not read.
    const std::string mod = writeMod("locked.mod");
    const std::string module = writeModule("locked.qze");
    fs::permissions(dir, fs::perms::all, fs::perm_options::add);
    for (const std::string& path : {mod, module}) {
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
        const int said = asOrdinaryUser([&] {
            if (run({"-vgm", path}) != 1) return 2;
            return err.str().find(path + ": permission denied") != std::string::npos ? 1 : 3;
        });
        if (said < 0) GTEST_SKIP() << "cannot run as an ordinary user";
        EXPECT_EQ(said, 1) << path;
    }
}

TEST_F(BatchRun, EntryHookReportsHandled) {
    std::string module = writeModule("entry.qze");
    std::string sw = "-qzd";
    std::vector<char*> argv{const_cast<char*>("qorvette"), sw.data(), module.data()};
    bool handled = false;
    EXPECT_EQ(runBatch(3, argv.data(), handled), 0);
    EXPECT_TRUE(handled);
    EXPECT_TRUE(fs::exists(dir / "entry.qzd"));
    std::vector<char*> plain{const_cast<char*>("qorvette"), module.data()};
    EXPECT_EQ(runBatch(2, plain.data(), handled), 0);
    EXPECT_FALSE(handled);
}

TEST_F(BatchRun, ManyFilesIntoAFolderWithOneLinePerFailure) {
    const std::string a = writeModule("a.qze"), c = writeMod("c.mod");
    const std::string b = (dir / "b.qze").string();
    std::ofstream(b) << "broken";
    const std::string outDir = (dir / "out" / "wav").string();  // created, parents too
    EXPECT_EQ(run({"-wav", a, b, c, "-o", outDir}), 1);
    EXPECT_EQ(lineCount(err.str()), 1) << err.str();
    EXPECT_NE(err.str().find(b), std::string::npos);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(qvtest::readFile(outDir + "/a.wav").size(), 44u + 2 * 882 * (48 + 150));
    EXPECT_TRUE(fs::exists(outDir + "/c.wav"));
    EXPECT_FALSE(fs::exists(outDir + "/b.wav"));
    EXPECT_FALSE(fs::exists(dir / "a.wav"));  // nothing beside the modules
    // All good: 0.
    EXPECT_EQ(run({"-vgm2203", a, c}), 0);
    EXPECT_EQ(err.str(), "");
    auto r = qvtest::replayVgm2203(qvtest::readFile((dir / "a.2203.vgm").string()), 128);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.samples.size(), 882u * 48);
    EXPECT_TRUE(fs::exists(dir / "c.2203.vgm"));
    // The output folder cannot be made: one line, nothing converted.
    std::ofstream((dir / "plain").string()) << "x";
    EXPECT_EQ(run({"-qzd", a, "-o", (dir / "plain" / "sub").string()}), 1);
    EXPECT_EQ(lineCount(err.str()), 1) << err.str();
}

TEST_F(BatchRun, StemsOfAModule) {
    const std::string a = writeModule("stems.qze");
    EXPECT_EQ(run({"-WAVCH", a}), 0);
    EXPECT_EQ(err.str(), "");
    for (int c = 1; c <= 6; ++c)
        EXPECT_EQ(qvtest::readFile((dir / ("stems.ch" + std::to_string(c) + ".wav")).string()).size(),
                  44u + 2 * 882 * (48 + 150))
            << c;
    EXPECT_EQ(batchOutputPaths("x/Song.qze", BatchKind::WavChannels, "o").back(), "o/Song.ch6.wav");
    EXPECT_EQ(batchOutputPath("x/Song.qze", BatchKind::Vgm2203), "x/Song.2203.vgm");
}

TEST_F(BatchRun, UnknownSwitchPrintsTheUsageAndExitsTwo) {
    const std::string a = writeModule("u.qze");
    bool handled = false;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(runEntry({"-xyz", a}, handled), 2);
    const std::string usage = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(handled);  // no window opens "-xyz"
    EXPECT_NE(usage.find("-xyz"), std::string::npos);
    EXPECT_NE(usage.find("Usage:"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "u.wav"));
    EXPECT_EQ(parse({"-wav", a, "-bogus"}).usageError, "unknown switch -bogus");
    EXPECT_FALSE(parse({"-wav", "-o"}).usageError.empty());
    // A line that starts with a module leaves other arguments to the window.
    EXPECT_FALSE(parse({a, "-platform", "xcb"}).handled());
}
