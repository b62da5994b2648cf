// The editable module file (.qze): every slot of a Song as one fixed
// 1,981,904-byte sequence, run-length packed (see pack_stream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "song/song.h"

namespace qv {

constexpr size_t kModuleSequenceSize = 1981904;
// The longest packed file any reader position could correspond to: every
// sequence byte coded as a literal, an escape and a five-group count, plus the
// one byte of slack the length check allows.
constexpr size_t kModuleMaxFileSize = 6 * kModuleSequenceSize + 1;

enum ModuleLoadResult : int {
    kModuleLoaded = 0,
    kModuleNotFound = 1,
    kModuleWrongFormat = 2,
    kModuleOutOfMemory = 3,
    kModuleIsFolder = 4,
    kModuleNoAccess = 5,  // the file exists but may not be read
};

// The unpacked byte sequence of a Song as it stands.
std::vector<uint8_t> moduleSequence(const Song& song);
// The packed file contents of a Song as it stands (no counters touched).
std::vector<uint8_t> packModule(const Song& song);

// Decodes a packed module. On result 0 `song` is replaced by the decoded song;
// on any other result it is left untouched.
int decodeModule(const uint8_t* data, size_t size, Song& song);
inline int decodeModule(const std::vector<uint8_t>& bytes, Song& song) {
    return decodeModule(bytes.data(), bytes.size(), song);
}

// Saves the song: saveCount goes up (it stops at 65535) and `saved` becomes
// today, then the packed bytes replace the file. On failure the file on disk,
// `saveCount` and `saved` stay as they were.
bool saveModule(Song& song, const std::filesystem::path& path);
// Loads a module: 0 loaded, 1 not found, 2 wrong format, 3 out of memory,
// 4 the path is a folder, 5 permission denied. The song is replaced only on 0.
int loadModule(Song& song, const std::filesystem::path& path);

// The reason a load failed in a few words ("file not found", "is a folder",
// "permission denied", "not a module or damaged", "out of memory").
const char* moduleLoadProblemText(int result);

// The text between the last "\" or "/" and the last "." of a path.
std::string fileTitle(const std::string& path);

}  // namespace qv
