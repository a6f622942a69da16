// The 3D graphics test: the test thread moves the scene of the 3D
// window one step and asks for a repaint every 100 ms; the GUI thread renders
// the frame (COpenGLWidget). Every 200 rendered frames make one cycle, after
// which the test pauses for its duty-cycle delay.
//
// Typical usage:
//   1. The run start checks that the display offers OpenGL (error 206 on
//      the slot when not), creates the COpenGLWidget, then starts
//      Test_Thread_OpenGL.
//   2. test_entry marks the slot active, sets renderCount to 0 and steps
//      the animation until the slot is stopped.
//   3. The GUI asks for a stop by clearing the slot's active flag; the test
//      notices within one 10 ms slice.
//
// Threadsafety: the animation state and renderCount (Graphics3DLive) are
// atomics shared with the GUI thread; the GL context is the GUI thread's
// alone.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "GraphicsEngines.h"

class CTest_OpenGL : public CTest_Base {
public:
    static constexpr int kStepMs = 100;
    static constexpr int kFramesPerCycle = 200;

    CTest_OpenGL(const RunContext& ctx, int testID);

    // Counts the test as running, marks the slot active, runs the loop.
    void test_entry(int instance) override;

    // Advances the animation state by one step: 10 degrees of turn, 10 of
    // displacement towards the end it is heading for, 1 degree of light.
    // The test thread (one writer).
    void computeAnimateParam();

private:
    Graphics3DLive& m_live;
    int m_testNumber;
    char m_name[100] = {};
};

// Thread entry of the 3D slot.
void* Test_Thread_OpenGL(void* arg);
