// Whole-file reading and replacing writes shared by the module and
// instrument files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace qv {

// Writes the bytes to a temporary file in the target's folder and renames it
// over the target only after the whole write succeeded. On failure the
// previous file is left as it was and the temporary file is removed. A target
// marked read-only is refused. After a successful write, temporary files of
// the same target left behind by an earlier save that never finished
// (NAME.tmpN) are removed.
bool writeFileReplacing(const std::filesystem::path& path, const uint8_t* data, size_t size);
inline bool writeFileReplacing(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    return writeFileReplacing(path, bytes.data(), bytes.size());
}

enum class ReadResult { ok, notFound, tooLarge, outOfMemory, isFolder, noAccess };
// Reads a regular file whole; files larger than maxSize are refused before
// anything is read. A folder, a file the user may not read and a missing
// file are told apart.
ReadResult readWholeFile(const std::filesystem::path& path, size_t maxSize, std::vector<uint8_t>& out);
// The reason in a few words: "file not found", "is a folder",
// "permission denied", "file too large", "out of memory"; "" for ok.
const char* readProblemText(ReadResult result);

}  // namespace qv
