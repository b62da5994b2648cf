// Keyboard layout parser: any text loads, and key messages derived from the
// same bytes never leave a command state outside 0-2.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "io/keyboard_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qv::KeyboardLayout layout;
    if (!layout.loadFromText(text)) std::abort();
    if (layout.bindings().size() > static_cast<size_t>(qv::KeyboardLayout::kMaxBindings)) std::abort();
    if (layout.name().size() > qv::KeyboardLayout::kMaxNameLength) std::abort();

    // The last bytes double as a key script: even bytes press, odd release.
    const size_t script = size < 64 ? size : 64;
    for (size_t i = size - script; i < size; ++i) {
        const int code = data[i] >> 1 | (data[i] & 1) << 7;
        if (data[i] & 1)
            layout.keyUp(code);
        else
            layout.keyDown(code);
        for (int c = 0; c < qv::cmd::Count; ++c) {
            const int s = layout.state(c);
            if (s < 0 || s > 2) std::abort();
        }
    }
    layout.clearKeyState();
    for (int c = 0; c < qv::cmd::Count; ++c)
        if (layout.state(c) != 0) std::abort();
    return 0;
}
