#include "TestPreferenceBase.h"

#include "ui_TestPreferenceBase.h"

TestPreferenceBase::TestPreferenceBase(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TestPreferenceBase>())
{
    ui->setupUi(this);
    // The ids are the values stored in the configuration; a form file cannot
    // carry them.
    const struct {
        QButtonGroup* group;
        QAbstractButton* button;
        int id;
    } ids[] = {
        { ui->buttonGroupPreTestLog, ui->radioButtonLogAccumAppend, 1 },
        { ui->buttonGroupPreTestLog, ui->radioButtonLogClearAppend, 0 },
        { ui->buttonGroupPreTestLog, ui->radioButtonLogClearNew, 2 },
        { ui->buttonGroupFileFormat, ui->radioButtonFileFormatA, 1 },
        { ui->buttonGroupFileFormat, ui->radioButtonFileFormatH, 2 },
        { ui->buttonGroupOption, ui->radioButtonOptionMultiple, 1 },
        { ui->buttonGroupOption, ui->radioButtonOptionSingle, 0 },
        { ui->buttonGroupNetworkTestType, ui->radioButtonNetworkStandard, 0 },
        { ui->buttonGroupNetworkErrorOption, ui->radioButtonErrorPacket, 0 },
        { ui->buttonGroupNetworkErrorOption, ui->radioErrorRatio, 1 },
        { ui->buttonGroup_CDROM_TestConfig, ui->radioButton_CDROM_BlockAutoplay, 0 },
        { ui->buttonGroup_CDROM_TestConfig, ui->radioButton_CDROM_AllowAutoplay, 1 },
        { ui->buttonGroup_SerialPort_AddPort, ui->radioButton_SerialPort_DetectLoopback, 1 },
        { ui->buttonGroup_SerialPort_AddPort, ui->radioButton_SerialPort_DetectOnly, 2 },
        { ui->buttonGroup_Parallel, ui->radioButton_ParallelPort_DetectOnly, 1 },
        { ui->buttonGroup_Parallel, ui->radioButton_ParallelPort_DetectLoopback, 0 },
        { ui->buttonGroup_Errors_ActionOnError, ui->radioButton_Errors_Continue, 0 },
        { ui->buttonGroup_Errors_ActionOnError, ui->radioButton_Errors_BeepContinue, 1 },
        { ui->buttonGroup_Errors_ActionOnError, ui->radioButton_Errors_AutoStopTests, 2 },
        { ui->buttonGroup_PreTest, ui->radioButton_PreTest_None, 0 },
        { ui->buttonGroup_PreTest, ui->radioButton_PreTest_Warn, 1 },
    };
    for (const auto& i : ids)
        i.group->setId(i.button, i.id);
}

TestPreferenceBase::~TestPreferenceBase() = default;
