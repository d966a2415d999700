// Run loops: one per thread, made on first use and held by that thread until it ends; sources
// per mode; runs that serve signalled version-0 sources and queued tap work; stop and wake-up
// from any thread.
#include "world/internal.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace desktop_sim {
namespace {

// The main thread's run loop, once anyone asked for it: made by the main thread's first
// CFRunLoopGetCurrent, or by a CFRunLoopGetMain on another thread, in which case the main thread
// takes it up as its own when it first asks. Lock held.
__CFRunLoop* g_main_loop = nullptr;

// The thread's own hold on its run loop. Dropped when the thread ends, so that a loop nobody
// else retained is freed with its thread, as on macOS, and later calls on it are use after free.
struct ThreadHold {
  __CFRunLoop* loop = nullptr;
  ~ThreadHold() {
    if (loop == nullptr) return;
    Lock lock(S().mu);
    if (loop == g_main_loop) g_main_loop = nullptr;
    loop->owner_alive = false;
    __CFRunLoop* held = loop;
    loop = nullptr;
    DropSystemRef(held, "thread exit");
  }
};

thread_local ThreadHold t_hold;

bool EntryMatchesMode(const RunLoopEntry& entry, const std::u16string& mode) {
  if (entry.mode == mode) return true;
  // The common modes are just the default mode here (no call adds others).
  return mode == Utf16Of(&g_default_mode) && entry.mode == Utf16Of(&g_common_modes);
}

bool ModeHasSources(const __CFRunLoop* loop, const std::u16string& mode) {
  for (const RunLoopEntry& entry : loop->entries) {
    if (entry.source->valid && EntryMatchesMode(entry, mode)) return true;
  }
  return false;
}

void RemoveHolder(__CFRunLoopSource* source, const __CFRunLoop* loop) {
  auto found = std::find(source->holders.begin(), source->holders.end(), loop);
  if (found != source->holders.end()) source->holders.erase(found);
}

// A tap whose source no run loop holds any more can never be serviced: what waits for it is
// dropped and its events pass.
void AfterSourceLeftLoop(__CFRunLoopSource* source) {
  if (!source->holders.empty() || source->port == nullptr || !source->port->tap) return;
  DropTapWork(source->port->tap.get());
}

Clock::time_point DeadlineAfter(CFTimeInterval seconds) {
  if (std::isnan(seconds) || seconds < 0) seconds = 0;
  seconds = std::min(seconds, 1.0e7);  // beyond any test, and far from overflowing the clock
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Lock held. A loop held by its thread (the system's reference), not yet running.
__CFRunLoop* NewRunLoop() {
  auto* loop = new __CFRunLoop();
  loop->owner_alive = true;
  loop->stop_pending = false;
  loop->run_depth = 0;
  InitObject(loop, kRunLoopTypeId, false);  // the thread's hold
  return loop;
}

}  // namespace

__CFRunLoop* CurrentLoopIfAny() {
  return t_hold.loop;
}

// Linux gives the process's first thread the process id as its thread id. Asked once per thread.
bool OnMainThread() {
  thread_local const bool main = static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
  return main;
}

bool LoopHoldsSource(const __CFRunLoop* loop, const __CFRunLoopSource* source) {
  return std::find(source->holders.begin(), source->holders.end(), loop) != source->holders.end();
}

bool LoopHasSourceInMode(const __CFRunLoop* loop, const __CFRunLoopSource* source,
                         const std::u16string& mode) {
  for (const RunLoopEntry& entry : loop->entries) {
    if (entry.source == source && EntryMatchesMode(entry, mode)) return true;
  }
  return false;
}

void WakeLoopsHolding(const __CFRunLoopSource* source) {
  for (__CFRunLoop* loop : source->holders) loop->cv.notify_all();
}

bool PerformSignaledSource(__CFRunLoop* loop, const std::u16string& mode, Lock& lock) {
  __CFRunLoopSource* chosen = nullptr;
  for (const RunLoopEntry& entry : loop->entries) {
    __CFRunLoopSource* source = entry.source;
    if (!source->version0 || !source->valid || !source->signaled) continue;
    if (!EntryMatchesMode(entry, mode)) continue;
    if (chosen == nullptr || source->order < chosen->order) chosen = source;
  }
  if (chosen == nullptr) return false;
  // As CoreFoundation does, the signal is cleared before perform runs, so a signal that arrives
  // during perform is served by a later pass.
  chosen->signaled = false;
  void (*const perform)(void*) = chosen->perform;
  void* const info = chosen->info;
  if (perform == nullptr) return true;
  chosen->system_refs++;  // perform may invalidate or release it; the object outlives the call
  lock.unlock();
  perform(info);
  lock.lock();
  DropSystemRef(chosen, "run loop source perform");
  return true;
}

void RemoveSourceEverywhere(__CFRunLoopSource* source) {
  std::vector<__CFRunLoop*> holders;
  holders.swap(source->holders);
  for (__CFRunLoop* loop : holders) {
    auto& entries = loop->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const RunLoopEntry& e) { return e.source == source; }),
                  entries.end());
    loop->cv.notify_all();
  }
  AfterSourceLeftLoop(source);
  for (size_t i = 0; i < holders.size(); ++i) DropSystemRef(source, "CFRunLoopSourceInvalidate");
}

