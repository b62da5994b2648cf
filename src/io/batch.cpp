#include "io/batch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "io/mod_import.h"
#include "io/register_dump.h"
#include "io/vgm_export.h"
#include "io/wav_export.h"
#include "song/module_file.h"
#include "song/song.h"
#include "sound/chip_pair.h"
#include "sound/player.h"
#include "sound/sample_source.h"

namespace qv {

namespace {

std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool hasExtension(const std::string& path, const char* ext) {
    size_t dot = path.find_last_of('.');
    if (path.size() < 5 || dot == std::string::npos) return false;
    return lowered(path.substr(dot + 1)) == ext;
}

const char* extensionOf(BatchKind kind) {
    switch (kind) {
        case BatchKind::Qzd: case BatchKind::Smd: return "qzd";
        case BatchKind::Vgm: return "vgm";
        case BatchKind::Vgm2203: return "2203.vgm";
        case BatchKind::Wav: return "wav";
        case BatchKind::WavChannels: return "ch1.wav";
        case BatchKind::Qze: return "qze";
        case BatchKind::None: break;
    }
    return "";
}

int fail(std::ostream& err, const std::string& file, const std::string& reason) {
    err << "qorvette: " << file << ": " << reason << '\n';
    return 1;
}

}  // namespace

BatchRequest parseBatchArgs(const std::vector<std::string>& args) {
    BatchRequest r;
    const bool startsWithSwitch = !args.empty() && trimmed(args.front()).starts_with('-');
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string s = lowered(trimmed(arg));
        if (s == "-qzd") r.kind = BatchKind::Qzd;
        else if (s == "-smd") r.kind = BatchKind::Smd;
        else if (s == "-vgm") r.kind = BatchKind::Vgm;
        else if (s == "-vgm2203") r.kind = BatchKind::Vgm2203;
        else if (s == "-wav") r.kind = BatchKind::Wav;
        else if (s == "-wavch") r.kind = BatchKind::WavChannels;
        else if (s == "-qze") r.kind = BatchKind::Qze;
        else if (s == "-h" || s == "--help") r.help = true;
        else if (s == "-o") {
            if (i + 1 < args.size() && !args[i + 1].empty()) r.outDir = args[++i];
            else if (startsWithSwitch && r.usageError.empty()) r.usageError = "-o needs a folder";
        } else if (hasExtension(arg, "qze") || hasExtension(arg, "mod")) {
            r.modules.push_back(arg);
        } else if (s.starts_with('-')) {
            if (startsWithSwitch && r.usageError.empty()) r.usageError = "unknown switch " + trimmed(arg);
        } else if (!s.empty()) {
            r.others.push_back(arg);
        }
    }
    if (!r.modules.empty()) r.module = r.modules.back();
    return r;
}

std::string batchOutputPath(const std::string& module, BatchKind kind, const std::string& outDir) {
    std::string base = module;
    if (!outDir.empty()) base = (std::filesystem::path(outDir) / std::filesystem::path(module).filename()).string();
    size_t dot = base.find_last_of('.');
    base = dot == std::string::npos ? base + "." : base.substr(0, dot + 1);
    return base + extensionOf(kind);
}

std::vector<std::string> batchOutputPaths(const std::string& module, BatchKind kind, const std::string& outDir) {
    const std::string path = batchOutputPath(module, kind, outDir);
    if (kind != BatchKind::WavChannels) return {path};
    // NAME.ch1.wav: the stems share NAME.
    auto stems = stemPaths(path.substr(0, path.size() - std::string("ch1.wav").size()) + "wav");
    return std::vector<std::string>(stems.begin(), stems.end());
}

std::string batchUsage() {
    return "Usage: qorvette [FILE]\n"
           "       qorvette SWITCH [-o DIR] FILE...\n"
           "Without a switch the editor opens FILE (a .qze module).\n"
           "A switch converts each FILE and ends without a window; the results go\n"
           "beside each FILE, or into DIR with -o (created when missing):\n"
           "  -wav      FILE.wav: wave file of all channels (44100 Hz, mono, 16-bit)\n"
           "  -wavch    FILE.ch1.wav ... FILE.ch6.wav: one wave file per channel\n"
           "  -vgm      FILE.vgm: VGM log for a YM2612 (Sega Mega Drive)\n"
           "  -vgm2203  FILE.2203.vgm: VGM log for the two YM2203 of the sound extension\n"
           "  -qzd      FILE.qzd: register dump for the sound extension (3 500 000 Hz)\n"
           "  -smd      FILE.qzd: register dump for the Sega Mega Drive (3 835 221 Hz)\n"
           "  -qze      FILE.qze: module imported from a MOD file (never overwrites)\n"
           "  -o DIR    write the results into DIR\n"
           "  -h, --help  this text\n"
           "FILE is a .qze module or a .mod file, which is imported first.\n"
           "Exit status: 0 all converted, 1 some file failed (one line each on\n"
           "stderr), 2 wrong command line.\n";
}

