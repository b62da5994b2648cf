// .ins instrument decoder on arbitrary bytes: every decoded value lies within
// the instrument's ranges.
#include "instrument_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzInstrumentDecoder(qv::InstrumentKind::ins, data, size);
}
