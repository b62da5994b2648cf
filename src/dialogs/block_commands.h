// The Edit menu's clean-up commands for instruments and patterns, with their
// questions, and one include for every block dialog command.
#pragma once

#include <functional>

#include "app/app_context.h"
#include "dialogs/block_box.h"
#include "dialogs/form_duplicate.h"
#include "dialogs/form_scale.h"
#include "dialogs/form_transpose.h"

namespace qv {

// "Cleanup instruments": resets every instrument that no pattern uses.
// When some were reset, instrumentsChanged runs (the instrument list is
// refreshed) and the question offers to rearrange the instruments. Returns
// how many were reset.
int cleanupInstrumentsCommand(AppContext& ctx, const QuestionBoxFn& ask,
                              const std::function<void()>& instrumentsChanged = {});
// "Rearrange instruments": packs the used instruments at the lowest numbers.
void rearrangeInstrumentsCommand(AppContext& ctx);
// "Rearrange patterns": after the warning question, renumbers the patterns
// by first appearance in the order list and clears the unused ones. True
// when it ran (the pattern view and the order list need a refresh).
bool rearrangePatternsCommand(AppContext& ctx, const QuestionBoxFn& ask);

}  // namespace qv
