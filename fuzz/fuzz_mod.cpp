// MOD reader on arbitrary bytes: must never read past the input, and an
// accepted file must give a Song within its capacities.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "io/mod_import.h"
#include "song/song.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader must not rely on bytes beyond size: give it an exact copy.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    for (size_t i = 0; i < size; ++i) copy[i] = data[i];
    static auto song = std::make_unique<qv::Song>();
    if (qv::importModData(copy.get(), size, "fuzz.mod", *song)) {
        const qv::OrderList& o = song->order;
        if (o.length < 1 || o.length > 128 || o.loopPosition < 0 || o.loopPosition >= o.length) std::abort();
        for (int i = 0; i < o.length; ++i) {
            const qv::Pattern& p = song->patterns[o.entries[i].pattern];
            if (p.length < 1 || p.length > 64) std::abort();
            for (int r = 0; r < p.length; ++r)
                for (const qv::Cell& c : p.rows[r]) {
                    if (c.hasNote() && (c.octave < 1 || c.octave > 7)) std::abort();
                    if (c.volume < 0 || c.volume > 31 || c.effect < 0 || c.effect > 15) std::abort();
                }
        }
    }
    return 0;
}
