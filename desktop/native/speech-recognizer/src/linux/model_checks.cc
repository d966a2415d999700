#include "model_checks.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pocketsphinx.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>

#include "pocketsphinx_service.h"

namespace palvorin {
namespace {

FileIdentity identityOf(const std::string& path) {
  FileIdentity identity;
  identity.path = path;
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return identity;
  identity.present = true;
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.mode = status.st_mode;
  identity.size = status.st_size;
  identity.modifiedNanoseconds = status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec;
  identity.changedNanoseconds = status.st_ctim.tv_sec * 1'000'000'000LL + status.st_ctim.tv_nsec;
  return identity;
}

bool usableFile(const FileIdentity& identity) {
  return identity.present && S_ISREG(identity.mode) && identity.size <= kLargestModelFileBytes;
}

std::vector<std::string> entryNames(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* entries = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(entries)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(entries);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------------------------
// The probe child.

constexpr size_t kProbeSamples = 8000;  // half a second at 16 kHz

// A one-word keyphrase search made of the silence phone every model has: the decoder then
// scores every senone (-compallsen) without a language model or dictionary.
int scoreAcousticModel(const std::string& acousticModelDir) {
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acousticModelDir.c_str(),
                                 "-compallsen", "yes", "-mmap", "no", nullptr);
  if (config == nullptr) return 1;
  ps_decoder_t* decoder = ps_init(config);
  if (decoder == nullptr || ps_add_word(decoder, "probe", "SIL", FALSE) < 0 ||
      ps_set_keyphrase(decoder, "probe", "probe") < 0 || ps_set_search(decoder, "probe") < 0 ||
      ps_start_utt(decoder) < 0) {
    return 1;
  }
  std::minstd_rand noise(1);
  std::vector<int16_t> samples(kProbeSamples);
  for (int16_t& sample : samples)
    sample = static_cast<int16_t>(static_cast<int>(noise() % 2001) - 1000);
  if (ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) < 0) return 1;
  return ps_end_utt(decoder) < 0 ? 1 : 0;
}

// Never returns into the caller's code and runs none of the parent's exit handlers.
[[noreturn]] void runProbeChild(const std::string& acousticModelDir, pid_t parent) {
  // The kernel kills the child when the parent dies, even by SIGKILL or a crash. A parent that
  // died before this call was made can no longer be told apart from init but by its pid.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  // A host waits for the program's standard output and error to close: the child must not
  // hold them. What the library or a sanitizer's exit report would say belongs nowhere either.
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull < 0) ::_exit(1);
  for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(devNull, stream);
  ::_exit(scoreAcousticModel(acousticModelDir));
}

// ---------------------------------------------------------------------------------------------
// The parent: waiting within the limit, and never leaving the child behind.

// The running probe child, 0 when there is none. Whoever exchanges it for 0 first (the prober
// when the wait is over, or a signal handler) owns the child and alone kills or reaps it, so a
// pid is never signalled after it has been reaped and perhaps reused.
std::atomic<pid_t> probeChild{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");

constexpr int kReapPolls = 100;
constexpr long kReapPollNanoseconds = 10'000'000;  // 10 ms, so at most a second in all

// Async-signal-safe. SIGKILL ends even a stopped child; one stuck in uninterruptible I/O ends
// when the I/O does, which is not waited for beyond a second.
void killAndReap(pid_t child) {
  ::kill(child, SIGKILL);
  for (int poll = 0; poll < kReapPolls; ++poll) {
    if (::waitpid(child, nullptr, WNOHANG) != 0) return;  // reaped, or not ours to reap
    timespec pause = {0, kReapPollNanoseconds};
    ::nanosleep(&pause, nullptr);
  }
}

// The signal ends the process as it would have (SA_RESETHAND restored the default action and
// SA_NODEFER lets the raise through at once), with the probe child killed and reaped first.
void endWithTheProbeChild(int signalNumber) {
  const int savedErrno = errno;
  const pid_t child = probeChild.exchange(0);
  if (child > 0) killAndReap(child);
  ::raise(signalNumber);
  errno = savedErrno;
}

// Only termination signals whose action is still the default are taken over: one that the
// starter ignores (nohup, a shell's background job) stays ignored. An ignored SIGCHLD, which a
// starter may pass on through exec, would have the kernel reap the child itself, and waitpid
// could never tell how it ended: it gets its default action back.
void prepareSignalsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction childAction = {};
    if (::sigaction(SIGCHLD, nullptr, &childAction) == 0 &&
        (childAction.sa_flags & SA_SIGINFO) == 0 && childAction.sa_handler == SIG_IGN) {
      ::signal(SIGCHLD, SIG_DFL);
    }
    for (int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
      struct sigaction current = {};
      if (::sigaction(signalNumber, nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action = {};
      action.sa_handler = endWithTheProbeChild;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESETHAND | SA_NODEFER;
      ::sigaction(signalNumber, &action, nullptr);
    }
  });
}

// The child holds the pipe's only write end and never writes: the read end reports end of file
// once the child is gone. True when it is gone within the limit.
bool childEndedWithin(int readEnd, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd watched = {readEnd, POLLIN, 0};
    const int ready =
        ::poll(&watched, 1, static_cast<int>(std::min<int64_t>(left.count(), 60'000)));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char byte;
    const ssize_t got = ::read(readEnd, &byte, 1);
    if (got == 0) return true;
    if (got < 0 && errno != EINTR && errno != EAGAIN) return false;
  }
}

ProbeVerdict reapedVerdict(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return ProbeVerdict::fails;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ProbeVerdict::works : ProbeVerdict::fails;
}

}  // namespace

ModelFiles inspectModelFiles(const InstalledModel& model) {
  ModelFiles files;
  bool everyFileUsable = true;
  bool hasDefinition = false;
  for (const std::string& name : entryNames(model.acousticModelDir)) {
    files.identities.push_back(identityOf(model.acousticModelDir + "/" + name));
    everyFileUsable = everyFileUsable && usableFile(files.identities.back());
    hasDefinition = hasDefinition || name == "mdef";
  }
  for (const std::string* path : {&model.languageModelPath, &model.dictionaryPath}) {
    files.identities.push_back(identityOf(*path));
    everyFileUsable = everyFileUsable && usableFile(files.identities.back());
  }
  files.loadable = everyFileUsable && hasDefinition;
  return files;
}

ProbeVerdict probeAcousticModel(const std::string& acousticModelDir,
                                std::chrono::milliseconds timeLimit) {
  prepareSignalsOnce();
  int hangUp[2];
  if (::pipe2(hangUp, O_CLOEXEC) != 0) return ProbeVerdict::notRun;
  std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(hangUp[0]);
    runProbeChild(acousticModelDir, parent);
  }
  ::close(hangUp[1]);
  if (child < 0) {
    ::close(hangUp[0]);
    return ProbeVerdict::notRun;  // the next query tries again
  }
  probeChild.store(child);
  const bool ended = childEndedWithin(hangUp[0], timeLimit);
  ::close(hangUp[0]);
  // A signal handler that took the child is ending the process; the answer no longer matters.
  if (probeChild.exchange(0) == 0) return ProbeVerdict::fails;
  if (!ended) {
    killAndReap(child);
    return ProbeVerdict::timedOut;
  }
  return reapedVerdict(child);
}

}  // namespace palvorin