void TeardownRunLoop(__CFRunLoop* loop) {
  std::vector<RunLoopEntry> entries;
  entries.swap(loop->entries);
  for (const RunLoopEntry& entry : entries) RemoveHolder(entry.source, loop);
  for (const RunLoopEntry& entry : entries) AfterSourceLeftLoop(entry.source);
  for (const RunLoopEntry& entry : entries) DropSystemRef(entry.source, "run loop teardown");
}

void TeardownSource(__CFRunLoopSource* source) {
  __CFMachPort* port = source->port;
  source->port = nullptr;
  source->valid = false;
  if (port == nullptr) return;
  if (port->source == source) port->source = nullptr;
  DropSystemRef(port, "CFRelease");
}

void TeardownPort(__CFMachPort* port) {
  port->valid = false;
  if (port->tap) {
    KillTap(port->tap.get());
    port->tap->port = nullptr;
    port->tap.reset();
  }
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;
using desktop_sim::UseAs;

const CFRunLoopMode kCFRunLoopDefaultMode = &desktop_sim::g_default_mode;
const CFRunLoopMode kCFRunLoopCommonModes = &desktop_sim::g_common_modes;

CFTypeID CFRunLoopGetTypeID(void) {
  return desktop_sim::kRunLoopTypeId;
}
CFTypeID CFRunLoopSourceGetTypeID(void) {
  return desktop_sim::kRunLoopSourceTypeId;
}
CFTypeID CFMachPortGetTypeID(void) {
  return desktop_sim::kMachPortTypeId;
}

CFRunLoopRef CFRunLoopGetCurrent(void) {
  desktop_sim::ThreadHold& hold = desktop_sim::t_hold;
  if (hold.loop != nullptr) return hold.loop;
  Lock lock(S().mu);
  const bool main = desktop_sim::OnMainThread();
  __CFRunLoop* loop = main ? desktop_sim::g_main_loop : nullptr;
  if (loop == nullptr) loop = desktop_sim::NewRunLoop();
  loop->owner = std::this_thread::get_id();
  if (main) desktop_sim::g_main_loop = loop;
  hold.loop = loop;
  return loop;
}

CFRunLoopRef CFRunLoopGetMain(void) {
  if (desktop_sim::OnMainThread()) return CFRunLoopGetCurrent();
  Lock lock(S().mu);
  // Made here for the main thread, which holds it from now on (its owner is recorded when the
  // main thread first asks for its current loop).
  if (desktop_sim::g_main_loop == nullptr) desktop_sim::g_main_loop = desktop_sim::NewRunLoop();
  return desktop_sim::g_main_loop;
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
  __CFRunLoop* loop = CFRunLoopGetCurrent();
  Lock lock(S().mu);
  auto* mode_string = UseAs<__CFString>(mode, desktop_sim::kStringTypeId, "CFRunLoopRunInMode");
  if (mode_string == nullptr) return kCFRunLoopRunFinished;
  if (desktop_sim::IsCommonModes(mode_string)) {
    RecordMisuse(Misuse::kBadArgument, "CFRunLoopRunInMode",
                 "kCFRunLoopCommonModes names a set of modes and cannot be run");
    return kCFRunLoopRunFinished;
  }
  const std::u16string mode_name = desktop_sim::Utf16Of(mode_string);
  // An empty mode finishes at once, without ever being the current mode.
  if (!desktop_sim::ModeHasSources(loop, mode_name)) return kCFRunLoopRunFinished;
  const desktop_sim::Clock::time_point deadline = desktop_sim::DeadlineAfter(seconds);
  // Every run starts afresh: a stop meant for an enclosing run stays with that run.
  const bool enclosing_stop = loop->stop_pending;
  loop->stop_pending = false;
  loop->run_depth++;
  CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
  for (;;) {
    if (loop->stop_pending) {
      loop->stop_pending = false;
      result = kCFRunLoopRunStopped;
      break;
    }
    if (desktop_sim::PerformSignaledSource(loop, mode_name, lock)) {
      if (returnAfterSourceHandled && !loop->stop_pending) {
        result = kCFRunLoopRunHandledSource;
        break;
      }
      continue;
    }
    const desktop_sim::Serviced serviced =
        desktop_sim::ServiceOne(loop, mode_name, lock, returnAfterSourceHandled != 0);
    if (serviced == desktop_sim::Serviced::kHandled && returnAfterSourceHandled) {
      result = kCFRunLoopRunHandledSource;
      break;
    }
    if (serviced != desktop_sim::Serviced::kNothing) continue;
    if (!desktop_sim::ModeHasSources(loop, mode_name)) {
      result = kCFRunLoopRunFinished;
      break;
    }
    if (desktop_sim::Clock::now() >= deadline) {
      result = kCFRunLoopRunTimedOut;
      break;
    }
    loop->cv.wait_until(lock, deadline);
  }
  loop->run_depth--;
  loop->stop_pending = enclosing_stop;
  return result;
}

void CFRunLoopRun(void) {
  for (;;) {
    const CFRunLoopRunResult result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0e7, false);
    if (result == kCFRunLoopRunStopped || result == kCFRunLoopRunFinished) return;
  }
}

