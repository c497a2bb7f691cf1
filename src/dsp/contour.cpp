#include "dsp/contour.h"

#include "dsp/arrays.h"
#include "dsp/pitch.h"
#include "dsp/pitch_query.h"

namespace qm {

namespace {

// Points and the list are single-element arrays from the library allocator, so that the
// allocation-failure hook reaches them like every other block of the library.
template <class T>
T* AllocateOne() {
    return allocVectorOf<T>(0, 0);
}
template <class T>
void FreeOne(T* p) {
    freeVectorOf(p, 0, 0);
}

int32_t Size(const TimeValueContour* c) {
    return c == nullptr || c->points == nullptr ? 0 : c->points->size;
}

const TimeValuePoint& Point(const TimeValueContour* c, int32_t i) {
    return *c->points->items[i];
}

// The last index whose time is <= t (0 when the first point is later; size when all are <=).
int32_t LowIndex(const TimeValueContour* c, double t) {
    int32_t lo = 0;
    int32_t hi = Size(c) + 1;
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (Point(c, mid).time <= t)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

// The first index whose time is >= t (size + 1 when none).
int32_t HighIndex(const TimeValueContour* c, double t) {
    int32_t lo = 0;
    int32_t hi = Size(c) + 1;
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (Point(c, mid).time >= t)
            hi = mid;
        else
            lo = mid;
    }
    return hi;
}

}  // namespace

int TimeValueContour_init(TimeValueContour* contour, double startTime, double endTime) {
    if (contour == nullptr)
        return 0;
    TimeValueContour_free(contour);
    contour->startTime = startTime;
    contour->endTime = endTime;
    TimeValuePointList* list = AllocateOne<TimeValuePointList>();
    if (list == nullptr)
        return 0;
    list->items = allocVectorOf<TimeValuePoint*>(1, 2);
    if (list->items == nullptr) {
        FreeOne(list);
        return 0;
    }
    list->capacity = 2;
    list->size = 0;
    contour->points = list;
    return 1;
}

int TimeValueContour_addPoint(TimeValueContour* contour, double time, double value) {
    if (contour == nullptr || contour->points == nullptr)
        return 0;
    TimeValuePointList* list = contour->points;
    TimeValuePoint* point = AllocateOne<TimeValuePoint>();
    if (point == nullptr)
        return 0;
    if (list->size >= list->capacity) {
        if (list->capacity > INT32_MAX / 2) {
            FreeOne(point);
            return 0;
        }
        const int32_t grown = 2 * list->capacity;
        TimeValuePoint** items = allocVectorOf<TimeValuePoint*>(1, grown);
        if (items == nullptr) {
            FreeOne(point);
            return 0;
        }
        copyVector(list->items, items, sizeof(TimeValuePoint*), 1, list->size);
        freeVectorOf(list->items, 1, list->capacity);
        list->items = items;
        list->capacity = grown;
    }
    point->time = time;
    point->value = value;
    // Later than every point with an equal time: points added at one time keep their order.
    const int32_t place = LowIndex(contour, time) + 1;
    for (int32_t i = list->size; i >= place; --i)
        list->items[i + 1] = list->items[i];
    list->items[place] = point;
    ++list->size;
    return 1;
}

int TimeValueContour_fromPitch(TimeValueContour* contour, const Pitch* pitch) {
    if (contour == nullptr || pitch == nullptr)
        return 0;
    if (!TimeValueContour_init(contour, pitch->startTime, pitch->endTime))
        return 0;
    for (int32_t i = 1; i <= pitch->count; ++i) {
        if (!Pitch_isVoicedFrame(pitch, i))
            continue;
        if (!TimeValueContour_addPoint(contour, Sound_indexToTime(pitch, i),
                                       pitch->frames[i].candidates[1].frequency)) {
            return 0;
        }
    }
    return 1;
}

double TimeValueContour_valueAtTime(const TimeValueContour* contour, double t) {
    const int32_t size = Size(contour);
    if (size == 0)
        return 0.0;
    if (t <= Point(contour, 1).time)
        return Point(contour, 1).value;
    if (t >= Point(contour, size).time)
        return Point(contour, size).value;
    const int32_t i = LowIndex(contour, t);
    const TimeValuePoint& left = Point(contour, i);
    const TimeValuePoint& right = Point(contour, i + 1);
    if (t == right.time)
        return right.value;
    if (left.time == right.time)
        return 0.5 * (left.value + right.value);
    return left.value + (t - left.time) * (right.value - left.value) / (right.time - left.time);
}

double TimeValueContour_area(const TimeValueContour* contour, double tmin, double tmax) {
    const int32_t size = Size(contour);
    if (size == 0)
        return 0.0;
    if (size == 1)
        return (tmax - tmin) * Point(contour, 1).value;
    const int32_t imin = LowIndex(contour, tmin);
    if (imin == size)
        return (tmax - tmin) * Point(contour, size).value;
    const int32_t imax = HighIndex(contour, tmax);
    if (imax == 1)
        return (tmax - tmin) * Point(contour, 1).value;
    if (imin >= imax)
        return 0.0;
    double area = 0.0;
    for (int32_t i = imin; i < imax; ++i) {
        double t1, v1, t2, v2;
        if (i == imin) {
            t1 = tmin;
            v1 = TimeValueContour_valueAtTime(contour, tmin);
        } else {
            t1 = Point(contour, i).time;
            v1 = Point(contour, i).value;
        }
        if (i + 1 == imax) {
            t2 = tmax;
            v2 = TimeValueContour_valueAtTime(contour, tmax);
        } else {
            t2 = Point(contour, i + 1).time;
            v2 = Point(contour, i + 1).value;
        }
        area += 0.5 * (v1 + v2) * (t2 - t1);
    }
    return area;
}

void TimeValueContour_free(TimeValueContour* contour) {
    if (contour == nullptr || contour->points == nullptr)
        return;
    TimeValuePointList* list = contour->points;
    for (int32_t i = 1; i <= list->size; ++i)
        FreeOne(list->items[i]);
    freeVectorOf(list->items, 1, list->capacity);
    FreeOne(list);
    contour->points = nullptr;
}

}  // namespace qm
