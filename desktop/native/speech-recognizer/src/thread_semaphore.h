// A counting semaphore on the standard library's mutex and condition variable, for platforms
// without a native one the command can use directly (and for tests).
#pragma once

#include "platform.h"

namespace palvorin {

Semaphore makeThreadSemaphore();

}  // namespace palvorin
