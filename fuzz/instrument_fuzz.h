// Shared body of the instrument decoder fuzz targets: whatever the bytes, a
// decoded instrument lies within the instrument's ranges.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "song/instrument_file.h"

inline int fuzzInstrumentDecoder(qv::InstrumentKind kind, const uint8_t* data, size_t size) {
    auto ins = qv::decodeInstrument(kind, data, size);
    if (!ins) return 0;
    auto check = [](bool ok) {
        if (!ok) std::abort();
    };
    check(ins->algorithm >= 0 && ins->algorithm <= 7 && ins->FB >= 0 && ins->FB <= 7);
    for (const auto& op : ins->operators) {
        check(op.MULT >= 0 && op.MULT <= 15 && op.DT >= -3 && op.DT <= 3);
        check(op.TL >= 0 && op.TL <= 127 && op.RS >= 0 && op.RS <= 3);
        check(op.AR >= 0 && op.AR <= 31 && op.DR >= 0 && op.DR <= 31 && op.SR >= 0 && op.SR <= 31);
        check(op.RR >= 0 && op.RR <= 15 && op.SL >= 0 && op.SL <= 15);
        check(op.SSGEG == 0 || (op.SSGEG >= 8 && op.SSGEG <= 15));
    }
    check(ins->nameText() == "empty");
    return 0;
}
