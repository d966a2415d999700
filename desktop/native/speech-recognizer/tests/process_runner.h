// Runs a program to completion with its standard streams captured.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace palvorin::testing {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally in time
  std::string out;
  std::string err;
};

// Starts `arguments[0]` (searched on PATH) with the current environment, where each entry of
// `environment` is set (a value) or removed (nullopt), and waits for it within a generous bound.
ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& environment = {});

// A fresh directory under the system's temporary directory.
std::string makeTemporaryDirectory();

}  // namespace palvorin::testing
