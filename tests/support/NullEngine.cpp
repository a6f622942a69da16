#include "NullEngine.h"

NullEngineScript gNullScript;

namespace {

std::string nullNote(const RunContext&)
{
    return "\n* The null engine needs nothing\n";
}

} // namespace

extern const EngineInfo kNullEngine = {
    .name = "Null engine",
    .firstSlot = 57,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 1000,
    .unitName = "unit",
    .unitText = nullptr,
    .preRunNote = nullNote,
    .window = LiveWindowKind::None,
    .icon = nullptr,
    .entry = Test_Thread_Null,
    .makeLive = nullptr,
    .errorCodes = {},
};
