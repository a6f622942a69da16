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

void storeOld()
{
    SetMachineId(std::get<0>(kOld), std::get<1>(kOld), std::get<2>(kOld));
}

class MachineIdDialog : public ::testing::Test {
protected:
    MachineIdDialog()
    {
        // The main window redraws from resultfile on this signal.
        QObject::connect(dlg.get(), &Window_EditMachineID::machineIdChanged, [this] {
            ++changes;
            typeAtSignal = resultfile.machine_type;
        });
        dlg->show();
    }

    template <class T> T* child(const char* name) { return findChildOrFail<T>(dlg.get(), QString::fromLatin1(name)); }
    Texts shown()
    {
        return { child<QLineEdit>("lineEdit_MachineType")->text().toStdString(),
            child<QLineEdit>("lineEdit_SerialNumber")->text().toStdString(),
            child<QTextEdit>("textEditAdditionalNotes")->toPlainText().toStdString() };
    }
    void enter(const Texts& t)
    {
        child<QLineEdit>("lineEdit_MachineType")->setText(QString::fromStdString(std::get<0>(t)));
        child<QLineEdit>("lineEdit_SerialNumber")->setText(QString::fromStdString(std::get<1>(t)));
        child<QTextEdit>("textEditAdditionalNotes")->setPlainText(QString::fromStdString(std::get<2>(t)));
    }
    void click(const char* name) { child<QAbstractButton>(name)->click(); }

    // Puts kOld into resultfile for the dialog to load, and gives back whatever was there.
    struct Guard {
        decltype(resultfile) saved;
        Guard() { std::memcpy(&saved, &resultfile, sizeof saved), storeOld(); }
        ~Guard() { std::memcpy(&resultfile, &saved, sizeof saved); }
    } guard;
    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<Window_EditMachineID> dlg
        = std::make_unique<Window_EditMachineID>(QString::fromStdString(dir.path()));
    int changes = 0;
    std::string typeAtSignal;
};

TEST_F(MachineIdDialog, ShowsTheCurrentTextsModelessAndPlain)
{
    EXPECT_EQ(shown(), kOld);
    SetMachineId("Prüfstand <b>7</b>", "SN-42", "line one\nline two");
    dlg->LoadPref();
    EXPECT_EQ(shown(), Texts("Prüfstand <b>7</b>", "SN-42", "line one\nline two"));
    EXPECT_FALSE(dlg->isModal()) << "the main window stays usable";
    EXPECT_FALSE(child<QTextEdit>("textEditAdditionalNotes")->acceptRichText());
}

TEST_F(MachineIdDialog, OkAndSaveStoreCancelDiscards)
{
    const struct {
        const char* button;
        bool stored, saved;
    } cases[] = { { "pushButtonOK", true, false }, { "pushButtonCancel", false, false },
        { "pushButtonSaveAsDefaults", true, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        storeOld();
        changes = 0;
        typeAtSignal.clear();
        dlg->show();
        enter(kNew);
        click(c.button);
        EXPECT_EQ(stored(), c.stored ? kNew : kOld);
        EXPECT_EQ(changes, c.stored ? 1 : 0);
        EXPECT_EQ(typeAtSignal, c.stored ? "Tower 3000" : "") << "the signal comes after the texts are stored";
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(FileExists(dir.file("machineid.dat")), c.saved);
        ASSERT_EQ(sink.boxes.size(), c.saved ? 1u : 0u);
    }
    EXPECT_EQ(std::tuple(sink.boxes[0].icon, sink.boxes[0].caption, sink.boxes[0].text),
        std::tuple(BoxIcon::Information, std::string("Machine ID & Notes"),
            std::string("Default values have been saved.\nThese values will now be reloaded\n"
                        "each time KalvexTest is started")));

    // Fixed fields padded with NULs, which alone bring the texts back at the next start.
    const std::string image = ReadFile(dir.file("machineid.dat"));
    EXPECT_EQ(image,
        std::string("Tower 3000") + std::string(90, '\0') + "ABC-123" + std::string(93, '\0')
            + "Fan replaced\nRAM swapped" + std::string(276, '\0'));
    SetMachineId("", "", "");
    load_machineid(dir.path().c_str());
    EXPECT_EQ(stored(), kNew);
}

TEST_F(MachineIdDialog, LongTextsAreCutToWholeCharacters)
{
    std::string notes;
    for (int i = 0; notes.size() < 400; ++i)
        notes += "note " + std::to_string(i) + "\n";
    const Texts entered { std::string(150, 'T'), std::string(120, 'S'), notes.substr(0, 400) };
    enter(entered);
    click("pushButtonOK");
    EXPECT_EQ(stored(), Texts(std::string(99, 'T'), std::string(99, 'S'), notes.substr(0, 299)));

    // Two bytes each: 49 whole characters fit, half of the 50th must not.
    QString accents;
    accents.fill(QChar(0x00e9), 99);
    child<QLineEdit>("lineEdit_MachineType")->setText(accents);
    click("pushButtonOK");
    EXPECT_EQ(QString::fromUtf8(resultfile.machine_type), accents.left(49));
}

TEST_F(MachineIdDialog, SaveIntoAMissingDirectoryWarnsButKeepsTheEdits)
{
    const std::string missing = dir.file("missing");
    dlg = std::make_unique<Window_EditMachineID>(QString::fromStdString(missing));
    enter(kNew);
    click("pushButtonSaveAsDefaults");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(std::tuple(sink.boxes[0].icon, sink.boxes[0].caption, sink.boxes[0].text),
        std::tuple(BoxIcon::Warning, std::string("Machine ID & Notes"),
            "Could not save default machine ID to disk in file\n" + missing
                + "/machineid.dat\nCheck the directory exists then\nCheck that you have write access "
                  "to this file & directory.\n"));
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(stored(), kNew);
}

} // namespace
