#include "Run.h"

#include "EngineInfo.h"

Run::Run()
{
    for (const EngineInfo* engine : Engines())
        if (engine->makeLive)
            for (int unit = 0; unit < engine->units; ++unit)
                m_live[engine->slotOf(unit)] = engine->makeLive();
}