void CFRunLoopStop(CFRunLoopRef rl) {
  Lock lock(S().mu);
  auto* loop = UseAs<__CFRunLoop>(rl, desktop_sim::kRunLoopTypeId, "CFRunLoopStop");
  // Only a run in progress can be stopped (CoreFoundation sets the flag only while the loop has
  // a current mode); a stop between two runs is lost.
  if (loop == nullptr || loop->run_depth == 0) return;
  loop->stop_pending = true;
  loop->cv.notify_all();
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
  Lock lock(S().mu);
  auto* loop = UseAs<__CFRunLoop>(rl, desktop_sim::kRunLoopTypeId, "CFRunLoopWakeUp");
  // Wakes a run that waits; a loop not waiting has nothing to wake and the call is lost. What
  // must not be lost is a signalled source, which every run serves before it waits.
  if (loop != nullptr) loop->cv.notify_all();
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock(S().mu);
  auto* loop = UseAs<__CFRunLoop>(rl, desktop_sim::kRunLoopTypeId, "CFRunLoopAddSource");
  auto* src =
      UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId, "CFRunLoopAddSource");
  auto* mode_string = UseAs<__CFString>(mode, desktop_sim::kStringTypeId, "CFRunLoopAddSource");
  if (loop == nullptr || src == nullptr || mode_string == nullptr || !src->valid) return;
  const std::u16string mode_name = desktop_sim::Utf16Of(mode_string);
  for (const RunLoopEntry& entry : loop->entries) {
    if (entry.source == src && entry.mode == mode_name) return;
  }
  loop->entries.push_back(RunLoopEntry{src, mode_name});
  src->holders.push_back(loop);
  src->system_refs++;
  loop->cv.notify_all();  // work may already be waiting for this source
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock(S().mu);
  auto* loop = UseAs<__CFRunLoop>(rl, desktop_sim::kRunLoopTypeId, "CFRunLoopRemoveSource");
  auto* src =
      UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId, "CFRunLoopRemoveSource");
  auto* mode_string = UseAs<__CFString>(mode, desktop_sim::kStringTypeId, "CFRunLoopRemoveSource");
  if (loop == nullptr || src == nullptr || mode_string == nullptr) return;
  const std::u16string mode_name = desktop_sim::Utf16Of(mode_string);
  auto& entries = loop->entries;
  auto found = std::find_if(entries.begin(), entries.end(), [&](const RunLoopEntry& e) {
    return e.source == src && e.mode == mode_name;
  });
  if (found == entries.end()) return;
  entries.erase(found);
  desktop_sim::RemoveHolder(src, loop);
  loop->cv.notify_all();
  desktop_sim::AfterSourceLeftLoop(src);
  desktop_sim::DropSystemRef(src, "CFRunLoopRemoveSource");
}

Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock(S().mu);
  auto* loop = UseAs<__CFRunLoop>(rl, desktop_sim::kRunLoopTypeId, "CFRunLoopContainsSource");
  auto* src = UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId,
                                       "CFRunLoopContainsSource");
  auto* mode_string =
      UseAs<__CFString>(mode, desktop_sim::kStringTypeId, "CFRunLoopContainsSource");
  if (loop == nullptr || src == nullptr || mode_string == nullptr) return false;
  const std::u16string mode_name = desktop_sim::Utf16Of(mode_string);
  for (const RunLoopEntry& entry : loop->entries) {
    if (entry.source != src) continue;
    if (desktop_sim::IsCommonModes(mode_string) ? entry.mode == mode_name
                                                : desktop_sim::EntryMatchesMode(entry, mode_name)) {
      return true;
    }
  }
  return false;
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
  Lock lock(S().mu);
  auto* src = UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId,
                                       "CFRunLoopSourceInvalidate");
  if (src == nullptr || !src->valid) return;
  src->valid = false;
  src->signaled = false;
  desktop_sim::RemoveSourceEverywhere(src);
}

CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef allocator, CFIndex order,
                                         CFRunLoopSourceContext* context) {
  (void)allocator;
  Lock lock(S().mu);
  if (context == nullptr) {
    RecordMisuse(Misuse::kNullArgument, "CFRunLoopSourceCreate", "NULL context");
    return nullptr;
  }
  if (context->version != 0) {
    RecordMisuse(Misuse::kBadArgument, "CFRunLoopSourceCreate",
                 "context version %ld: only version-0 sources are modelled",
                 static_cast<long>(context->version));
    return nullptr;
  }
  if (context->retain != nullptr || context->release != nullptr ||
      context->copyDescription != nullptr || context->equal != nullptr ||
      context->hash != nullptr || context->schedule != nullptr || context->cancel != nullptr) {
    RecordMisuse(Misuse::kBadArgument, "CFRunLoopSourceCreate",
                 "only perform and info are modelled: the other context callbacks are never "
                 "called here, pass NULL");
  }
  auto* source = new __CFRunLoopSource();
  source->valid = true;
  source->order = order;
  source->port = nullptr;
  source->version0 = true;
  // The context is copied, as on macOS: the caller's structure may go away.
  source->perform = context->perform;
  source->info = context->info;
  source->signaled = false;
  desktop_sim::InitObject(source, desktop_sim::kRunLoopSourceTypeId, true);
  return source;
}

void CFRunLoopSourceSignal(CFRunLoopSourceRef source) {
  Lock lock(S().mu);
  auto* src =
      UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId, "CFRunLoopSourceSignal");
  // Marks it only; the signal waits for a run of a loop that holds the source, and it takes
  // CFRunLoopWakeUp to end a wait already in progress.
  if (src != nullptr && src->valid) src->signaled = true;
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source) {
  Lock lock(S().mu);
  auto* src =
      UseAs<__CFRunLoopSource>(source, desktop_sim::kRunLoopSourceTypeId, "CFRunLoopSourceIsValid");
  return src != nullptr && src->valid;
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, CFMachPortRef port,
                                                 CFIndex order) {
  (void)allocator;
  Lock lock(S().mu);
  auto* mach_port =
      UseAs<__CFMachPort>(port, desktop_sim::kMachPortTypeId, "CFMachPortCreateRunLoopSource");
  if (mach_port == nullptr || !mach_port->valid) return nullptr;
  if (mach_port->source != nullptr) {
    // One source per port, as on macOS: a second call hands out the same source again.
    desktop_sim::AddProgramRef(mach_port->source);
    return mach_port->source;
  }
  auto* source = new __CFRunLoopSource();
  source->valid = true;
  source->order = order;
  source->port = mach_port;
  source->version0 = false;
  source->perform = nullptr;
  source->info = nullptr;
  source->signaled = false;
  desktop_sim::InitObject(source, desktop_sim::kRunLoopSourceTypeId, true);
  mach_port->system_refs++;
  mach_port->source = source;
  return source;
}

void CFMachPortInvalidate(CFMachPortRef port) {
  Lock lock(S().mu);
  auto* mach_port = UseAs<__CFMachPort>(port, desktop_sim::kMachPortTypeId, "CFMachPortInvalidate");
  if (mach_port == nullptr || !mach_port->valid) return;
  mach_port->valid = false;
  if (mach_port->tap) desktop_sim::KillTap(mach_port->tap.get());
  __CFRunLoopSource* source = mach_port->source;
  if (source != nullptr && source->valid) {
    source->valid = false;
    desktop_sim::RemoveSourceEverywhere(source);
  }
}

Boolean CFMachPortIsValid(CFMachPortRef port) {
  Lock lock(S().mu);
  auto* mach_port = UseAs<__CFMachPort>(port, desktop_sim::kMachPortTypeId, "CFMachPortIsValid");
  return mach_port != nullptr && mach_port->valid;
}
