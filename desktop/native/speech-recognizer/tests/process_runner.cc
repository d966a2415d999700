#include "process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace palvorin::testing {
namespace {

constexpr auto kProcessBound = std::chrono::seconds(240);

std::string readFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

std::vector<std::string> mergedEnvironment(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (changes.count(name) == 0) merged.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) merged.push_back(name + "=" + *value);
  }
  return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Polls for the exit, with a bound far above any normal run, so a hang fails the test rather
// than stalling the suite.
int waitWithinBound(pid_t child) {
  const auto deadline = std::chrono::steady_clock::now() + kProcessBound;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::string makeTemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/palvorin-speech-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return "";
  return pattern;
}

ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& environment) {
  ProcessResult result;
  const std::string directory = makeTemporaryDirectory();
  const std::string outPath = directory + "/stdout";
  const std::string errPath = directory + "/stderr";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = mergedEnvironment(environment);
  std::vector<char*> argv = pointersTo(argumentTexts);
  std::vector<char*> envp = pointersTo(environmentTexts);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == 0) result.status = waitWithinBound(child);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  ::rmdir(directory.c_str());
  return result;
}

}  // namespace palvorin::testing
