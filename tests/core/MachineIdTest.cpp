#include "ResultRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MachineId : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { std::memset(&resultfile, 0, sizeof resultfile); }
};

// A missing file changes nothing; a short one fills what it holds.
TEST_F(MachineId, ShortOrMissingFileFillsWhatItHolds)
{
    std::strcpy(resultfile.notes, "old notes");
    load_machineid(dir.path().c_str());
    EXPECT_STREQ(resultfile.notes, "old notes");
    WriteFile(dir.file("machineid.dat"), std::string(100, 'T') + std::string(50, 'S'));
    load_machineid(dir.path().c_str());
    EXPECT_EQ(std::string(resultfile.machine_type), std::string(99, 'T'));
    EXPECT_EQ(std::string(resultfile.machine_serial).substr(0, 50), std::string(50, 'S'));
    EXPECT_EQ(resultfile.machine_serial[99], '\0');
    EXPECT_STREQ(resultfile.notes, "old notes");
}

TEST_F(MachineId, UnwritableDirectorySaysWhereAndKeepsValues)
{
    RecordingSink sink;
    SetMachineId("T", "S", "N");
    const std::string missing = dir.file("no/such/dir");
    EXPECT_NE(save_machineid(missing.c_str()), 0);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].icon, BoxIcon::Warning);
    EXPECT_EQ(sink.boxes[0].text,
        "Could not save default machine ID to disk in file\n" + missing
            + "/machineid.dat\nCheck the directory exists then\nCheck that you have write "
              "access to this file & directory.\n");
    EXPECT_STREQ(resultfile.machine_type, "T");
}

TEST(BinaryData, ShortFileLoadFails)
{
    TempDir dir;
    WriteFile(dir.file("r.bin"), std::string(100, 'x'));
    char buffer[200] = {};
    EXPECT_NE(BinaryDataLoad(dir.file("r.bin").c_str(), buffer, 200, 1), 0);
    EXPECT_EQ(buffer[99], 'x') << "a short file leaves the data partly written";
    EXPECT_NE(BinaryDataLoad(dir.file("none.bin").c_str(), buffer, 200, 1), 0);
    EXPECT_EQ(BinaryDataSave(dir.file("s.bin").c_str(), buffer, 50, 4), 0);
    EXPECT_EQ(ReadFile(dir.file("s.bin")).size(), 200u);
}

} // namespace
