// Recording names: the start time's fields in a fixed-width name after the folder, and a
// refusal (never a cut path) when the folder leaves no room.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "capture/recording_name.h"

using namespace qm;

namespace {

TEST(RecordingName, NamesTheFileFromTheStartTimeDirectlyAfterTheFolder) {
    std::array<char, 260> out{};
    ASSERT_TRUE(ComposeRecordingPath(out, "D:\\Rec\\", {2013, 2, 8, 9, 5, 3}));
    EXPECT_EQ(std::string(out.data()), "D:\\Rec\\Aud2013_02_08_09-05-03.mp3");
    ASSERT_TRUE(ComposeRecordingPath(out, "", {1999, 12, 31, 23, 59, 59}));
    EXPECT_EQ(std::string(out.data()), "Aud1999_12_31_23-59-59.mp3");
    EXPECT_EQ(std::string(out.data()).size(), kRecordingNameChars);
}

// The output path holds 259 characters and its terminator: a folder of 233 characters fits
// exactly, one more must be refused.
TEST(RecordingName, RefusesAFolderThatLeavesNoRoomForTheName) {
    std::array<char, 260 + 4> storage{};
    storage.fill('#');
    const std::span<char> out(storage.data(), 260);
    const std::string fits(260 - 1 - kRecordingNameChars, 'f');
    ASSERT_TRUE(ComposeRecordingPath(out, fits.c_str(), {2020, 1, 2, 3, 4, 5}));
    EXPECT_EQ(std::string(storage.data()), fits + "Aud2020_01_02_03-04-05.mp3");
    const std::string tooLong = fits + "g";
    EXPECT_FALSE(ComposeRecordingPath(out, tooLong.c_str(), {2020, 1, 2, 3, 4, 5}));
    EXPECT_EQ(storage[0], '\0');
    for (size_t i = 260; i < storage.size(); ++i) {
        EXPECT_EQ(storage[i], '#');
    }
}

TEST(RecordingName, RefusesFieldsOutsideTheCalendar) {
    std::array<char, 260> out{};
    for (const RecordingStartTime bad :
         {RecordingStartTime{10000, 1, 1, 0, 0, 0}, RecordingStartTime{2020, 0, 1, 0, 0, 0},
          RecordingStartTime{2020, 13, 1, 0, 0, 0}, RecordingStartTime{2020, 1, 32, 0, 0, 0},
          RecordingStartTime{2020, 1, 1, 24, 0, 0}, RecordingStartTime{2020, 1, 1, 0, -1, 0}}) {
        EXPECT_FALSE(ComposeRecordingPath(out, "C:\\", bad));
        EXPECT_EQ(out[0], '\0');
    }
}

}  // namespace
