#include "process_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace palvorin::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long processes of the group may take to go once the program has ended: the kernel
// delivers a parent-death signal, and a killed process needs a moment to die.
constexpr auto kLeftoverGrace = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(5);

struct ProcStat {
  pid_t pid = 0;
  char state = '?';
  pid_t parent = 0;
  pid_t group = 0;
};

// Every process's state, parent and group, from /proc/<pid>/stat (the name in parentheses may
// hold spaces and parentheses itself, so the fields are read after the last one).
std::vector<ProcStat> processTable() {
  std::vector<ProcStat> table;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return table;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stream("/proc/" + name + "/stat");
    std::string line;
    if (!std::getline(stream, line)) continue;
    const size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream fields(line.substr(nameEnd + 1));
    ProcStat stat;
    stat.pid = std::atoi(name.c_str());
    if (fields >> stat.state >> stat.parent >> stat.group) table.push_back(stat);
  }
  ::closedir(proc);
  return table;
}

bool alive(const ProcStat& stat) {
  return stat.state != 'Z' && stat.state != 'X';
}

std::vector<pid_t> liveProcessesInGroup(pid_t group) {
  std::vector<pid_t> members;
  for (const ProcStat& stat : processTable()) {
    if (stat.group == group && alive(stat)) members.push_back(stat.pid);
  }
  return members;
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

// In the forked child, before exec: async-signal-safe calls only.
[[noreturn]] void becomeTheProgram(char** argv, char** envp, const RunOptions& options, int outEnd,
                                   int errEnd) {
  ::setpgid(0, 0);
  const int devNull = ::open("/dev/null", O_RDONLY);
  if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
  switch (options.output) {
    case OutputTarget::captured:
    case OutputTarget::readerGone:
      ::dup2(outEnd, STDOUT_FILENO);
      break;
    case OutputTarget::fullDevice: {
      const int full = ::open("/dev/full", O_WRONLY);
      if (full >= 0) ::dup2(full, STDOUT_FILENO);
      break;
    }
    case OutputTarget::closed:
      ::close(STDOUT_FILENO);
      break;
  }
  ::dup2(errEnd, STDERR_FILENO);
  for (int ignored : options.ignoredSignals) ::signal(ignored, SIG_IGN);
  ::execvpe(argv[0], argv, envp);
  ::_exit(127);
}

// Reads both pipes until each reports its end, or the deadline passes; false at the deadline.
bool readToTheEnd(int outFd, int errFd, std::string& out, std::string& err,
                  Clock::time_point deadline) {
  struct Stream {
    int fd;
    std::string* text;
  };
  std::vector<Stream> open;
  if (outFd >= 0) open.push_back({outFd, &out});
  open.push_back({errFd, &err});
  while (!open.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    std::vector<pollfd> watched;
    for (const Stream& stream : open) watched.push_back({stream.fd, POLLIN, 0});
    const int ready = ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    for (size_t i = watched.size(); i-- > 0;) {
      if (watched[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(open[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        open[i].text->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  return true;
}

// Reaps the program by the deadline; false (the program still running) past it.
bool reapBy(pid_t child, Clock::time_point deadline, int& waitStatus) {
  for (;;) {
    const pid_t done = ::waitpid(child, &waitStatus, WNOHANG);
    if (done == child) return true;
    if (done < 0 && errno != EINTR) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::vector<pid_t> leftoversAfterGrace(pid_t group) {
  const auto deadline = Clock::now() + kLeftoverGrace;
  std::vector<pid_t> members = liveProcessesInGroup(group);
  while (!members.empty() && Clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
    members = liveProcessesInGroup(group);
  }
  return members;
}

}  // namespace

std::vector<pid_t> liveChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const ProcStat& stat : processTable()) {
    if (stat.parent == parent && alive(stat)) children.push_back(stat.pid);
  }
  return children;
}

std::string makeTemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/palvorin-speech-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return "";
  return pattern;
}

ProcessResult runProcess(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::optional<std::string>>& environment,
                         const RunOptions& options) {
  ProcessResult result;
  const auto deadline = Clock::now() + options.bound;
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = mergedEnvironment(environment);
  std::vector<char*> argv = pointersTo(argumentTexts);
  std::vector<char*> envp = pointersTo(environmentTexts);
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  if (options.output == OutputTarget::readerGone) ::close(outPipe[0]);
  const pid_t child = ::fork();
  if (child == 0) becomeTheProgram(argv.data(), envp.data(), options, outPipe[1], errPipe[1]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  const int outRead = options.output == OutputTarget::readerGone ? -1 : outPipe[0];
  if (child < 0) {
    if (outRead >= 0) ::close(outRead);
    ::close(errPipe[0]);
    return result;
  }
  ::setpgid(child, child);  // as the child does itself, so neither order races

  if (options.whileRunning) options.whileRunning(child);
  const bool streamsClosed = readToTheEnd(outRead, errPipe[0], result.out, result.err, deadline);
  if (outRead >= 0) ::close(outRead);
  ::close(errPipe[0]);
  int waitStatus = 0;
  const bool reaped = streamsClosed && reapBy(child, deadline, waitStatus);
  if (!reaped) {
    ::kill(-child, SIGKILL);
    ::waitpid(child, &waitStatus, 0);
    return result;
  }
  result.withinBound = true;
  if (WIFEXITED(waitStatus)) result.status = WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) result.signal = WTERMSIG(waitStatus);
  result.leftBehind = leftoversAfterGrace(child);
  // While the group has members its id cannot be reused, so this reaches only them.
  if (!result.leftBehind.empty()) ::kill(-child, SIGKILL);
  return result;
}

}  // namespace palvorin::testing
