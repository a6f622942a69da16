// What core knows of the 2D and 3D graphics tests. Their code needs the GUI
// libraries and lives in src/gfx; the program supplies their thread
// entries through its run context.
#include "GraphicsEngines.h"

#include "ConfigRecord.h"
#include "EngineInfo.h"

namespace {

constexpr int kGraphics2DErrors[] = { kGraphics2DErrorNoImage, kGraphics2DErrorNoPoints };
constexpr int kGraphics3DErrors[] = { kGraphics3DErrorNoOpenGL };

} // namespace

extern const EngineInfo kGraphics2DEngine = {
    .name = "2D Graphics",
    .firstSlot = kSlot2D,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 3000,
    .unitName = "window",
    .unitText = nullptr,
    .preRunNote = nullptr,
    .window = LiveWindowKind::Graphics2D,
    .icon = ":/icons/2d.png",
    .entry = nullptr,
    .makeLive = [] { return std::unique_ptr<LiveStatus>(std::make_unique<Graphics2DLive>()); },
    .errorCodes = kGraphics2DErrors,
    .commandName = "2d",
};

extern const EngineInfo kGraphics3DEngine = {
    .name = "3D Graphics",
    .firstSlot = kSlot3D,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 20000,
    .unitName = "window",
    .unitText = nullptr,
    .preRunNote = nullptr,
    .window = LiveWindowKind::Graphics3D,
    .icon = ":/icons/3d.png",
    .entry = nullptr,
    .makeLive = [] { return std::unique_ptr<LiveStatus>(std::make_unique<Graphics3DLive>()); },
    .errorCodes = kGraphics3DErrors,
    .commandName = "3d",
};
