// The plain live window: the memory test's window (slot 3) with its cycle,
// state and progress, pattern, the machine's RAM figures and the bytes
// written and verified. For any other slot it shows only the cycle line.
#pragma once

class Run;

#include "TestWindowBase.h"

#include <cstdint>

class TestWindow : public TestWindowBase {
    Q_OBJECT

public:
    TestWindow(const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    void refreshMemory();

    // The free RAM at the latest refresh.
    std::uint64_t m_freeRam = 0;
};
