// The event log window and the save-results dialog, with the real event log and real files.
#include "CLogger.h"
#include "ConfigRecord.h"
#include "ErrorClassification.h"
#include "Startup.h"
#include "Window_SaveTestLog.h"
#include "Window_ViewEventLog.h"

#include "QtTestUtils.h"
#include "TempDir.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>

namespace {

class WithLogger : public ::testing::Test {
protected:
    void SetUp() override
    {
        KalvexTest_SetUpDefault(&testconfig);
        testconfig.logging_enabled = 0;
        gLogger = new CLogger("dummyStr");
        for (int i = 0; i < 3; ++i)
            std::swap(e_classification[200 + i], saved[i]); // warning, serious, critical
    }
    void TearDown() override
    {
        for (int i = 0; i < 3; ++i)
            std::swap(e_classification[200 + i], saved[i]);
        delete gLogger;
        gLogger = nullptr;
    }
    int saved[3] { 2, 3, 4 };
    TempDir dir;
    RecordingSink sink;
};

// The dominant colour of an item's icon: 'g', 'a' (amber) or 'r'.
char iconColour(const QTableWidgetItem* item)
{
    const QImage img = item->icon().pixmap(16, 16).toImage();
    const QColor c = img.pixelColor(img.width() / 2, img.height() / 2);
    if (c.green() > 150 && c.red() < 100)
        return 'g';
    if (c.red() > 200 && c.green() > 120)
        return 'a';
    if (c.red() > 150 && c.green() < 80)
        return 'r';
    return '?';
}

using EventLogWindow = WithLogger;

TEST_F(EventLogWindow, FollowsTheLogLiveWithSeverityIcons)
{
    Window_ViewEventLog window;
    auto* table = findChildOrFail<QTableWidget>(&window, "table_ViewEventLog");
    window.LoadEventLog();
    window.show();
    EXPECT_EQ(table->rowCount(), 0);
    auto row = [&](int r) { return table->item(r, 0) ? table->item(r, 0)->text() : QString(); };

    gLogger->AddLine("all well", 1, 0, nullptr, 1);
    gLogger->AddLine("slow", 1, 200, nullptr, 1);
    gLogger->AddLine("bad", 1, 201, nullptr, 1);
    gLogger->AddLine("worse", 1, 202, nullptr, 1);
    // The window's own timer picks the new lines up, once a second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 4; }, 2500));
    const std::pair<const char*, char> expected[]
        = { { "INFORMATION", 'g' }, { "WARNING", 'a' }, { "SERIOUS", 'r' }, { "CRITICAL", 'r' } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(row(i).startsWith(expected[i].first)) << i;
        EXPECT_EQ(iconColour(table->item(i, 0)), expected[i].second) << i;
    }

    // The ring is full before and after the last three: its size cannot tell what is new.
    for (int i = 5; i <= 1000; ++i)
        gLogger->AddLine(("line " + std::to_string(i)).c_str(), 1, 0, nullptr, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(999).endsWith(", line 1000"); }, 2500)) << row(999).toStdString();
    for (int i = 1001; i <= 1003; ++i)
        gLogger->AddLine(("line " + std::to_string(i)).c_str(), 1, 0, nullptr, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return row(999).endsWith(", line 1003"); }, 2500)) << row(999).toStdString();
    EXPECT_EQ(table->rowCount(), 1000);
    EXPECT_TRUE(row(0).endsWith(", worse")) << row(0).toStdString();
    EXPECT_TRUE(row(996).endsWith(", line 1000")) << row(996).toStdString();

    // Cleared while shown: the old lines go, the new one comes.
    gLogger->ClearLog();
    gLogger->AddLine("after the clear", 1, 201, nullptr, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 1; }, 2500)) << table->rowCount();
    EXPECT_TRUE(row(0).startsWith("SERIOUS") && row(0).endsWith(", after the clear")) << row(0).toStdString();
    EXPECT_EQ(iconColour(table->item(0, 0)), 'r');
    gLogger->ClearLog();
    window.LoadEventLog();
    EXPECT_EQ(table->rowCount(), 0) << "reloading after a clear starts empty";
}

using SaveDialog = WithLogger;

