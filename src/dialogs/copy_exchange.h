// The instrument page's copy/exchange commands for operators and for whole
// instruments. The page prepares the dialog, shows it (the dialog only reads
// names), then applies the result as one edit of the song document, which
// runs it under the song lock:
//
//     prepareCopyExchangeInstruments(form, current);
//     form.execFor(song);
//     document.edit("Copy instrument", scope, [&](Song& s) { next = copyExchangeInstruments(s, current, form); });
//
#pragma once

#include <optional>

namespace qv {

struct Song;
class TFormCopyExOp;
class TFormCopyExIns;

// The operator dialog always opens with operator #1 as its source; the
// destination stays the last one chosen.
void prepareCopyExchangeOperators(TFormCopyExOp& form);
// Source: the current instrument (index 0-254); destination: the next one,
// or the one before when the current one is the last.
void prepareCopyExchangeInstruments(TFormCopyExIns& form, int currentInstrument);

// Applies the operator dialog's result to instrument currentInstrument
// (index 0-254): Copy puts a copy of the source operator (all ten fields)
// into the destination, Exchange swaps the two. True when the instrument
// must be shown again (Copy or Exchange), false on Cancel. An operator
// copied or swapped with itself leaves the instrument as it was.
bool copyExchangeOperators(Song& song, int currentInstrument, const TFormCopyExOp& form);

// Applies the instrument dialog's result: Copy puts the whole source record
// (name included) into the destination; Exchange swaps the two records and,
// when asked and the two differ, their numbers in the played rows of every
// pattern. Returns the new current instrument (the destination, index
// 0-254), or nothing on Cancel.
std::optional<int> copyExchangeInstruments(Song& song, int currentInstrument,
                                           const TFormCopyExIns& form);

}  // namespace qv
