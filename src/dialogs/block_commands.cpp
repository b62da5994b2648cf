#include "dialogs/block_commands.h"

#include <mutex>

namespace qv {

void rearrangeInstrumentsCommand(AppContext& ctx) {
    std::lock_guard<std::mutex> lock(ctx.player.songMutex());
    rearrangeInstruments(*ctx.song);
}

int cleanupInstrumentsCommand(AppContext& ctx, const QuestionBoxFn& ask,
                              const std::function<void()>& instrumentsChanged) {
    int removed;
    {
        std::lock_guard<std::mutex> lock(ctx.player.songMutex());
        removed = cleanupInstruments(*ctx.song);
    }
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
    std::lock_guard<std::mutex> lock(ctx.player.songMutex());
    rearrangePatterns(*ctx.song);
    const OrderList& order = ctx.song->order;
    if (ctx.view.orderCursor < order.length)
        ctx.view.currentPattern = order.entries[ctx.view.orderCursor].pattern;
    ctx.player.songLengthFrames();
    return true;
}

}  // namespace qv
