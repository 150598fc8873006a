#include "core/tool_state.h"

ToolState toolState;

void InitToolState()
{
    constexpr auto r = std::memory_order_relaxed;
    MeasureSettings& s = toolState.settings;
    s.minCount.store(kDefaultMinCount, r);
    s.minDuration.store(kDefaultMinDuration, r);
    s.plusTrigger.store(kDefaultPlusTrigger, r);
    s.minusTrigger.store(kDefaultMinusTrigger, r);
    s.validDuration.store(kDefaultValidDuration, r);
    s.displayInterval.store(kDefaultDisplayInterval, r);

    MeasureResult& m = toolState.result;
    m.frequencyHz.store(0.0, r);
    m.levelDb.store(0.0, r);
    m.newResult.store(0, r);

    toolState.view.chartColumn = 0;
    toolState.view.zoom = 1;
    toolState.view.showSettings = 0;
}
