#include "song/pack_stream.h"

#include <algorithm>
#include <cstring>

namespace qv {

void PackStream::writeCount(uint32_t n) {
    while (n >= 0x80) {
        put(static_cast<uint8_t>(n & 0x7F));
        n >>= 7;
    }
    put(static_cast<uint8_t>(n | 0x80));
}

void PackStream::closeRun() {
    if (run > 2) {
        put(escape);
        writeCount(run);
    } else if (run == 2) {
        put(static_cast<uint8_t>(last));
    }
}

void PackStream::literal(uint8_t b) {
    put(b);
    run = 1;
    if (b == escape) {
        // The escape byte itself is doubled and never run-coded.
        put(escape);
        last = none;
    } else {
        last = b;
    }
}

bool PackStream::readCount(uint32_t& n) {
    n = 0;
    for (int group = 0; group < maxCountGroups; ++group) {
        if (position >= inputSize) return false;
        uint8_t b = input[position++];
        uint32_t bits = b & 0x7Fu;
        // The fifth group may only carry the top 4 bits of 32.
        if (group == maxCountGroups - 1 && bits > 0x0F) return false;
        n |= bits << (7 * group);
        if (b & 0x80) return true;
    }
    return false;
}

uint8_t PackStream::readByte() {
    if (failed) return 0;
    if (run > 1) {
        --run;
        return static_cast<uint8_t>(last);
    }
    if (position >= inputSize) {
        failed = true;
        return 0;
    }
    uint8_t b = input[position++];
    if (b != escape) {
        last = b;
        return b;
    }
    uint32_t count = 0;
    if (!readCount(count)) {
        failed = true;
        return 0;
    }
    if (count == 0) return escape;  // a literal 0x80; `last` stays as it was
    if (last == none) {
        // A repeat with nothing to repeat.
        failed = true;
        return 0;
    }
    run = count - 1;
    return static_cast<uint8_t>(last);
}

size_t PackStream::readBytes(uint8_t* out, size_t n) {
    size_t i = 0;
    while (i < n && !failed) {
        if (run > 1) {
            const size_t k = std::min<size_t>(run - 1, n - i);
            std::memset(out + i, last, k);
            run -= static_cast<uint32_t>(k);
            i += k;
            continue;
        }
        // Plain literals, the common case, without the per-byte call.
        // Locals, so the byte stores cannot be taken to alias the members.
        const uint8_t* in = input;
        size_t pos = position;
        const size_t stop = std::min(inputSize, pos + (n - i));
        const size_t start = pos;
        while (pos < stop && in[pos] != escape) ++pos;
        if (pos != start) {
            std::memcpy(out + i, in + start, pos - start);
            i += pos - start;
            position = pos;
            last = in[pos - 1];
            continue;
        }
        const uint8_t b = readByte();
        if (!failed) out[i++] = b;
    }
    return i;
}

std::vector<uint8_t> packBytes(const uint8_t* data, size_t size) {
    // The same coding as writeByte/finish, one run at a time.
    std::vector<uint8_t> out(2 * size + 16);
    uint8_t* o = out.data();
    size_t i = 0;
    while (i < size) {
        const uint8_t b = data[i];
        *o++ = b;
        // A single byte that starts no run, the common case in busy patterns.
        if (b != PackStream::escape && (i + 1 == size || data[i + 1] != b)) {
            ++i;
            continue;
        }
        if (b == PackStream::escape) {
            *o++ = PackStream::escape;
            ++i;
            continue;
        }
        const size_t limit = i + std::min<size_t>(size - i, 0xFFFFFFFFu);
        size_t j = i + 1;
        while (j < limit && data[j] == b) ++j;
        uint32_t n = static_cast<uint32_t>(j - i);
        if (n == 2) {
            *o++ = b;
        } else if (n > 2) {
            *o++ = PackStream::escape;
            while (n >= 0x80) {
                *o++ = static_cast<uint8_t>(n & 0x7F);
                n >>= 7;
            }
            *o++ = static_cast<uint8_t>(n | 0x80);
        }
        i = j;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

bool unpackBytes(const uint8_t* data, size_t size, size_t count, std::vector<uint8_t>& out,
                 size_t* consumed) {
    PackStream s(data, size);
    out.resize(count);
    s.readBytes(out.data(), count);
    if (consumed) *consumed = s.position;
    return !s.failed;
}

}  // namespace qv
