// The live window of the CPU maths test (slot 1): the operations executed
// and verified so far by all its threads, per operation kind, in millions
// (2^20).
#pragma once

class Run;

#include "TestWindowMath_Base.h"

class QLabel;

class TestWindow_Math : public TestWindowMath_Base {
    Q_OBJECT

public:
    TestWindow_Math(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    // Executed and verified value labels by MathOp.
    QLabel* m_executed[8];
    QLabel* m_verified[8];
};
