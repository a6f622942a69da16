// The machine ID dialog driven through its real widgets: what reaches
// resultfile, what reaches "machineid.dat", and what the user is told.
#include "Window_EditMachineID.h"

#include "QtTestUtils.h"
#include "ResultRecord.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char kCaption[] = "Machine ID & Notes";

// Puts known texts into resultfile and gives back whatever was there.
class MachineIdGuard {
public:
    MachineIdGuard()
    {
        std::memcpy(m_type, resultfile.machine_type, sizeof m_type);
        std::memcpy(m_serial, resultfile.machine_serial, sizeof m_serial);
        std::memcpy(m_notes, resultfile.notes, sizeof m_notes);
        SetMachineId("Old type", "Old serial", "Old notes\nsecond line");
    }
    ~MachineIdGuard()
    {
        std::memcpy(resultfile.machine_type, m_type, sizeof m_type);
        std::memcpy(resultfile.machine_serial, m_serial, sizeof m_serial);
        std::memcpy(resultfile.notes, m_notes, sizeof m_notes);
    }

private:
    char m_type[sizeof resultfile.machine_type];
    char m_serial[sizeof resultfile.machine_serial];
    char m_notes[sizeof resultfile.notes];
};

std::string padded(const std::string& text, std::size_t size)
{
    return text + std::string(size - text.size(), '\0');
}

class MachineIdDialog : public ::testing::Test {
protected:
    MachineIdDialog()
    {
        // The main window redraws from resultfile on this signal.
        QObject::connect(&dlg, &Window_EditMachineID::machineIdChanged, [this] {
            ++changes;
            typeAtSignal = resultfile.machine_type;
        });
        dlg.show();
    }

    template <class T>
    T* child(const char* name)
    {
        return findChildOrFail<T>(&dlg, QString::fromLatin1(name));
    }

    void enter(const QString& type, const QString& serial, const QString& notes)
    {
        child<QLineEdit>("lineEdit_MachineType")->setText(type);
        child<QLineEdit>("lineEdit_SerialNumber")->setText(serial);
        child<QTextEdit>("textEditAdditionalNotes")->setPlainText(notes);
    }

    void click(const char* name) { child<QAbstractButton>(name)->click(); }

    MachineIdGuard guard; // first: the dialog loads the texts it sets
    TempDir dir;
    RecordingSink sink;
    Window_EditMachineID dlg{QString::fromStdString(dir.path())};
    int changes = 0;
    std::string typeAtSignal;
};

TEST_F(MachineIdDialog, FormPairsLabelsWithFieldsAndStaysModeless)
{
    EXPECT_EQ(dlg.windowTitle().toStdString(), kCaption);
    // The user must be able to use the main window with it open.
    EXPECT_FALSE(dlg.isModal());

    struct LabelRow {
        const char* label;
        const char* text;
        const char* field;
    };
    const LabelRow labels[] = {
        {"textLabel_MachineType", "Machine type:", "lineEdit_MachineType"},
        {"textLabel_SerialNumber", "Serial number:", "lineEdit_SerialNumber"},
        {"textLabel_AdditionalNotes", "Additional notes:", "textEditAdditionalNotes"},
    };
    for (const LabelRow& row : labels) {
        SCOPED_TRACE(row.label);
        auto* label = child<QLabel>(row.label);
        EXPECT_EQ(label->text().toStdString(), row.text);
        EXPECT_EQ(label->buddy(), child<QWidget>(row.field));
    }
    // Pasted formatting would be lost in the byte field anyway.
    EXPECT_FALSE(child<QTextEdit>("textEditAdditionalNotes")->acceptRichText());

    EXPECT_EQ(child<QAbstractButton>("pushButtonOK")->text(), "OK");
    EXPECT_EQ(child<QAbstractButton>("pushButtonCancel")->text(), "Cancel");
    EXPECT_EQ(child<QAbstractButton>("pushButtonSaveAsDefaults")->text(), "Save as defaults");
}

TEST_F(MachineIdDialog, LoadPrefShowsTheCurrentTexts)
{
    // The constructor already loaded the guard's texts.
    EXPECT_EQ(child<QLineEdit>("lineEdit_MachineType")->text(), "Old type");
    EXPECT_EQ(child<QLineEdit>("lineEdit_SerialNumber")->text(), "Old serial");
    EXPECT_EQ(child<QTextEdit>("textEditAdditionalNotes")->toPlainText(), "Old notes\nsecond line");

    SetMachineId("Prüfstand <b>7</b>", "SN-42", "line one\nline two");
    dlg.LoadPref();
    EXPECT_EQ(child<QLineEdit>("lineEdit_MachineType")->text(), QString::fromUtf8("Prüfstand <b>7</b>"));
    EXPECT_EQ(child<QLineEdit>("lineEdit_SerialNumber")->text(), "SN-42");
    EXPECT_EQ(child<QTextEdit>("textEditAdditionalNotes")->toPlainText(), "line one\nline two");
}

