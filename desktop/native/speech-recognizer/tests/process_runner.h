// Runs a program to completion with its standard streams captured, the way a host does: it
// reads both streams to their end and then waits for the exit status.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace palvorin::testing {

// Where the program's standard output goes.
enum class OutputTarget {
  captured,    // a pipe read to its end
  fullDevice,  // /dev/full: every write fails with ENOSPC
  closed,      // no descriptor at all
  readerGone,  // a pipe whose reading end is already closed
};

struct RunOptions {
  // Far above any normal run: a hang fails the test instead of stalling the suite. At the
  // bound the whole process group is killed.
  std::chrono::milliseconds bound = std::chrono::seconds(240);
  OutputTarget output = OutputTarget::captured;
  // Signals the program starts with ignored, as some starters pass them on.
  std::vector<int> ignoredSignals;
  // Called with the program's pid once it runs; the program leads a process group of its own.
  std::function<void(pid_t program)> whileRunning;
};

struct ProcessResult {
  int status = -1;           // exit status, or -1 when the process did not exit normally in time
  int signal = 0;            // the signal that ended it, if one did
  bool withinBound = false;  // both streams closed and the process ended within the bound
  std::string out;
  std::string err;
  // Processes of its group still alive (zombies aside) once it had ended and its streams had
  // closed, after a generous wait for them to go. They are killed before runProcess returns.
  std::vector<pid_t> leftBehind;
};

// Starts `arguments[0]` (searched on PATH) with the current environment, where each entry of
// `environment` is set (a value) or removed (nullopt), and waits for it within the bound.
ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& environment = {},
                         const RunOptions& options = {});

// Live processes whose parent is `parent` (zombies aside).
std::vector<pid_t> liveChildrenOf(pid_t parent);

// A fresh directory under the system's temporary directory.
std::string makeTemporaryDirectory();

}  // namespace palvorin::testing
