#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "system_backend.h"
#include "thread_semaphore.h"
#include "threads.h"

namespace palvorin {
namespace {

std::optional<std::string> environmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool fileExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

void sleepOneSecond() {
  timespec remaining = {1, 0};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

// Stands in for a global queue of the class: each work item gets a fresh thread whose nice
// value follows the class, and whatever threads it starts inherit that value. When no thread
// can be started the work runs on the caller, which beats never running it: the caller would
// otherwise wait forever for an outcome.
void dispatchAsync(QosClass qos, std::function<void()> work) {
  const int inheritedNice = currentThreadNice();
  auto runAtClassPriority = [qos, inheritedNice, work] {
    setCurrentThreadNice(niceValueForClass(qos, inheritedNice));
    work();
  };
  if (!startDetachedThread(runAtClassPriority)) work();
}

}  // namespace

Platform makeSystemPlatform() {
  Platform platform;
  platform.environmentValue = environmentValue;
  platform.fileExists = fileExists;
  platform.sleepOneSecond = sleepOneSecond;
  platform.makeSemaphore = makeThreadSemaphore;
  platform.dispatchAsync = dispatchAsync;
  return platform;
}

}  // namespace palvorin
