// Measures the heap that a stretch of code takes. Every allocation of the
// benchmark process, whether made through malloc or through operator new,
// passes through the meter, so that the figures include what jsoncpp and the
// standard library take on the refresh's behalf.
#pragma once

#include <cstddef>

struct HeapFigures {
    // The most bytes held at once, counted from the start of the meter.
    std::size_t peakBytes = 0;
    std::size_t allocations = 0;
};

// Starts counting from zero: blocks held before the start do not count, and
// releasing one of them lowers the count below zero.
void startHeapMeter();

HeapFigures stopHeapMeter();
