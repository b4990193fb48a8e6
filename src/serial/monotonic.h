// Time for the port's waits, on a clock that no change of the system's time moves.
#pragma once

#include <time.h>

inline long long MonotonicMicros() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}
