#include "song/song.h"

#include <cstdio>
#include <ctime>

namespace qv {

void Pattern::clear() {
    for (auto& row : rows) row.fill(Cell{});
    length = kDefaultPatternLength;
}

std::string Instrument::nameText() const { return textField(name); }

void Instrument::setName(const std::string& text) {
    name.fill(0);
    for (size_t i = 0; i < text.size() && i < kInstrumentNameSize; ++i) name[i] = text[i];
}

uint16_t packDate(int day, int month, int year) {
    return static_cast<uint16_t>((day & 31) << 11 | ((month - 1) & 15) << 7 | (year % 100));
}

uint16_t todayPacked() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return packDate(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
}

std::string packedDateText(uint16_t date) {
    if (date == 0) return "--.--.--";
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d", date >> 11, ((date >> 7) & 15) + 1, date & 127);
    return text;
}

void Song::clear() {
    for (auto& p : patterns) p.clear();
    order = OrderList{};
    instruments.fill(Instrument{});
    speedEven = 3;
    speedOdd = 3;
    interleave = 1;
    trackName.fill(0);
    author.fill(0);
    message.fill(0);
    created = todayPacked();
    saved = 0;
    saveCount = 0;
}

std::optional<int> Song::firstFreeInstrument() const {
    for (int i = 1; i <= kInstruments; ++i)
        if (instrumentIsFree(i)) return i;
    return std::nullopt;
}

std::string Song::trackNameText() const { return textField(trackName); }
std::string Song::authorText() const { return textField(author); }
std::string Song::messageText() const { return textField(message); }
void Song::setTrackName(const std::string& text) { setTextField(trackName, text); }
void Song::setAuthor(const std::string& text) { setTextField(author, text); }
void Song::setMessage(const std::string& text) { setTextField(message, text); }

}  // namespace qv
