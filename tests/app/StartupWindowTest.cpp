// The main window's start-up and configuration commands, and the real
// message boxes, in process.
#include "AppFixture.h"
#include "ConfigFile.h"
#include "QtMessageSink.h"
#include "QtTestUtils.h"
#include "ResultRecord.h"
#include "TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

// Started with no LastUsed.cfg; the first-start box is not the tests'.
class MainWindowConfigCommands : public AppTest {
protected:
    void SetUp() override
    {
        app = StartApp(dir);
        sink.boxes.clear();
    }
};

TEST_F(MainWindowConfigCommands, SaveUsesTheNameRuleAndAsksBeforeOverwriting)
{
    testconfig.auto_stop_time = 33.0f;
    ASSERT_TRUE(app->saveConfigTo(QString::fromStdString(dir.file("my.settings.cfg"))));
    EXPECT_TRUE(FileExists(dir.file("my.cfg")));
    EXPECT_FALSE(FileExists(dir.file("my.settings.cfg")));
    EXPECT_TRUE(sink.boxes.empty());

    // Whatever name is typed, the question is about the file that would be
    // replaced, and No keeps it.
    testconfig.auto_stop_time = 44.0f;
    _testconfig back;
    for (const char* typed : { "my.cfg", "my", "my.other.cfg" }) {
        SCOPED_TRACE(typed);
        sink.boxes.clear();
        sink.answers = { 1 }; // No
        EXPECT_FALSE(app->saveConfigTo(QString::fromStdString(dir.file(typed))));
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].caption, "Save configuration");
        EXPECT_EQ(sink.boxes[0].text, "File " + dir.file("my.cfg") + " already exists.\nDo you want to overwrite it?");
        ASSERT_EQ(ConfigFileLoad("my.cfg", dir.path().c_str(), &back), 0);
        EXPECT_FLOAT_EQ(back.auto_stop_time, 33.0f);
    }
    sink.answers = { 0 }; // Yes
    EXPECT_TRUE(app->saveConfigTo(QString::fromStdString(dir.file("my.cfg"))));
    ASSERT_EQ(ConfigFileLoad("my.cfg", dir.path().c_str(), &back), 0);
    EXPECT_FLOAT_EQ(back.auto_stop_time, 44.0f);
}

// A failed load says so and changes nothing; a good one sets the name and
// keeps LastUsed.cfg untouched.
TEST_F(MainWindowConfigCommands, LoadSetsTheNameOrSaysWhyNot)
{
    const std::string lastUsed = ReadFile(dir.file("LastUsed.cfg"));
    WriteFile(dir.file("bad.cfg"), "KVXCFGL");
    const float before = testconfig.auto_stop_time;
    EXPECT_FALSE(app->loadConfigFrom(QString::fromStdString(dir.file("bad.cfg"))));
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].caption, "Error loading *" + dir.file("bad.cfg") + "*");
    EXPECT_EQ(sink.boxes[1].text,
        "Due to problems with the configuration file\n" + dir.file("bad.cfg") + "\nIt is not loaded.");
    EXPECT_FLOAT_EQ(testconfig.auto_stop_time, before);
    EXPECT_STREQ(configfilename, "LastUsed.cfg");

    _testconfig other = testconfig;
    other.auto_stop_time = 77.0f;
    ASSERT_EQ(ConfigFileSave("other.cfg", dir.path().c_str(), &other), 0);
    ASSERT_TRUE(app->loadConfigFrom(QString::fromStdString(dir.file("other.cfg"))));
    EXPECT_FLOAT_EQ(testconfig.auto_stop_time, 77.0f);
    EXPECT_STREQ(configfilename, "other.cfg");
    EXPECT_EQ(findChildOrFail<QLabel>(app.get(), "textLabel_ConfigFile")->text(), "other.cfg");
    EXPECT_EQ(ReadFile(dir.file("LastUsed.cfg")), lastUsed);
}

// What the real box answers when the user presses Esc, closes it, or presses
// its first button: a lone "Quit" is only pressed by pressing it. A box from
// a test thread is not shown at all.
TEST(MessageSinkBoxes, EscapeAndCloseDismissUnlessTheCallerNamesAnEscapeButton)
{
    QtMessageSink sink;
    int answer = 0;
    std::thread([&] { answer = sink.show(BoxIcon::Critical, "Caption", "Text", { "Quit" }, 0, -1); }).join();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    enum Action { Escape, Close, FirstButton };
    struct Case {
        std::vector<std::string> buttons;
        int escape;
        Action action;
        int expected;
    };
    const Case cases[] = {
        { { "Quit" }, -1, Escape, -1 },
        { { "Quit" }, -1, Close, -1 },
        { { "Quit" }, -1, FirstButton, 0 },
        { { "&Yes", "&No" }, 1, Escape, 1 },
        { { "OK" }, 0, Escape, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buttons[0] << " escape " << c.escape << " action " << c.action);
        bool acted = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || acted)
                return;
            acted = true;
            if (c.action == Escape)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, Qt::Key_Escape);
            else if (c.action == Close)
                box->close();
            else
                box->buttons().first()->click();
        });
        poll.start(20);
        // A box the test fails to answer would hang: give up after a while.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->done(0);
        });
        guard.start(5000);
        EXPECT_EQ(sink.show(BoxIcon::Critical, "Caption", "Text", c.buttons, 0, c.escape), c.expected);
        EXPECT_TRUE(acted);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

} // namespace
