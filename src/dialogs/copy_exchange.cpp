#include "dialogs/copy_exchange.h"

#include <algorithm>
#include <utility>

#include "dialogs/form_copy_ex_ins.h"
#include "dialogs/form_copy_ex_op.h"
#include "song/edit_ops.h"
#include "song/song.h"

namespace qv {

namespace {

bool validIndex(int instrument) {
    return instrument >= 0 && instrument <= TFormCopyExIns::kLastInstrument;
}

bool validOperator(int op) { return op >= 0 && op < TFormCopyExOp::kOperators; }

}  // namespace

void prepareCopyExchangeOperators(TFormCopyExOp& form) { form.setSource(0); }

void prepareCopyExchangeInstruments(TFormCopyExIns& form, int currentInstrument) {
    const int current = std::clamp(currentInstrument, 0, TFormCopyExIns::kLastInstrument);
    form.setSource(current);
    form.setDestination(current + 1 > TFormCopyExIns::kLastInstrument ? current - 1
                                                                        : current + 1);
}

bool copyExchangeOperators(Song& song, int currentInstrument, const TFormCopyExOp& form) {
    if (!form.copy() && !form.exchange()) return false;
    if (!validIndex(currentInstrument)) return false;
    const int src = form.source();
    const int dst = form.destination();
    if (!validOperator(src) || !validOperator(dst)) return false;
    auto& ops = song.instruments[static_cast<size_t>(currentInstrument)].operators;
    if (src != dst) {
        if (form.copy())
            ops[static_cast<size_t>(dst)] = ops[static_cast<size_t>(src)];
        else
            std::swap(ops[static_cast<size_t>(src)], ops[static_cast<size_t>(dst)]);
    }
    return true;
}

std::optional<int> copyExchangeInstruments(Song& song, int currentInstrument,
                                           const TFormCopyExIns& form) {
    (void)currentInstrument;  // the dialog's source was preset from it
    if (!form.copy() && !form.exchange()) return std::nullopt;
    const int src = form.source();
    const int dst = form.destination();
    if (!validIndex(src) || !validIndex(dst)) return std::nullopt;
    auto& ins = song.instruments;
    if (form.copy()) {
        ins[static_cast<size_t>(dst)] = ins[static_cast<size_t>(src)];
    } else {
        std::swap(ins[static_cast<size_t>(src)], ins[static_cast<size_t>(dst)]);
        if (form.exchangeInPatterns() && src != dst)
            exchangeInstrumentNumbers(song, src + 1, dst + 1);
    }
    return dst;
}

}  // namespace qv
