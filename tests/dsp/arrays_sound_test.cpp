#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/arrays.h"
#include "dsp/arrays_internal.h"
#include "dsp/sound.h"

using namespace qm;

namespace {

TEST(IndexArrays, VectorsAndMatricesAreZeroedAndAddressedFromTheirFirstIndex) {
    double* a = allocVectorOf<double>(-5, 5);
    double* b = allocVectorOf<double>(-5, 5);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (long i = -5; i <= 5; ++i) {
        EXPECT_EQ(a[i], 0.0);
        a[i] = static_cast<double>(i);
    }
    copyVector(a, b, sizeof(double), -5, 5);
    for (long i = -5; i <= 5; ++i)
        EXPECT_EQ(b[i], static_cast<double>(i));
    freeVectorOf(a, -5, 5);
    freeVectorOf(b, -5, 5);
    // Rows follow each other in one block.
    float** m = allocMatrixOf<float>(1, 3, 0, 4);
    ASSERT_NE(m, nullptr);
    for (long r = 1; r <= 3; ++r) {
        for (long c = 0; c <= 4; ++c)
            EXPECT_EQ(m[r][c], 0.0f);
    }
    EXPECT_EQ(&m[2][0], &m[1][4] + 1);
    EXPECT_EQ(&m[3][0], &m[2][4] + 1);
    freeMatrixOf(m, 1, 3, 0, 4);
}

TEST(IndexArrays, EmptyRangesAreValidMalformedOnesRefusedAndFailuresReleaseWhatTheyTook) {
    void* empty = allocVector(sizeof(double), 1, 0);
    EXPECT_NE(empty, nullptr);
    freeVector(empty, sizeof(double), 1, 0);
    EXPECT_EQ(allocVector(sizeof(double), 5, 2), nullptr);
    EXPECT_EQ(allocVector(0, 1, 10), nullptr);
    EXPECT_EQ(allocVector(sizeof(double), std::numeric_limits<long>::min(),
                          std::numeric_limits<long>::max()),
              nullptr);
    freeVector(nullptr, sizeof(double), 1, 10);  // a missing array is ignored
    freeMatrix(nullptr, sizeof(float), 1, 1, 1, 10);
    // The row pointers succeed, the cell block fails: the sanitizer build's leak checker sees
    // the row pointers if they are not released.
    SetBlockAllocationFailureAfter(1);
    EXPECT_EQ(allocMatrixOf<float>(1, 4, 1, 4), nullptr);
    SetBlockAllocationFailureAfter(-1);
}

TEST(SoundRecord, FromPcm16IgnoresTheOddByteAndKeepsTheLastSample) {
    const int16_t pcm[3] = {-32768, 32767, 1234};
    Sound s;
    ASSERT_EQ(Sound_fromPcm16(&s, pcm, 5, 8000.0), 1);
    ASSERT_EQ(s.count, 2);
    EXPECT_EQ(s.data[1][1], -32768.0f);
    EXPECT_EQ(s.data[1][2], 32767.0f);
    EXPECT_DOUBLE_EQ(s.firstTime, 0.5 / 8000.0);
    EXPECT_DOUBLE_EQ(s.endTime, 2.0 / 8000.0);
    Sound_freeSamples(&s);
    EXPECT_EQ(s.data, nullptr);
}

TEST(SoundRecord, FromPcm16RefusesWhatCannotDescribeASound) {
    const int16_t pcm[2] = {1, 2};
    for (double rate : {0.0, -44100.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        Sound s;
        EXPECT_EQ(Sound_fromPcm16(&s, pcm, 4, rate), 0) << rate;
        EXPECT_EQ(s.data, nullptr);
    }
    Sound s;
    EXPECT_EQ(Sound_fromPcm16(&s, pcm, -2, 8000.0), 0);
    EXPECT_EQ(Sound_fromPcm16(&s, nullptr, 4, 8000.0), 0);
    SetBlockAllocationFailureAfter(0);
    EXPECT_EQ(Sound_fromPcm16(&s, pcm, 4, 8000.0), 0);
    SetBlockAllocationFailureAfter(-1);
    EXPECT_EQ(s.data, nullptr);
}

struct IndexCase {
    double t;
    int32_t low, high, nearest;
};

class SoundIndex : public ::testing::TestWithParam<IndexCase> {};

// Samples at 0.0625, 0.1875, ... (step 1/8): binary fractions, so the half-way case is exact.
TEST_P(SoundIndex, TimeToIndex) {
    Sound s;
    s.step = 0.125;
    s.firstTime = 0.0625;
    const IndexCase& c = GetParam();
    EXPECT_EQ(Sound_timeToLowIndex(&s, c.t), c.low);
    EXPECT_EQ(Sound_timeToHighIndex(&s, c.t), c.high);
    EXPECT_EQ(Sound_timeToNearestIndex(&s, c.t), c.nearest);
    if (c.nearest >= 1 && c.nearest < 100) {
        EXPECT_EQ(Sound_timeToNearestIndex(&s, Sound_indexToTime(&s, c.nearest)), c.nearest);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoundIndex,
    ::testing::Values(IndexCase{0.0625, 1, 1, 1},   // on sample 1
                      IndexCase{0.125, 1, 2, 2},    // half-way: the later index
                      IndexCase{0.1, 1, 2, 1},      // nearer to sample 1
                      IndexCase{0.0, 0, 1, 1},      // before sample 1: not clamped
                      IndexCase{-1.0, -8, -7, -7},  // far before
                      IndexCase{1e300, INT32_MAX, INT32_MAX, INT32_MAX},  // saturates
                      IndexCase{std::nan(""), 0, 0, 0}));  // no number: "before the first"

}  // namespace
