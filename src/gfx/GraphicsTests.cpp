#include "GraphicsTests.h"

#include "CGraphicsWidget.h"
#include "COpenGLWidget.h"
#include "CTest_2DGraphics.h"
#include "CTest_OpenGL.h"
#include "RunContext.h"
#include "EngineInfo.h"
#include "TestSlots.h"

#include <mutex>

// The images live in a static library; nothing else references the compiled
// resource, so the linker would drop it without this call. Q_INIT_RESOURCE
// must be used outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(gfx);
}

void InitGraphicsResources()
{
    static std::once_flag once;
    std::call_once(once, initResources);
}

void RegisterGraphicsTests(RunContext& ctx)
{
    InitGraphicsResources();
    ctx.setEntry(kGraphics2DEngine, Test_Thread_2DGraphics);
    ctx.setEntry(kGraphics3DEngine, Test_Thread_OpenGL);
}

QWidget* CreateGraphicsWindow(const Run& run, int slot)
{
    const EngineInfo* engine = EngineFor(slot);
    const LiveWindowKind kind = engine ? engine->window : LiveWindowKind::None;
    if (kind == LiveWindowKind::Graphics2D)
        return new CGraphicsWidget(run, slot);
    if (kind == LiveWindowKind::Graphics3D)
        return new COpenGLWidget(run, slot);
    return nullptr;
}