TEST_F(MachineIdDialog, OkKeepsTheEditsForThisRunOnly)
{
    enter("Tower 3000", "ABC-123", "Fan replaced\nRAM swapped");
    click("pushButtonOK");

    EXPECT_STREQ(resultfile.machine_type, "Tower 3000");
    EXPECT_STREQ(resultfile.machine_serial, "ABC-123");
    EXPECT_STREQ(resultfile.notes, "Fan replaced\nRAM swapped");
    EXPECT_FALSE(FileExists(dir.file("machineid.dat")));
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(typeAtSignal, "Tower 3000");
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(MachineIdDialog, OkCutsLongTextsToTheirFields)
{
    const std::string type(150, 'T');
    std::string serial;
    for (int i = 0; i < 12; ++i)
        serial += "0123456789";
    std::string notes;
    for (int i = 0; notes.size() < 400; ++i)
        notes += "note " + std::to_string(i) + "\n";
    notes.resize(400);

    enter(QString::fromStdString(type), QString::fromStdString(serial), QString::fromStdString(notes));
    click("pushButtonOK");

    EXPECT_EQ(std::string(resultfile.machine_type), type.substr(0, 99));
    EXPECT_EQ(resultfile.machine_type[99], '\0');
    EXPECT_EQ(std::string(resultfile.machine_serial), serial.substr(0, 99));
    EXPECT_EQ(resultfile.machine_serial[99], '\0');
    EXPECT_EQ(std::string(resultfile.notes), notes.substr(0, 299));
    EXPECT_EQ(resultfile.notes[299], '\0');

    // Two bytes each: 49 whole characters fit, half of the 50th must not.
    QString accents;
    accents.fill(QChar(0x00e9), 99);
    enter(accents, "x", "y");
    click("pushButtonOK");
    EXPECT_EQ(QString::fromUtf8(resultfile.machine_type), accents.left(49));
    EXPECT_EQ(std::strlen(resultfile.machine_type), 98u);
}

TEST_F(MachineIdDialog, CancelLeavesResultfileAlone)
{
    enter("Discarded", "Discarded", "Discarded");
    click("pushButtonCancel");

    EXPECT_STREQ(resultfile.machine_type, "Old type");
    EXPECT_STREQ(resultfile.machine_serial, "Old serial");
    EXPECT_STREQ(resultfile.notes, "Old notes\nsecond line");
    EXPECT_FALSE(FileExists(dir.file("machineid.dat")));
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(MachineIdDialog, SaveAsDefaultsWritesTheFileThatLoadsBack)
{
    enter("Tower 3000", "ABC-123", "Fan replaced\nRAM swapped");
    click("pushButtonSaveAsDefaults");

    const std::string image = ReadFile(dir.file("machineid.dat"));
    ASSERT_EQ(image.size(), 500u);
    EXPECT_EQ(image.substr(0, 100), padded("Tower 3000", 100));
    EXPECT_EQ(image.substr(100, 100), padded("ABC-123", 100));
    EXPECT_EQ(image.substr(200, 300), padded("Fan replaced\nRAM swapped", 300));

    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Information);
    EXPECT_EQ(sink.boxes[0].caption, kCaption);
    EXPECT_EQ(sink.boxes[0].text,
              "Default values have been saved.\nThese values will now be reloaded\neach time KalvexTest is started");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(typeAtSignal, "Tower 3000");
    EXPECT_FALSE(dlg.isVisible());

    // As at the next start: the file alone brings the texts back.
    SetMachineId("", "", "");
    load_machineid(dir.path().c_str());
    EXPECT_STREQ(resultfile.machine_type, "Tower 3000");
    EXPECT_STREQ(resultfile.machine_serial, "ABC-123");
    EXPECT_STREQ(resultfile.notes, "Fan replaced\nRAM swapped");
}

TEST_F(MachineIdDialog, SaveAsDefaultsIntoAMissingDirectoryWarnsButKeepsTheEdits)
{
    const std::string missing = dir.file("missing");
    Window_EditMachineID other(QString::fromStdString(missing));
    findChildOrFail<QLineEdit>(&other, "lineEdit_MachineType")->setText("Tower 3000");
    findChildOrFail<QLineEdit>(&other, "lineEdit_SerialNumber")->setText("ABC-123");
    findChildOrFail<QTextEdit>(&other, "textEditAdditionalNotes")->setPlainText("Fan replaced");
    findChildOrFail<QAbstractButton>(&other, "pushButtonSaveAsDefaults")->click();

    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Warning);
    EXPECT_EQ(sink.boxes[0].caption, kCaption);
    EXPECT_EQ(sink.boxes[0].text, "Could not save default machine ID to disk in file\n" + missing
                                      + "/machineid.dat\nCheck the directory exists then\nCheck that you have write "
                                        "access to this file & directory.\n");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_STREQ(resultfile.machine_type, "Tower 3000");
    EXPECT_STREQ(resultfile.machine_serial, "ABC-123");
    EXPECT_STREQ(resultfile.notes, "Fan replaced");
}

} // namespace
