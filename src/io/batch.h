// Command-line batch conversion, run before any window exists:
//   qorvette -wav|-vgm|-vgm2203|-wavch|-qzd|-smd [-o DIR] SONG.qze ...
//       writes SONG.wav / .vgm / .2203.vgm / .ch1-6.wav / .qzd beside each
//       module (or into DIR, created when missing)
//   qorvette -qze SONG.mod ...   imports each MOD and writes SONG.qze
// Any export switch also takes .mod paths, which are imported first. Each
// file is converted on its own: a failure prints one line and the others
// still run.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qv {

enum class BatchKind { None, Qzd, Smd, Vgm, Vgm2203, Wav, WavChannels, Qze };

// Exit status of a batch run.
constexpr int kBatchOk = 0;
constexpr int kBatchFailed = 1;  // at least one file failed
constexpr int kBatchUsage = 2;   // the command line itself is wrong

struct BatchRequest {
    BatchKind kind = BatchKind::None;
    std::vector<std::string> modules;  // as given, in their own case
    std::string module;                // the last of them
    std::vector<std::string> others;   // other plain arguments
    std::string outDir;                // -o DIR; empty: beside each module
    std::string usageError;            // why the command line is wrong
    bool help = false;
    // True when the program should convert (or print the usage) and end
    // instead of opening its window.
    bool handled() const {
        return help || !usageError.empty() || (kind != BatchKind::None && !modules.empty());
    }
};

// Each argument is one token. Switches are compared trimmed and without
// regard to case; a later export switch overrides an earlier one. Modules
// are the arguments whose text ends in ".qze" or ".mod", compared without
// regard to case; "-o" takes the next argument as the output folder. "-h"
// and "--help" ask for the usage. An unknown switch, or "-o" without a
// folder, is a usage error when the command line starts with a switch (a
// line starting with a module keeps its other arguments for the window).
BatchRequest parseBatchArgs(const std::vector<std::string>& args);

// The module path up to and including its last ".", followed by the
// extension of the kind ("qzd" for -qzd and -smd, "2203.vgm" for -vgm2203,
// "ch1.wav" for -wavch); with outDir, in that folder instead.
std::string batchOutputPath(const std::string& module, BatchKind kind, const std::string& outDir = {});
// Every file a kind writes: the six stems for -wavch, else one.
std::vector<std::string> batchOutputPaths(const std::string& module, BatchKind kind, const std::string& outDir = {});

std::string batchUsage();

// Carries out a parsed request, file after file. Success prints nothing and
// gives 0; each failing file prints one line naming it and the reason to err,
// and the result is then 1. A usage error prints the reason and the usage to
// err and gives 2. volume is the output volume of the wave renderings (0-255).
int runBatchRequest(const BatchRequest& request, std::ostream& out, std::ostream& err, int volume = 128);

// Entry hook: handled tells the caller to end with the returned exit code.
// waveVolume, when given, supplies the stored output volume (0-255) for a
// wave export; it is called only then. Without it the volume is 128.
int runBatch(int argc, char** argv, bool& handled, const std::function<int()>& waveVolume = {});

}  // namespace qv
