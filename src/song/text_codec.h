// The Song's texts (title, author, message, instrument names) are 8-bit,
// one Latin-1 character a byte. Everything that meets them from outside
// (the user interface, file names, which are UTF-8) goes through these two.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// UTF-8 to Latin-1 bytes: characters beyond Latin-1 become '?'. Bytes that
// are no valid UTF-8 are kept as they are (a file name already in Latin-1).
std::string latin1FromUtf8(std::string_view utf8);
// Latin-1 bytes to UTF-8.
std::string utf8FromLatin1(std::string_view latin1);

}  // namespace qv
