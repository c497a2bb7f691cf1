#pragma once

#include <cstdint>

namespace qm {

struct Pitch;

// A time-ordered list of (time, value) points over a time domain, read with linear
// interpolation between points and constant extension beyond the first and the last.
struct TimeValuePoint {
    double time;  // seconds
    double value;
};

struct TimeValuePointList {
    int32_t capacity;        // slots; starts at 2, doubles when full
    int32_t size;            // points held
    TimeValuePoint** items;  // 1-based, 1..capacity, in non-decreasing time order
};

// The owner releases the points with TimeValueContour_free before destroying the record.
struct TimeValueContour {
    virtual ~TimeValueContour() = default;

    double startTime = 0.0;  // seconds
    double endTime = 0.0;    // seconds
    TimeValuePointList* points = nullptr;
};

// Sets the domain and makes an empty point list (releasing any points the contour held).
// Returns 1, or 0 when memory is exhausted. Allocates.
int TimeValueContour_init(TimeValueContour* contour, double startTime, double endTime);
// Inserts after every point whose time is <= time, so equal times keep the order of adding.
// Returns 1, or 0 when memory is exhausted (the contour is unchanged). Allocates.
int TimeValueContour_addPoint(TimeValueContour* contour, double time, double value);
// One point per voiced frame of the pitch track (its time and chosen frequency), over the
// track's domain. Returns 1, or 0 when memory ran out (the points added so far stay).
int TimeValueContour_fromPitch(TimeValueContour* contour, const Pitch* pitch);
// Value at t: 0 without points; the first / last value outside them; the mean of two points
// that share a time.
double TimeValueContour_valueAtTime(const TimeValueContour* contour, double t);
// Integral of the piecewise-linear contour over [tmin, tmax] (trapezoids between points).
double TimeValueContour_area(const TimeValueContour* contour, double tmin, double tmax);
// Releases every point, the slot array and the list; the contour is then empty.
void TimeValueContour_free(TimeValueContour* contour);

}  // namespace qm
