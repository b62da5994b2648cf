#include "song/file_write.h"

#include <fstream>
#include <new>
#include <string>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

bool writeFileReplacing(const fs::path& path, const uint8_t* data, size_t size) {
    std::error_code ec;
    if (path.empty() || fs::is_directory(path, ec)) return false;
    // A file marked read-only is not replaced behind the user's back.
    const fs::file_status st = fs::status(path, ec);
    if (!ec && fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none) return false;
    fs::path folder = path.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) return false;

    // A name beside the target that no other file uses yet.
    fs::path temp;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        fs::path candidate = path;
        candidate += ".tmp" + std::to_string(attempt);
        if (!fs::exists(candidate, ec) && !ec) {
            temp = candidate;
            break;
        }
    }
    if (temp.empty()) return false;

    bool written = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
            out.flush();
            written = out.good();
            out.close();
            written = written && !out.fail();
        }
    }
    if (written) {
        // The replacement keeps the permissions of the file it replaces.
        if (fs::exists(st)) fs::permissions(temp, st.permissions(), ec);
        fs::rename(temp, path, ec);
        if (!ec) return true;
    }
    fs::remove(temp, ec);
    return false;
}

ReadResult readWholeFile(const fs::path& path, size_t maxSize, std::vector<uint8_t>& out) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return ReadResult::notFound;
    std::ifstream in(path, std::ios::binary);
    if (!in) return ReadResult::notFound;
    in.seekg(0, std::ios::end);
    std::streamoff end = in.tellg();
    if (end < 0) return ReadResult::notFound;
    if (static_cast<uint64_t>(end) > maxSize) return ReadResult::tooLarge;
    in.seekg(0, std::ios::beg);
    try {
        out.assign(static_cast<size_t>(end), 0);
    } catch (const std::bad_alloc&) {
        return ReadResult::outOfMemory;
    }
    if (end > 0) in.read(reinterpret_cast<char*>(out.data()), end);
    if (in.gcount() != end) return ReadResult::notFound;
    return ReadResult::ok;
}

}  // namespace qv
