#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "dsp/arrays_internal.h"
#include "dsp/contour.h"
#include "dsp/pitch.h"
#include "dsp/pitch_query.h"

using namespace qm;

namespace {

// A pitch track with one chosen frequency per frame (0: unvoiced), frames 10 ms apart from
// 0.1 s, ceiling 400 Hz.
struct TrackFixture {
    Pitch pitch;
    explicit TrackFixture(std::initializer_list<double> hz) {
        const auto n = static_cast<int32_t>(hz.size());
        EXPECT_EQ(Pitch_init(&pitch, 0.0, 0.1 + n * 0.01, n, 0.01, 0.1, 400.0, 1), 1);
        int32_t i = 1;
        for (double f : hz) {
            EXPECT_EQ(PitchFrame_init(&pitch.frames[i], 1), 1);
            pitch.frames[i++].candidates[1].frequency = f;
        }
    }
    ~TrackFixture() { Pitch_freeFrames(&pitch); }
};

struct ContourFixture {
    TimeValueContour contour;
    ContourFixture(std::initializer_list<std::pair<double, double>> points) {
        EXPECT_EQ(TimeValueContour_init(&contour, 0.0, 10.0), 1);
        for (auto [t, v] : points)
            EXPECT_EQ(TimeValueContour_addPoint(&contour, t, v), 1);
    }
    ~ContourFixture() { TimeValueContour_free(&contour); }
};

TEST(Contour, ExtendsEndValuesAndInterpolatesBetween) {
    ContourFixture empty({});
    EXPECT_EQ(TimeValueContour_valueAtTime(&empty.contour, 1.0), 0.0);
    EXPECT_EQ(TimeValueContour_area(&empty.contour, 0.0, 1.0), 0.0);
    ContourFixture one({{2.0, 1.5}});
    for (double t : {-1.0, 2.0, 7.0})
        EXPECT_DOUBLE_EQ(TimeValueContour_valueAtTime(&one.contour, t), 1.5);
    EXPECT_DOUBLE_EQ(TimeValueContour_area(&one.contour, 1.0, 4.0), 4.5);
    ContourFixture c({{3.0, 30.0}, {1.0, 10.0}, {2.0, 40.0}});  // added out of order
    EXPECT_DOUBLE_EQ(TimeValueContour_valueAtTime(&c.contour, 0.0), 10.0);
    EXPECT_DOUBLE_EQ(TimeValueContour_valueAtTime(&c.contour, 9.0), 30.0);  // no slope
    EXPECT_DOUBLE_EQ(TimeValueContour_valueAtTime(&c.contour, 1.5), 25.0);
    EXPECT_DOUBLE_EQ(TimeValueContour_valueAtTime(&c.contour, 2.0), 40.0);
    // Trapezoids: constant 10 over [0, 1], 25 average over [1, 2], then 35 over [2, 3], 30 to 5.
    EXPECT_DOUBLE_EQ(TimeValueContour_area(&c.contour, 0.0, 5.0), 10.0 + 25.0 + 35.0 + 60.0);
    // A span inside one segment uses the interpolated ends.
    EXPECT_DOUBLE_EQ(TimeValueContour_area(&c.contour, 1.25, 1.75), 0.5 * 25.0);
    EXPECT_DOUBLE_EQ(TimeValueContour_area(&c.contour, 4.0, 6.0), 60.0);
}

TEST(Contour, EqualTimesKeepTheirOrderAndMeetInTheMean) {
    ContourFixture c({{1.0, 0.0}, {2.0, 5.0}, {2.0, 7.0}, {2.0, 9.0}, {3.0, 9.0}});
    const TimeValuePointList& list = *c.contour.points;
    ASSERT_EQ(list.size, 5);
    EXPECT_EQ(list.items[2]->value, 5.0);
    EXPECT_EQ(list.items[3]->value, 7.0);
    EXPECT_EQ(list.items[4]->value, 9.0);
    // Just before the shared time the contour heads for the first of them.
    EXPECT_NEAR(TimeValueContour_valueAtTime(&c.contour, 1.999999), 5.0, 1e-4);
}

TEST(Contour, GrowsPastItsFirstSlotsAndSurvivesFailedAdditions) {
    ContourFixture c({});
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(TimeValueContour_addPoint(&c.contour, 99.0 - i, i), 1);
    for (int32_t i = 1; i < c.contour.points->size; ++i)
        ASSERT_LE(c.contour.points->items[i]->time, c.contour.points->items[i + 1]->time);
    SetBlockAllocationFailureAfter(0);
    EXPECT_EQ(TimeValueContour_addPoint(&c.contour, 0.5, 1.0), 0);
    SetBlockAllocationFailureAfter(-1);
    EXPECT_EQ(c.contour.points->size, 100);
}

TEST(Contour, FromPitchTakesVoicedFramesOnly) {
    TrackFixture track({100.0, 0.0, 120.0, 450.0, 130.0});  // 450 Hz is above the ceiling
    TimeValueContour c;
    ASSERT_EQ(TimeValueContour_fromPitch(&c, &track.pitch), 1);
    ASSERT_EQ(c.points->size, 3);
    EXPECT_DOUBLE_EQ(c.points->items[2]->time, 0.12);
    EXPECT_DOUBLE_EQ(c.points->items[3]->value, 130.0);
    // The gap is bridged: halfway between 0.1 s (100 Hz) and 0.12 s (120 Hz).
    EXPECT_NEAR(TimeValueContour_valueAtTime(&c, 0.11), 110.0, 1e-9);
    TimeValueContour_free(&c);

    TrackFixture silent({0.0, 0.0});
    ASSERT_EQ(TimeValueContour_fromPitch(&c, &silent.pitch), 1);
    EXPECT_EQ(TimeValueContour_area(&c, 0.0, 1.0), 0.0);
    TimeValueContour_free(&c);
}

struct ValueCase {
    double t;
    double hz;
};
class PitchValueAtTime : public testing::TestWithParam<ValueCase> {};

// Frames at 0.10 .. 0.15 s: unvoiced, 100, 200, 300, unvoiced, 150.
TEST_P(PitchValueAtTime, InterpolatesTowardsTheVoicedNeighbourOnItsSide) {
    TrackFixture track({0.0, 100.0, 200.0, 300.0, 0.0, 150.0});
    EXPECT_NEAR(Pitch_valueAtTime(&track.pitch, GetParam().t), GetParam().hz, 1e-9);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, PitchValueAtTime,
    testing::Values(ValueCase{0.11, 100.0},    // left neighbour unvoiced: own frequency
                    ValueCase{0.1075, 100.0},  // nearest is 0.11, neighbour on its left unvoiced
                    ValueCase{0.1125, 125.0},  // towards 0.12 (200 Hz)
                    ValueCase{0.1175, 175.0},  // nearest 0.12, towards 0.11
                    ValueCase{0.13, 300.0}, ValueCase{0.1325, 300.0},  // right neighbour unvoiced
                    ValueCase{0.14, 0.0},                              // unvoiced frame
                    ValueCase{0.15, 150.0}, ValueCase{0.1549, 150.0},  // last frame
                    ValueCase{0.16, 0.0}, ValueCase{0.09, 0.0}));      // outside the frames

TEST(PitchNextVoicedInterval, StartsAtTheNextFrameCentredAtOrAfterT) {
    TrackFixture track({0.0, 100.0, 200.0, 300.0, 0.0, 150.0});
    double a = -1.0, b = -1.0;
    ASSERT_EQ(Pitch_nextVoicedInterval(&track.pitch, 0.0, &a, &b), 1);
    EXPECT_NEAR(a, 0.105, 1e-12);
    EXPECT_NEAR(b, 0.135, 1e-12);
    // From inside the stretch: not its start, but the frame at or after t.
    ASSERT_EQ(Pitch_nextVoicedInterval(&track.pitch, 0.115, &a, &b), 1);
    EXPECT_NEAR(a, 0.115, 1e-12);
    EXPECT_NEAR(b, 0.135, 1e-12);
    // From the end of a stretch the next one is found; it runs to the last frame.
    ASSERT_EQ(Pitch_nextVoicedInterval(&track.pitch, b, &a, &b), 1);
    EXPECT_NEAR(a, 0.145, 1e-12);
    EXPECT_NEAR(b, 0.155, 1e-12);
    a = b = -1.0;
    EXPECT_EQ(Pitch_nextVoicedInterval(&track.pitch, 0.1501, &a, &b), 0);
    EXPECT_EQ(a, -1.0);
    EXPECT_EQ(b, -1.0);
}

}  // namespace
