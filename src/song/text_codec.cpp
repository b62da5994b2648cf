#include "song/text_codec.h"

namespace qv {

namespace {

// Length of the UTF-8 sequence starting at s[i] and its code point; 0 when
// the bytes there are no well-formed sequence.
size_t decodeUtf8(std::string_view s, size_t i, char32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = b(0);
    size_t n = 0;
    if (lead >= 0xC2 && lead <= 0xDF) n = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) n = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) n = 4, cp = lead & 0x07;
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

std::string latin1FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        const size_t n = byte < 0x80 ? 0 : decodeUtf8(utf8, i, cp);
        if (n == 0) {
            out.push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
        i += n;
    }
    return out;
}

std::string utf8FromLatin1(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() * 2);
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | byte >> 6));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

}  // namespace qv
