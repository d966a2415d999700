#include "thread_semaphore.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace palvorin {
namespace {

struct SemaphoreState {
  std::mutex mutex;
  std::condition_variable wakeup;
  int64_t count = 0;
};

}  // namespace

Semaphore makeThreadSemaphore() {
  auto state = std::make_shared<SemaphoreState>();
  Semaphore semaphore;
  semaphore.wait = [state] {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->wakeup.wait(lock, [&] { return state->count > 0; });
    --state->count;
  };
  semaphore.signal = [state] {
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      ++state->count;
    }
    state->wakeup.notify_one();
  };
  return semaphore;
}

}  // namespace palvorin
