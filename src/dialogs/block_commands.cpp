#include "dialogs/block_commands.h"


namespace qv {

namespace {
// The instrument clean-ups renumber the instruments in every pattern.
SongChange instrumentsAndPatterns() {
    SongChange scope = SongChange::allPatterns();
    scope.parts |= SongChange::Instrument;
    return scope;
}
}  // namespace

void rearrangeInstrumentsCommand(AppContext& ctx) {
    ctx.document.edit("Rearrange instruments", instrumentsAndPatterns(),
                      [](Song& song) { rearrangeInstruments(song); });
}

int cleanupInstrumentsCommand(AppContext& ctx, const QuestionBoxFn& ask,
                              const std::function<void()>& instrumentsChanged) {
    int removed = 0;
    ctx.document.edit("Clean up instruments", SongChange::instrumentPart(-1),
                      [&](Song& song) { removed = cleanupInstruments(song); });
    if (removed == 0) return 0;
    if (instrumentsChanged) instrumentsChanged();
    ctx.layout.clearKeyState();
    const QString text =
        QString::number(removed) + QStringLiteral(" unused instruments were removed.\nRearrange instruments by order?");
    if (ask && ask(text, QStringLiteral("Complete"))) {
        rearrangeInstrumentsCommand(ctx);
        if (instrumentsChanged) instrumentsChanged();
    }
    return removed;
}

bool rearrangePatternsCommand(AppContext& ctx, const QuestionBoxFn& ask) {
    ctx.layout.clearKeyState();
    if (!ask || !ask(QStringLiteral("All unused patterns will be deleted. Continue?"), QStringLiteral("Warning")))
        return false;
    ctx.document.edit("Rearrange patterns", SongChange::wholeSong(), [](Song& song) { rearrangePatterns(song); });
    const OrderList& order = ctx.document.song().order;
    if (ctx.view.orderCursor < order.length)
        ctx.view.currentPattern = order.entries[ctx.view.orderCursor].pattern;
    return true;
}

}  // namespace qv
