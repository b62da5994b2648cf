// Command-line batch conversion, run before any window exists:
//   qorvette -wav|-vgm|-qzd|-smd SONG.qze   writes SONG.wav / .vgm / .qzd beside it
//   qorvette -qze SONG.mod                  imports the MOD and writes SONG.qze
// Any export switch also takes a .mod path, which is imported first.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

enum class BatchKind { None, Qzd, Smd, Vgm, Wav, Qze };

struct BatchRequest {
    BatchKind kind = BatchKind::None;
    std::string module;  // as given, in its own case
    bool help = false;
    // True when the program should convert (or print the usage) and end
    // instead of opening its window.
    bool handled() const { return help || (kind != BatchKind::None && !module.empty()); }
};

// Each argument is one token. Switches are compared trimmed and without
// regard to case; a later switch overrides an earlier one. The module is the
// (last) argument whose text ends in ".qze" or ".mod", compared without regard
// to case. "-h" and "--help" ask for the usage.
BatchRequest parseBatchArgs(const std::vector<std::string>& args);

// The module path up to and including its last ".", followed by the
// extension of the kind ("qzd" for -qzd and -smd).
std::string batchOutputPath(const std::string& module, BatchKind kind);

std::string batchUsage();

// Carries out a parsed request. Success prints nothing and gives 0; a
// failure prints one line naming the file and the reason to err and gives 1.
// volume is the output volume of the wave rendering (0-255).
int runBatchRequest(const BatchRequest& request, std::ostream& out, std::ostream& err, int volume = 128);

// Entry hook: handled tells the caller to end with the returned exit code.
// waveVolume, when given, supplies the stored output volume (0-255) for a
// wave export; it is called only then. Without it the volume is 128.
int runBatch(int argc, char** argv, bool& handled, const std::function<int()>& waveVolume = {});

}  // namespace qv
