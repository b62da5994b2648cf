#include "song/file_write.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

// Removes NAME.tmpN (N one or more digits) beside the target NAME.
void removeStaleTemporaries(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string prefix = path.filename().string() + ".tmp";
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) continue;
        if (it->is_regular_file(ec)) stale.push_back(it->path());
    }
    for (const fs::path& file : stale) fs::remove(file, ec);
}

}  // namespace

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
        if (!ec) {
            removeStaleTemporaries(path);
            return true;
        }
    }
    fs::remove(temp, ec);
    return false;
}

ReadResult readWholeFile(const fs::path& path, size_t maxSize, std::vector<uint8_t>& out) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (fs::is_directory(st)) return ReadResult::isFolder;
    if (!fs::exists(st)) return ReadResult::notFound;
    if (!fs::is_regular_file(st)) return ReadResult::notFound;
    // The size is checked before the file is opened, let alone read.
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return ReadResult::notFound;
    if (size > maxSize) return ReadResult::tooLarge;

    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.string().c_str(), "rb"), &std::fclose);
    if (!file) return errno == EACCES || errno == EPERM ? ReadResult::noAccess : ReadResult::notFound;
    try {
        out.assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return ReadResult::outOfMemory;
    }
    // The file may have changed since it was measured: read what is there.
    const size_t got = size > 0 ? std::fread(out.data(), 1, out.size(), file.get()) : 0;
    if (std::ferror(file.get())) return errno == EISDIR ? ReadResult::isFolder : ReadResult::notFound;
    out.resize(got);
    return ReadResult::ok;
}

const char* readProblemText(ReadResult result) {
    switch (result) {
        case ReadResult::ok: return "";
        case ReadResult::notFound: return "file not found";
        case ReadResult::tooLarge: return "file too large";
        case ReadResult::outOfMemory: return "out of memory";
        case ReadResult::isFolder: return "is a folder";
        case ReadResult::noAccess: return "permission denied";
    }
    return "";
}

}  // namespace qv
