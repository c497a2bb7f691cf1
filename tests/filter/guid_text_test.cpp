#include "filter/guid_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

using namespace qm;

namespace {

constexpr EffectGuid kBaby = {
    0xC37130CA, 0xDB95, 0x4C5D, {0xBA, 0xB1, 0x2A, 0x80, 0xF3, 0x07, 0x61, 0xAE}};

struct Accepted {
    const char* text;
    EffectGuid guid;
};

class GuidTextAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(GuidTextAccepts, ReadsAllElevenFields) {
    EffectGuid guid{};
    EXPECT_TRUE(GuidFromText(GetParam().text, guid));
    EXPECT_TRUE(SameGuid(guid, GetParam().guid));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GuidTextAccepts,
    ::testing::Values(Accepted{"{C37130CA-DB95-4C5D-BAB1-2A80F30761AE}", kBaby},
                      Accepted{"{c37130ca-db95-4c5d-bab1-2a80f30761ae}", kBaby},
                      // Nothing after the eleventh field is examined.
                      Accepted{"{C37130CA-DB95-4c5d-BAB1-2A80F30761AE", kBaby},
                      Accepted{"{C37130CA-DB95-4c5d-BAB1-2A80F30761AE}trailing", kBaby},
                      // A field takes as many digits as its width allows, and at least one.
                      Accepted{"{1-2-3-0405-060708090A0B}", {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}},
                      Accepted{
                          "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}",
                          {0xFFFFFFFF, 0xFFFF, 0xFFFF, {255, 255, 255, 255, 255, 255, 255, 255}}}));

class GuidTextRefuses : public ::testing::TestWithParam<std::string_view> {};

// A refused text leaves an all-zero GUID, whatever the GUID held before.
TEST_P(GuidTextRefuses, LeavesAnAllZeroGuid) {
    EffectGuid guid;
    std::memset(&guid, 0xFF, sizeof guid);
    EXPECT_FALSE(GuidFromText(GetParam(), guid));
    EXPECT_TRUE(SameGuid(guid, EffectGuid{}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GuidTextRefuses,
    ::testing::Values("", "{", "C37130CA-DB95-4c5d-BAB1-2A80F30761AE}",
                      "{C37130CA-DB95-4c5d-BAB1-2A80F307}", "{C37130CA-DB95-4c5d-BAB12A80F30761AE}",
                      "{G37130CA-DB95-4c5d-BAB1-2A80F30761AE}",
                      "{ C37130CA-DB95-4c5d-BAB1-2A80F30761AE}",
                      "{C37130CA-DB95--4c5d-BAB1-2A80F30761AE}",
                      "{C37130CA0-DB95-4c5d-BAB1-2A80F30761AE}", "{-DB95-4c5d-BAB1-2A80F30761AE}",
                      // The view ends mid-field, though the memory behind it goes on.
                      std::string_view("{C37130CA-DB95-4c5d-BAB1-2A80F30761AE}", 30)));

}  // namespace
