// The graphics tests as the program sees them: their thread entries and
// their windows. Core's slot table cannot name them (core has no Qt), so
// the program registers them at start-up.
#pragma once

class QWidget;
class Run;
#include "EngineInfo.h"

class QWidget;
class RunContext;

extern const EngineInfo kGraphics2DEngine, kGraphics3DEngine;

// Sets Test_Thread_2DGraphics and Test_Thread_OpenGL as the thread entries
// of the 2D and 3D engines in `ctx`. GUI thread, before the first run.
void RegisterGraphicsTests(RunContext& ctx);

// Creates the live window of slot 4 (which hands its canvas to the 2D
// thread through `run`) or slot 5; null for every other slot. Top-level,
// not shown. GUI thread, before the slot's thread starts.
QWidget* CreateGraphicsWindow(const Run& run, int slot);

// Makes the embedded images (blit image, window icons) loadable. Any
// thread, any number of times.
void InitGraphicsResources();
