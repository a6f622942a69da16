// The live window of one network address (slots 28..31): the host pinged,
// cycle, megabytes sent and received, the reply delays, the flow rate since
// the unit started and the errors with the share of bad exchanges.
#pragma once

class Run;
struct NetworkLive;

#include "TestWindowBase_Network.h"

class TestWindow_Network : public TestWindowBase_Network {
    Q_OBJECT

public:
    TestWindow_Network(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    const NetworkLive& m_live;
    int m_unit;
};

// The configured address of network unit `unit`.
QString NetworkAddressText(int unit);