TEST_F(SaveDialog, DefaultNameAndFormatSwitches)
{
    std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", dir.path().c_str());
    std::strcpy(testconfig.log_file_name, "night.run.txt");
    std::strcpy(testconfig.log_prefix, "bay3_");
    testconfig.log_file_format = 2;
    testconfig.log_file_option = 0;
    const QString base = QString::fromStdString(dir.path()) + "/bay3_night.run";
    EXPECT_EQ(Window_SaveTestLog::DefaultFileName(2), base + ".htm");
    EXPECT_EQ(Window_SaveTestLog::DefaultFileName(1), base + ".log");
    testconfig.log_file_option = 1;
    const QString stamped = Window_SaveTestLog::DefaultFileName(1);
    EXPECT_TRUE(
        QRegularExpression("^" + QRegularExpression::escape(base) + "_\\d{8}_\\d{6}\\.log$").match(stamped).hasMatch())
        << stamped.toStdString();
    testconfig.log_file_option = 0;
    testconfig.log_file_name[0] = testconfig.log_prefix[0] = '\0';
    EXPECT_EQ(Window_SaveTestLog::DefaultFileName(1), QString::fromStdString(dir.path()) + "/KVX_log.log");

    Window_SaveTestLog dialog;
    auto* name = findChildOrFail<QLineEdit>(&dialog, "lineEdit_FileName");
    auto* html = findChildOrFail<QRadioButton>(&dialog, "radioButton_HTMLFile");
    auto* text = findChildOrFail<QRadioButton>(&dialog, "radioButton_TextFile");
    EXPECT_TRUE(html->isChecked());
    // Each switch puts the format's extension in place of the name's own; a dot in a folder stays.
    const std::tuple<const char*, QRadioButton*, const char*> cases[]
        = { { "/tmp/results.log", text, "/tmp/results.log" }, { "/tmp/results.log", html, "/tmp/results.html" },
              { "/tmp/plain", text, "/tmp/plain.log" }, { "/home/john.doe/report", html, "/home/john.doe/report.html" },
              { "/home/john.doe/report", text, "/home/john.doe/report.log" } };
    for (const auto& [before, button, after] : cases) {
        name->setText(before);
        (button == html ? text : html)->click();
        name->setText(before);
        button->click();
        EXPECT_EQ(name->text().toStdString(), after);
    }
    EXPECT_EQ(dialog.format(), Window_SaveTestLog::kText);
}

TEST_F(SaveDialog, SavesBlocksInOrderAndAsksBeforeOverwriting)
{
    gLogger->AddLine("marker line", 1, 0, nullptr, 1);
    gLogger->AddLine("later line", 1, 0, nullptr, 1);
    Window_SaveTestLog dialog;
    auto* name = findChildOrFail<QLineEdit>(&dialog, "lineEdit_FileName");
    for (int format : { Window_SaveTestLog::kText, Window_SaveTestLog::kHtml }) {
        const std::string path = dir.file(format == 1 ? "r.log" : "r.html");
        dialog.show();
        dialog.slotUpdateButtonGroup_FileFormat(format);
        name->setText(QString::fromStdString(path));
        dialog.accept();
        EXPECT_FALSE(dialog.isVisible()) << "a successful save closes the dialog";
        const std::string text = ReadFile(path);
        std::size_t at = 0;
        for (const char* block :
            { "SYSTEM INFORMATION", "DETAILED EVENT LOG", "marker line", "later line", "RESULT SUMMARY" }) {
            const auto next = text.find(block, at);
            EXPECT_NE(next, std::string::npos) << format << block;
            at = next;
        }
        EXPECT_EQ(text.starts_with("<html>"), format == Window_SaveTestLog::kHtml);
        EXPECT_EQ(text.find("</body>\n</html>\n") != std::string::npos, format == Window_SaveTestLog::kHtml);
    }

    // An existing file: Cancel keeps it as it was and the dialog open.
    const std::string path = dir.file("keep.log");
    WriteFile(path, "precious");
    sink.answers = { 1 };
    dialog.slotUpdateButtonGroup_FileFormat(Window_SaveTestLog::kText);
    dialog.show();
    name->setText(QString::fromStdString(path));
    dialog.accept();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "File exits");
    EXPECT_EQ(sink.boxes[0].text, path + " exists, do you want to overwrite?");
    EXPECT_EQ(ReadFile(path), "precious");
    EXPECT_TRUE(dialog.isVisible());

    // A file that cannot be written: the system's reason, the dialog stays.
    const std::string bad = dir.file("no/such/dir/r.log");
    name->setText(QString::fromStdString(bad));
    sink.answers = { 1 };
    dialog.accept();
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].caption, "Error Saving File");
    EXPECT_EQ(sink.boxes[1].text, bad + ": No such file or directory");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Window_SaveTestLog::fileSaveTestLog(1, "/dev/full"), ENOSPC) << "a full disk is not a success";
}

} // namespace
