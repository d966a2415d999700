// The system facilities the transcription command uses besides the speech service.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace palvorin {

// Quality-of-service classes of the global queues that may start recognition.
enum class QosClass { background, utility, userInitiated };

// A counting semaphore created with count 0. Copies share one count, so a callback may hold
// its own copy and outlive the code that created it.
struct Semaphore {
  std::function<void()> wait;    // no time limit
  std::function<void()> signal;  // wakes one waiter or raises the count
};

struct Platform {
  // The value of an environment variable; nullopt when it is absent (an empty value is a value).
  std::function<std::optional<std::string>(const std::string& name)> environmentValue;
  // True for any existing file-system entry at the path, directories included.
  std::function<bool(const std::string& path)> fileExists;
  // The one-second availability wait.
  std::function<void()> sleepOneSecond;
  std::function<Semaphore()> makeSemaphore;
  // Runs the work asynchronously on the global queue of the class.
  std::function<void(QosClass qos, std::function<void()> work)> dispatchAsync;
};

// Why output could not be written: the system's error number and its description.
struct WriteFailure {
  int64_t code = 0;
  std::string description;
};

// Where the command writes; each call is one piece of output.
struct StandardStreams {
  // The failure that stopped the write, if any; part of the text may have been written.
  std::function<std::optional<WriteFailure>(const std::string& text)> writeOut;
  // A diagnostic that cannot be written has nowhere else to go: its failure is not reported.
  std::function<void(const std::string& text)> writeErr;
};

}  // namespace palvorin
