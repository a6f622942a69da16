// The machine ID dialog driven through its real widgets: what reaches
// resultfile, what reaches "machineid.dat", and what the user is told.
#include "Window_EditMachineID.h"

#include "QtTestUtils.h"
#include "ResultRecord.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

namespace {

using Texts = std::tuple<std::string, std::string, std::string>; // type, serial, notes
const Texts kOld { "Old type", "Old serial", "Old notes\nsecond line" };
const Texts kNew { "Tower 3000", "ABC-123", "Fan replaced\nRAM swapped" };

Texts stored()
{
    return { resultfile.machine_type, resultfile.machine_serial, resultfile.notes };
}

class MachineIdDialog : public ::testing::Test {
protected:
    // kOld in resultfile for the dialog to load; what was there comes back.
    MachineIdDialog() { std::memcpy(&saved, &resultfile, sizeof saved), std::apply(SetMachineId, kOld); }
    ~MachineIdDialog() override { std::memcpy(&resultfile, &saved, sizeof saved); }
    decltype(resultfile) saved;
    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<Window_EditMachineID> dlg;
    int changes;
    std::string typeAtSignal;

    // A shown dialog saving into `dir`, its edits kNew or `entered` when `button` is clicked.
    void run(const char* button, const Texts& entered = kNew)
    {
        dlg = std::make_unique<Window_EditMachineID>(QString::fromStdString(dir.path()));
        changes = 0;
        typeAtSignal.clear();
        // The main window redraws from resultfile on this signal.
        QObject::connect(dlg.get(), &Window_EditMachineID::machineIdChanged, [this] {
            ++changes;
            typeAtSignal = resultfile.machine_type;
        });
        dlg->show();
        EXPECT_EQ(text<QLineEdit>("lineEdit_MachineType")->text().toStdString(), std::get<0>(stored()));
        text<QLineEdit>("lineEdit_MachineType")->setText(QString::fromStdString(std::get<0>(entered)));
        text<QLineEdit>("lineEdit_SerialNumber")->setText(QString::fromStdString(std::get<1>(entered)));
        text<QTextEdit>("textEditAdditionalNotes")->setPlainText(QString::fromStdString(std::get<2>(entered)));
        findChildOrFail<QAbstractButton>(dlg.get(), QString::fromLatin1(button))->click();
        EXPECT_FALSE(dlg->isVisible());
    }
    template <class T> T* text(const char* name) { return findChildOrFail<T>(dlg.get(), QString::fromLatin1(name)); }
};

TEST_F(MachineIdDialog, OkAndSaveStoreCancelDiscards)
{
    for (auto [button, keeps, saves] : { std::tuple { "pushButtonOK", true, false },
             { "pushButtonCancel", false, false }, { "pushButtonSaveAsDefaults", true, true } }) {
        SCOPED_TRACE(button);
        std::apply(SetMachineId, kOld);
        run(button);
        EXPECT_FALSE(dlg->isModal()) << "the main window stays usable";
        EXPECT_FALSE(text<QTextEdit>("textEditAdditionalNotes")->acceptRichText());
        EXPECT_EQ(stored(), keeps ? kNew : kOld);
        EXPECT_EQ(changes, keeps ? 1 : 0);
        EXPECT_EQ(typeAtSignal, keeps ? "Tower 3000" : "") << "the signal comes after the texts are stored";
        EXPECT_EQ(FileExists(dir.file("machineid.dat")), saves);
        ASSERT_EQ(sink.boxes.size(), saves ? 1u : 0u);
    }
    EXPECT_EQ(std::tuple(sink.boxes[0].icon, sink.boxes[0].caption, sink.boxes[0].text),
        std::tuple(BoxIcon::Information, std::string("Machine ID & Notes"),
            std::string("Default values have been saved.\nThese values will now be reloaded\n"
                        "each time KalvexTest is started")));
    // Fixed fields padded with NULs, which alone bring the texts back at the next start.
    EXPECT_EQ(ReadFile(dir.file("machineid.dat")),
        std::string("Tower 3000") + std::string(90, '\0') + "ABC-123" + std::string(93, '\0')
            + "Fan replaced\nRAM swapped" + std::string(276, '\0'));
    SetMachineId("", "", "");
    load_machineid(dir.path().c_str());
    EXPECT_EQ(stored(), kNew);
}

TEST_F(MachineIdDialog, LongTextsAreCutToWholeCharacters)
{
    run("pushButtonOK", { std::string(150, 'T'), std::string(120, 'S'), std::string(400, 'n') });
    EXPECT_EQ(stored(), Texts(std::string(99, 'T'), std::string(99, 'S'), std::string(299, 'n')));
    // Two bytes each: 49 whole characters fit, half of the 50th must not.
    const std::string accents = QString(99, QChar(0x00e9)).toStdString();
    run("pushButtonOK", { accents, "", "" });
    EXPECT_EQ(std::string(resultfile.machine_type), accents.substr(0, 98));
}

} // namespace
