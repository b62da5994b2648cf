// Where the Song's 8-bit texts meet QString: Latin-1 both ways, through the
// core's one conversion (characters beyond Latin-1 become '?').
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "song/text_codec.h"

namespace qv {

inline QString songText(std::string_view latin1) { return QString::fromStdString(utf8FromLatin1(latin1)); }
inline std::string songBytes(const QString& text) { return latin1FromUtf8(text.toStdString()); }

}  // namespace qv
