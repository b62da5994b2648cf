#include "io/batch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>

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
        case BatchKind::Wav: return "wav";
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
    for (const std::string& arg : args) {
        std::string s = lowered(trimmed(arg));
        if (s == "-qzd") r.kind = BatchKind::Qzd;
        else if (s == "-smd") r.kind = BatchKind::Smd;
        else if (s == "-vgm") r.kind = BatchKind::Vgm;
        else if (s == "-wav") r.kind = BatchKind::Wav;
        else if (s == "-qze") r.kind = BatchKind::Qze;
        else if (s == "-h" || s == "--help") r.help = true;
        else if (hasExtension(arg, "qze") || hasExtension(arg, "mod")) r.module = arg;
    }
    return r;
}

std::string batchOutputPath(const std::string& module, BatchKind kind) {
    size_t dot = module.find_last_of('.');
    std::string base = dot == std::string::npos ? module + "." : module.substr(0, dot + 1);
    return base + extensionOf(kind);
}

std::string batchUsage() {
    return "Usage: qorvette [SWITCH] FILE\n"
           "Without a switch the editor opens FILE (a .qze module).\n"
           "Switches write the result beside FILE and end without a window:\n"
           "  -wav    FILE.wav: wave file of all channels (44100 Hz, mono, 16-bit)\n"
           "  -vgm    FILE.vgm: VGM log for a YM2612 (Sega Mega Drive)\n"
           "  -qzd    FILE.qzd: register dump for the sound extension (3 500 000 Hz)\n"
           "  -smd    FILE.qzd: register dump for the Sega Mega Drive (3 835 221 Hz)\n"
           "  -qze    FILE.qze: module imported from a MOD file (never overwrites)\n"
           "  -h, --help  this text\n"
           "FILE is a .qze module or a .mod file, which is imported first.\n";
}

int runBatchRequest(const BatchRequest& request, std::ostream& out, std::ostream& err, int volume) {
    if (request.help) {
        out << batchUsage();
        return 0;
    }
    if (!request.handled()) return fail(err, request.module, "nothing to do");
    const std::string& path = request.module;
    const bool isMod = hasExtension(path, "mod");
    if (request.kind == BatchKind::Qze && !isMod) return fail(err, path, "-qze converts a .mod file");

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

    const std::string target = batchOutputPath(path, request.kind);
    bool ok = false;
    if (request.kind == BatchKind::Qze) {
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
        switch (request.kind) {
            case BatchKind::Qzd: ok = exportRegisterDump(*player, *chips, *song, target, kChipClock); break;
            case BatchKind::Smd: ok = exportRegisterDump(*player, *chips, *song, target, kMegaDriveClock); break;
            case BatchKind::Vgm: ok = exportVgm(*player, *chips, *song, target); break;
            case BatchKind::Wav: {
                auto source = std::make_unique<SampleSource>(*player, *chips);
                ok = renderWave(*player, *chips, *source, target, true);
                break;
            }
            default: break;
        }
    }
    chips->destroy();
    if (!ok) return fail(err, target, "cannot write the file");
    return 0;
}

int runBatch(int argc, char** argv, bool& handled, const std::function<int()>& waveVolume) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    BatchRequest request = parseBatchArgs(args);
    handled = request.handled();
    if (!handled) return 0;
    int volume = 128;
    if (request.kind == BatchKind::Wav && !request.help && waveVolume) volume = std::clamp(waveVolume(), 0, 255);
    return runBatchRequest(request, std::cout, std::cerr, volume);
}

}  // namespace qv
