// Every QObject alive in the program, counted through the hooks Qt calls
// when any object is created or destroyed (the ones debugging tools use),
// so that an object nobody owns any more is found wherever it was left,
// with or without a parent.
#pragma once

#include <cstddef>

struct TObjectCount {
    size_t Objects = 0;          // alive and created since the census started
    size_t Timers = 0;           // of them, QTimer objects
    size_t ActiveTimers = 0;     // of them, running QTimer objects
    size_t RegisteredTimers = 0; // timers registered with the main thread's event dispatcher by them
};

// Starts counting (once; later calls do nothing). Objects created before
// are not counted. False when this Qt has no hook table we know.
bool StartObjectCensus();
TObjectCount CountObjects();
