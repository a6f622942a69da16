#include "TestSlots.h"

#include "AtomicField.h"
#include "ResultRecord.h"

#include "Run.h"
#include "RunContext.h"

namespace {

bool isSwitchSlot(int slot)
{
    for (const EngineInfo* engine : Engines())
        if (engine->switchSlot == slot)
            return true;
    return false;
}

} // namespace

bool SlotGroup(int slot, int* firstSlot, int* switchSlot)
{
    const EngineInfo* engine = EngineFor(slot);
    if (!engine || engine->switchSlot < 0)
        return false;
    if (firstSlot)
        *firstSlot = engine->firstSlot;
    if (switchSlot)
        *switchSlot = engine->switchSlot;
    return true;
}

bool performTest(const _testconfig& config, int slot)
{
    if (slot < 0 || slot >= kNumSlots)
        return false;
    if (relaxedLoad(config.test_enabled[slot]) == 0)
        return false;
    if (isSwitchSlot(slot))
        return false;
    int switchSlot = 0;
    if (SlotGroup(slot, nullptr, &switchSlot))
        return relaxedLoad(config.test_enabled[switchSlot]) == 1;
    return true;
}

bool KVXComplete(const RunContext& ctx, std::time_t now)
{
    // A reading over the thermal limit ends the run whatever the rules say.
    if (ctx.run.health.stopRequested())
        return true;
    const float minutes = relaxedLoad(ctx.config.auto_stop_time);
    bool timeRule = false;
    if (minutes != 0.0f) {
        const double elapsed = static_cast<double>(now - relaxedLoad(ctx.results.run_start_time));
        timeRule = elapsed >= static_cast<double>(minutes) * 60.0;
    }
    const std::uint32_t cycles = static_cast<std::uint32_t>(relaxedLoad(ctx.config.auto_stop_cycles));
    if (cycles == 0)
        return timeRule;

    // Every slot whose test is still running must have done the cycles. A
    // slot counts once however many threads it has, and slots without a
    // running test (no engine, or one that ended by itself) are passed over:
    // they would otherwise keep the run from ever completing. With nothing
    // running at all the rule is met.
    int running = 0;
    int done = 0;
    for (int slot = 0; slot < kNumNamedSlots - 1; ++slot) {
        if (!performTest(ctx.config, slot) || !ctx.run.slotActive(slot))
            continue;
        ++running;
        if (relaxedLoad(ctx.results.results[slot].cycles) >= cycles)
            ++done;
    }
    const bool cycleRule = done == running;
    return timeRule || cycleRule;
}

bool KVXComplete(const RunContext& ctx)
{
    return KVXComplete(ctx, std::time(nullptr));
}
