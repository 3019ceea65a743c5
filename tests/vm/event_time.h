#pragma once

// The time the VM tests' guest-side lamps put at the end of each event
// they log: the system's clock in seconds, to the microsecond. The Wine
// tests read it back against the same clock to time a line's road.

#include <stdio.h>
#include <time.h>

#include <string>

inline std::string EventTime()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char text[40];
    snprintf(text, sizeof text, "%lld.%06ld", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    return text;
}
