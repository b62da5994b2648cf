// Module decoder on arbitrary bytes: it must give a result code without
// reading past the input, and a decoded song must lie within the Song's ranges.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "song/module_file.h"

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One target song for the whole run: building a fresh 3 MB Song for every
    // input would dominate the time per input.
    static const auto song = std::make_unique<qv::Song>();
    const int result = qv::decodeModule(data, size, *song);
    check(result >= 0 && result <= 3);
    if (result != qv::kModuleLoaded) return 0;
    const qv::Song& s = *song;
    check(s.speedEven >= 1 && s.speedEven <= 15 && s.speedOdd >= 1 && s.speedOdd <= 15);
    check(s.interleave >= 1 && s.interleave <= 255);
    check(s.order.length >= 1 && s.order.length <= 256);
    check(s.order.loopPosition >= 0 && s.order.loopPosition < s.order.length);
    check(s.trackName.back() == 0 && s.author.back() == 0 && s.message.back() == 0);
    for (const auto& ins : s.instruments) {
        check(ins.algorithm >= 0 && ins.algorithm <= 7 && ins.FB >= 0 && ins.FB <= 7);
        for (const auto& op : ins.operators)
            check(op.MULT >= 0 && op.MULT <= 15 && op.DT >= -3 && op.DT <= 3 && op.TL >= 0 && op.TL <= 127 &&
                  op.RS >= 0 && op.RS <= 3 && op.AR >= 0 && op.AR <= 31 && op.DR >= 0 && op.DR <= 31 &&
                  op.SR >= 0 && op.SR <= 31 && op.RR >= 0 && op.RR <= 15 && op.SL >= 0 && op.SL <= 15 &&
                  (op.SSGEG == 0 || (op.SSGEG >= 8 && op.SSGEG <= 15)));
    }
    for (const auto& p : s.patterns) check(p.length >= 1 && p.length <= 256);
    // Every cell of every pattern per input would cost more than the decoding
    // itself; the first and last patterns and those of the first order
    // entries carry the mutated bytes of small inputs.
    auto checkPattern = [](const qv::Pattern& p) {
        for (const auto& row : p.rows)
            for (const auto& c : row) {
                if (c.hasNote())
                    check(c.pitch() >= 0 && c.pitch() <= qv::kMaxPitch);
                else
                    check(c.note == qv::kNoteKeyOff || c.note == qv::kNoteEmpty);
                check(c.volume >= 0 && c.volume <= 31 && c.effect >= 0 && c.effect <= 15);
                check(c.instrument >= 0 && c.instrument <= 255);
            }
    };
    checkPattern(s.patterns[0]);
    checkPattern(s.patterns[255]);
    for (int i = 0; i < 2; ++i) checkPattern(s.patterns[s.order.entries[i].pattern]);
    return 0;
}