namespace {

// Converts one file; 0 or 1 with its error line.
int convertOne(const std::string& path, BatchKind kind, const std::string& outDir, std::ostream& err, int volume) {
    const bool isMod = hasExtension(path, "mod");
    if (kind == BatchKind::Qze && !isMod) return fail(err, path, "-qze converts a .mod file");

    auto chips = std::make_unique<ChipPair>();
    if (!chips->create(kSampleRate, kChipClock, volume)) return fail(err, path, "cannot create the sound chips");
    auto song = std::make_unique<Song>();
    song->clear();
    chips->reset();

    std::error_code ec;
    if (isMod) {
        ReadResult read = ReadResult::ok;
        if (!importMod(path, *song, &read)) {
            chips->destroy();
            return fail(err, path, read != ReadResult::ok ? readProblemText(read) : "not a MOD module or damaged");
        }
    } else {
        int result = loadModule(*song, path);
        if (result != kModuleLoaded) {
            chips->destroy();
            return fail(err, path, moduleLoadProblemText(result));
        }
    }

    const std::vector<std::string> targets = batchOutputPaths(path, kind, outDir);
    const std::string& target = targets.front();
    bool ok = false;
    if (kind == BatchKind::Qze) {
        if (std::filesystem::exists(target, ec) || ec) {
            chips->destroy();
            return fail(err, target, "already exists");
        }
        ok = saveModule(*song, target);
    } else {
        auto player = std::make_unique<Player>(*song, *chips);
        {
            std::lock_guard<std::mutex> lock(player->songMutex());
            player->buildNoteTables(kChipClock);
            player->songLengthFrames();
        }
        switch (kind) {
            case BatchKind::Qzd: ok = exportRegisterDump(*player, *chips, *song, target, kChipClock); break;
            case BatchKind::Smd: ok = exportRegisterDump(*player, *chips, *song, target, kMegaDriveClock); break;
            case BatchKind::Vgm: ok = exportVgm(*player, *chips, *song, target); break;
            case BatchKind::Vgm2203: ok = exportVgm2203(*player, *chips, *song, target); break;
            case BatchKind::Wav: {
                auto source = std::make_unique<SampleSource>(*player, *chips);
                ok = renderWave(*player, *chips, *source, target, true);
                break;
            }
            case BatchKind::WavChannels: {
                std::array<std::string, kChannels> paths;
                std::copy(targets.begin(), targets.end(), paths.begin());
                const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
                ok = renderStems(*song, volume, paths, threads);
                break;
            }
            default: break;
        }
    }
    chips->destroy();
    if (!ok) return fail(err, target, "cannot write the file");
    return 0;
}

}  // namespace

int runBatchRequest(const BatchRequest& request, std::ostream& out, std::ostream& err, int volume) {
    if (!request.usageError.empty()) {
        err << "qorvette: " << request.usageError << '\n' << batchUsage();
        return kBatchUsage;
    }
    if (request.help) {
        out << batchUsage();
        return kBatchOk;
    }
    if (!request.handled()) return fail(err, request.module, "nothing to do");
    int result = kBatchOk;
    for (const std::string& other : request.others)
        result = std::max(result, fail(err, other, "not a .qze or .mod file"));
    if (!request.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(request.outDir, ec);
        if (!std::filesystem::is_directory(request.outDir, ec)) {
            // Every file would fail the same way: one line says it.
            return fail(err, request.outDir, "cannot create the output folder");
        }
    }
    for (const std::string& module : request.modules)
        result = std::max(result, convertOne(module, request.kind, request.outDir, err, volume));
    return result;
}

int runBatch(int argc, char** argv, bool& handled, const std::function<int()>& waveVolume) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    BatchRequest request = parseBatchArgs(args);
    handled = request.handled();
    if (!handled) return 0;
    int volume = 128;
    const bool renders = request.kind == BatchKind::Wav || request.kind == BatchKind::WavChannels;
    if (renders && !request.help && request.usageError.empty() && waveVolume)
        volume = std::clamp(waveVolume(), 0, 255);
    return runBatchRequest(request, std::cout, std::cerr, volume);
}

}  // namespace qv
