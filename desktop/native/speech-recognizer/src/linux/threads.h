// Threads and their scheduling priority on Linux, where a nice value belongs to each thread.
#pragma once

#include <functional>

#include "platform.h"

namespace palvorin {

// Nice values standing in for the quality-of-service classes: background runs at the lowest
// priority, utility at a low one, userInitiated at the priority it inherited. A class never
// raises a thread above what it inherited, which an unprivileged process could not do anyway.
inline constexpr int kBackgroundNice = 19;
inline constexpr int kUtilityNice = 10;

int niceValueForClass(QosClass qos, int inheritedNice);

// The calling thread's nice value.
int currentThreadNice();

// Sets the calling thread's nice value; false when the system refuses it.
bool setCurrentThreadNice(int nice);

// Runs `body` on a new detached thread; false (and `body` not run) when none can be started.
bool startDetachedThread(std::function<void()> body);

}  // namespace palvorin
