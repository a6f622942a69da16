#include "TestWindow_Math.h"

#include "CTest_Math.h"
#include "Run.h"
#include "ui_TestWindowMath_Base.h"

static_assert(kNumMathOps == 8);

TestWindow_Math::TestWindow_Math(const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowMath_Base(run, slot, parent, flags)
    , m_executed { ui->textLabel_Math_Addition_Executed, ui->textLabel_Math_Subtraction_Executed,
        ui->textLabel_Math_Multiplication_Executed, ui->textLabel_Math_Division_Executed,
        ui->textLabel_Math_FPAddition_Executed, ui->textLabel_Math_FPSubtraction_Executed,
        ui->textLabel_Math_FPMultiplication_Executed, ui->textLabel_Math_FPDivision_Executed }
    , m_verified { ui->textLabel_Math_Addition_Verified, ui->textLabel_Math_Subtraction_Verified,
        ui->textLabel_Math_Multiplication_Verified, ui->textLabel_Math_Division_Verified,
        ui->textLabel_Math_FPAddition_Verified, ui->textLabel_Math_FPSubtraction_Verified,
        ui->textLabel_Math_FPMultiplication_Verified, ui->textLabel_Math_FPDivision_Verified }
{
    finishSetUp(name);
}

void TestWindow_Math::refreshLabels()
{
    const MathLive& live = m_run.live<MathLive>(slot());
    for (int op = 0; op < kNumMathOps; ++op) {
        // The test keeps one count per operation; both columns show it.
        const QString mb = QString::asprintf("%.2f", static_cast<double>(live.TotalOperations(op)) / 1048576);
        setLabelText(m_executed[op], mb);
        setLabelText(m_verified[op], mb);
    }
}
