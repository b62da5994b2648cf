// The byte-oriented run-length coding of module files.
//
// Writer: a run of N > 2 equal bytes becomes the byte, the escape 0x80 and the
// count N; a run of two stays two literals; a data byte 0x80 is always written
// as 0x80 0x80 and never starts a run. Counts are 7-bit groups, least
// significant first, with bit 7 set on the last group (3 -> 0x83,
// 200 -> 0x48 0x81).
//
// Reader: the inverse, one byte per call. It never reads past the end of its
// buffer; a truncated stream or a malformed count sets `failed` and from then
// on every call yields 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

class PackStream {
public:
    static constexpr uint8_t escape = 0x80;
    static constexpr int none = -1;  // `last` when no byte can equal it
    static constexpr size_t growStep = 16384;
    static constexpr int maxCountGroups = 5;

    // ---- writing ----
    PackStream() { buffer.reserve(growStep); }
    void writeByte(uint8_t b) {
        if (b == last) {
            ++run;
            return;
        }
        closeRun();
        literal(b);
    }
    // Closes the pending run; call once after the last byte.
    void finish() { closeRun(); run = 0; last = none; }

    // ---- reading: over bytes the caller keeps alive ----
    PackStream(const uint8_t* data, size_t size) : input(data), inputSize(size) {}
    uint8_t readByte();
    // n calls of readByte, with runs filled in one step; returns how many
    // bytes were produced before a failure.
    size_t readBytes(uint8_t* out, size_t n);
    bool failed = false;

    std::vector<uint8_t> buffer;  // written bytes
    const uint8_t* input = nullptr;
    size_t inputSize = 0;
    int last = none;
    uint32_t run = 0;
    size_t position = 0;

private:
    void closeRun();
    void literal(uint8_t b);
    void put(uint8_t b) {
        if (buffer.capacity() - buffer.size() < 8) buffer.reserve(buffer.capacity() + growStep);
        buffer.push_back(b);
    }
    void writeCount(uint32_t n);
    bool readCount(uint32_t& n);
};

// Whole-buffer helpers.
std::vector<uint8_t> packBytes(const uint8_t* data, size_t size);
// Unpacks exactly `count` bytes; false when the stream is malformed or ends
// early. `consumed` receives the reader's final position.
bool unpackBytes(const uint8_t* data, size_t size, size_t count, std::vector<uint8_t>& out,
                 size_t* consumed = nullptr);

}  // namespace qv
