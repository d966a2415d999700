// input_bridge: the native layer of the desktop application's main process.
//
// One source file for both platforms. On macOS it is compiled as Objective-C++ against the SDK;
// on Linux as C++ against desktop-sim, which declares the same CoreFoundation and Quartz names.
// The include path is the only seam: the logic below never asks which platform it runs on.
//
// Threads: every exported function runs on a script thread. The only other thread is the tap
// thread, which owns the event tap and its run loop. The two meet in the module state below,
// through atomics only; the tap thread never waits for a script thread.

#include <ApplicationServices/ApplicationServices.h>

#include <napi.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Module state. Process-wide: one tap for the whole process, whichever host environment
// started it.

// The tap thread is a raw POSIX thread rather than std::thread: with exceptions disabled a
// std::thread that cannot be created terminates the host, and one still joinable when its
// destructor runs at process exit aborts it. A pthread handle reports failure as a code and
// has no destructor.
struct TapThread {
  pthread_t handle;
  bool joinable;
};

std::atomic<bool> g_running{false};
std::atomic<bool> g_tsfnActive{false};
std::atomic<bool> g_fnDown{false};
std::atomic<bool> g_rightCmdDown{false};
std::atomic<uint32_t> g_suppressMask{0};
TapThread g_tapThread{};
Napi::ThreadSafeFunction g_tsfn;
// Stored by the tap thread, read by stop to wake the loop. The reference the tap thread takes
// is kept until stop has joined the thread and is released there, so stop can never wake a
// run loop that has already been given up.
std::atomic<CFRunLoopRef> g_tapRunLoop{nullptr};
// The tap thread's wake-up: a version-0 source in its run loop whose perform stops the loop from
// inside the run. stop signals it, and a signal waits for the next run when it lands between two
// runs, where a bare CFRunLoopStop would be lost. Owned like g_tapRunLoop: stored by the tap
// thread, released by stop after the join.
std::atomic<CFRunLoopSourceRef> g_wakeSource{nullptr};
// Written and read only on the tap thread. g_tap is null while the tap thread waits for the
// grant to return. g_accessLost: the callback found the grant gone when the system disabled the
// tap, and has stopped the run for the thread to remove the tap.
CFMachPortRef g_tap = nullptr;
CFRunLoopSourceRef g_tapSource = nullptr;
bool g_accessLost = false;

// Start, stop and the teardown paths may run on different script threads (worker threads load
// the addon too); this serialises them. The tap thread never takes it.
std::mutex g_lifecycleMutex;

// The environment whose thread-safe function the tap reports to. Its clean-up hook ends the
// tap when that environment is torn down (a worker terminated, the host shutting down).
struct TapOwner {
  napi_env env;
};
TapOwner* g_tapOwner = nullptr;
bool g_exitHandlerInstalled = false;

constexpr CGEventMask kTapEventMask = CGEventMaskBit(kCGEventFlagsChanged) |
                                      CGEventMaskBit(kCGEventOtherMouseDown) |
                                      CGEventMaskBit(kCGEventOtherMouseUp);
static_assert(kTapEventMask == 0x6001000, "tap mask covers flags-changed and other-mouse events");

// Each run of the tap thread's loop lasts this long, and after each the thread checks that the
// process may still filter events (or, while the grant is missing, whether it is back). When the
// user withdraws the grant, the window server holds the whole system's input back for the tap
// until it times the tap out, which takes up to about 30 s: the check ends that within one run.
// Four checks a second cost four tap creations; a shorter period would cost more for little.
constexpr CFTimeInterval kRunSliceSeconds = 0.25;
constexpr int64_t kRightCommandKeyCode = 54;
// The Fn (Globe) key's own key codes: kVK_Function, which current Apple keyboards send for the
// Globe key as well, and 179, which is reported for it too.
constexpr int64_t kFnKeyCodes[] = {63, 179};
// IOLLEvent.h's device-dependent modifier bits: which key of each pair is down. Keyboards set
// them in the flags of every event.
constexpr CGEventFlags kDeviceModifierBits =
    NX_DEVICELCTLKEYMASK | NX_DEVICELSHIFTKEYMASK | NX_DEVICERSHIFTKEYMASK | NX_DEVICELCMDKEYMASK |
    NX_DEVICERCMDKEYMASK | NX_DEVICELALTKEYMASK | NX_DEVICERALTKEYMASK | NX_DEVICERCTLKEYMASK;
static_assert(kDeviceModifierBits == 0x207f, "the eight device-dependent modifier bits");
constexpr int32_t kMinSuppressibleButton = 1;
constexpr int32_t kMaxSuppressibleButton = 31;

// ---------------------------------------------------------------------------------------------
// Event records. A delivery carries only this small plain record across threads; the script
// object is built from it on the script thread. It stays small and trivially copyable so the
// callable that carries it needs no allocation of its own beyond the queue entry.

enum class RecordKind : uint8_t { kModifier, kButton, kStartFailed, kTapDisabled, kTapEnabled };
enum class Modifier : uint8_t { kFn, kRightCommand };

struct TapRecord {
  int32_t button;
  RecordKind kind;
  Modifier modifier;
  bool down;
  bool suppressed;
};

constexpr const char* kModifierNames[] = {"fn", "rightCommand"};

const char* PhaseName(bool down) {
  return down ? "down" : "up";
}

Napi::Object BuildRecordObject(Napi::Env env, const TapRecord& record) {
  Napi::Object object = Napi::Object::New(env);
  switch (record.kind) {
    case RecordKind::kModifier:
      object.Set("event", kModifierNames[static_cast<int>(record.modifier)]);
      object.Set("phase", PhaseName(record.down));
      break;
    case RecordKind::kButton:
      object.Set("button", Napi::Number::New(env, static_cast<double>(record.button)));
      object.Set("phase", PhaseName(record.down));
      object.Set("suppressed", Napi::Boolean::New(env, record.suppressed));
      break;
    case RecordKind::kStartFailed:
      object.Set("event", "start_failed");
      object.Set("reason", "tap_create_returned_null");
      break;
    case RecordKind::kTapDisabled:
      object.Set("event", "tap_disabled");
      object.Set("reason", "permission_revoked");
      break;
    case RecordKind::kTapEnabled:
      object.Set("event", "tap_enabled");
      object.Set("reason", "permission_granted");
      break;
  }
  return object;
}

// Runs on the script thread. A callback that throws leaves its exception pending for the host,
// which reports it as uncaught; the tap itself is unaffected.
void DeliverRecord(Napi::Env env, Napi::Function callback, const TapRecord& record) {
  Napi::Object object = BuildRecordObject(env, record);
  callback.Call(env.Undefined(), {object});
}

// Tap thread. Never blocks: the queue is unbounded and the call non-blocking. When the
// thread-safe function is closing, node-addon-api destroys the delivery and the record is lost.
void QueueRecord(const TapRecord& record) {
  if (!g_tsfnActive.load(std::memory_order_acquire)) return;
  g_tsfn.NonBlockingCall(
      [record](Napi::Env env, Napi::Function callback) { DeliverRecord(env, callback, record); });
}

void ReportModifierEdge(Modifier modifier, bool down) {
  QueueRecord(TapRecord{0, RecordKind::kModifier, modifier, down, false});
}

// ---------------------------------------------------------------------------------------------
// Modifier state (tap thread).

bool IsFnKey(int64_t keycode) {
  return std::find(std::begin(kFnKeyCodes), std::end(kFnKeyCodes), keycode) !=
         std::end(kFnKeyCodes);
}

// An event of the Fn key itself. Its presses and releases alternate, so a press that finds Fn
// down follows a release the tap never saw (it happened while the tap was not there, and the
// system's state could not show it): that release is reported before the press, so no press is
// ever lost.
void UpdateFnFromKey(bool down) {
  const bool wasDown = g_fnDown.exchange(down);
  if (down && wasDown) ReportModifierEdge(Modifier::kFn, false);
  if (down || wasDown) ReportModifierEdge(Modifier::kFn, down);
}

void UpdateRightCommand(bool down) {
  if (g_rightCmdDown.exchange(down) != down) ReportModifierEdge(Modifier::kRightCommand, down);
}

// Reports the edges that happened while the tap was not there (before start, while stopped,
// while the grant was missing, while the system had the tap disabled), from the HID system's
// modifier state now. Called right after the tap is installed or enabled again, so a change
// after the reading also arrives as an event, which then finds the state already current.
void ResyncModifiers() {
  const CGEventFlags state = CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState);
  // Only a clear Fn bit is certain. The state keeps the bit after arrow, function and navigation
  // keys are released (and after Fn itself, on some Macs), so a set bit is no proof that Fn is
  // held, and a press made up from it would start a recording nobody asked for. A release the
  // state hides this way is reported with the next press (UpdateFnFromKey).
  if ((state & kCGEventFlagMaskSecondaryFn) == 0 && g_fnDown.exchange(false)) {
    ReportModifierEdge(Modifier::kFn, false);
  }
  if ((state & kDeviceModifierBits) != 0) {
    UpdateRightCommand((state & NX_DEVICERCMDKEYMASK) != 0);
  } else if ((state & kCGEventFlagMaskCommand) == 0) {
    UpdateRightCommand(false);
  }
  // Otherwise a Command key is down and the state does not say which: the state stands.
}

// ---------------------------------------------------------------------------------------------
// Tap callback (tap thread, inside the run loop's runs).

void ReenableTap() {
  if (g_tap != nullptr) CGEventTapEnable(g_tap, true);
}

CGEventRef PassEvent(CGEventTapProxy /*proxy*/, CGEventType /*type*/, CGEventRef event,
                     void* /*userInfo*/) {
  return event;
}

// Whether the process may filter events right now. The preflight checks can go on answering yes
// after the user has deleted the application's row in Privacy & Security, and a tap re-enabled
// then holds back the whole system's input; creating an active tap is refused at once. So the
// check creates one, where the real tap is, for the one event type nothing ever sends
// (kCGEventNull): it holds back no event in the moment it exists, and releasing its port
// removes it.
bool ActiveTapPermitted() {
  CFMachPortRef probe =
      CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(kCGEventNull), PassEvent, nullptr);
  if (probe == nullptr) return false;
  CFRelease(probe);
  return true;
}

// The system disabled the tap: it was too slow, or user input switched it off, or the user
// withdrew the grant and the tap starved until it timed out. Re-enabled without the grant, an
// active tap would hold back the whole system's input again, so it is turned back on only after
// the live check; otherwise the run stops and the tap thread removes the tap and waits for the
// grant. The run loop is this thread's own, borrowed, and stopped from inside its run.
void HandleTapDisabled() {
  if (ActiveTapPermitted()) {
    ReenableTap();
    ResyncModifiers();
    return;
  }
  g_accessLost = true;
  CFRunLoopStop(CFRunLoopGetCurrent());
}

// Fn is taken from the Fn key's own events only: arrow, function and navigation keys carry the
// Fn bit too, and the hardware's flag state can keep it after Fn is released, so another key's
// event with the bit says nothing about Fn.
void HandleFlagsChanged(CGEventRef event) {
  const CGEventFlags flags = CGEventGetFlags(event);
  const int64_t keycode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);

  if (IsFnKey(keycode)) UpdateFnFromKey((flags & kCGEventFlagMaskSecondaryFn) != 0);

  if ((flags & kDeviceModifierBits) != 0) {
    // A keyboard's event: the right key's own device bit, whichever key changed. The Command
    // mask would not do, as it stays set while the left key is still down.
    UpdateRightCommand((flags & NX_DEVICERCMDKEYMASK) != 0);
  } else if (keycode == kRightCommandKeyCode) {
    // No device bits at all (synthetic events from other software): the Command mask shared by
    // both keys, so only a change of the right key's own key code may move the state.
    UpdateRightCommand((flags & kCGEventFlagMaskCommand) != 0);
  }
}

// Returns true when the event is to be swallowed.
bool HandleOtherMouse(CGEventType type, CGEventRef event) {
  const auto systemButton = static_cast<int32_t>(
      static_cast<uint32_t>(CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber)));
  if (systemButton != 3 && systemButton != 4) return false;

  const int32_t button = systemButton + 1;
  // One reading of the mask decides both what the script is told and what happens to the event.
  const bool suppressed = (g_suppressMask.load(std::memory_order_acquire) & (1u << button)) != 0;
  QueueRecord(TapRecord{button, RecordKind::kButton, Modifier::kFn, type == kCGEventOtherMouseDown,
                        suppressed});
  return suppressed;
}

CGEventRef TapCallback(CGEventTapProxy /*proxy*/, CGEventType type, CGEventRef event,
                       void* /*userInfo*/) {
  switch (type) {
    case kCGEventTapDisabledByTimeout:
    case kCGEventTapDisabledByUserInput:
      HandleTapDisabled();
      return event;
    case kCGEventFlagsChanged:
      HandleFlagsChanged(event);
      return event;
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
      return HandleOtherMouse(type, event) ? nullptr : event;
    default:
      return event;
  }
}

// ---------------------------------------------------------------------------------------------
// Tap thread.

void ReportStartFailed() {
  QueueRecord(TapRecord{0, RecordKind::kStartFailed, Modifier::kFn, false, false});
}

void ReportTapState(RecordKind kind) {
  QueueRecord(TapRecord{0, kind, Modifier::kFn, false, false});
}

bool InstallTap(CFRunLoopRef runLoop) {
  g_tap = CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                           kTapEventMask, TapCallback, nullptr);
  if (g_tap == nullptr) return false;
  g_tapSource = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, g_tap, 0);
  if (g_tapSource == nullptr) {
    // Without a source the loop would have nothing to wait on and spin; treat it as refused.
    CFRelease(g_tap);
    g_tap = nullptr;
    return false;
  }
  CFRunLoopAddSource(runLoop, g_tapSource, kCFRunLoopCommonModes);
  CGEventTapEnable(g_tap, true);
  return true;
}

void RemoveTap(CFRunLoopRef runLoop) {
  if (g_tapSource != nullptr) {
    CFRunLoopRemoveSource(runLoop, g_tapSource, kCFRunLoopCommonModes);
    CFRelease(g_tapSource);
    g_tapSource = nullptr;
  }
  if (g_tap != nullptr) {
    CGEventTapEnable(g_tap, false);
    CFRelease(g_tap);
    g_tap = nullptr;
  }
}

void StopCurrentRunLoop(void* /*info*/) {
  CFRunLoopStop(CFRunLoopGetCurrent());
}

// Null when the source cannot be made; stop then falls back on the loop's slices.
CFRunLoopSourceRef AddWakeSource(CFRunLoopRef runLoop) {
  CFRunLoopSourceContext context{};  // version 0, no info, nothing to retain
  context.perform = StopCurrentRunLoop;
  CFRunLoopSourceRef source = CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context);
  if (source != nullptr) CFRunLoopAddSource(runLoop, source, kCFRunLoopCommonModes);
  return source;
}

// One run of the loop. A loop with nothing in it (no tap while the grant is missing, and no wake
// source) returns at once; the slice is then waited out all the same, so the checks keep their
// period rather than spinning.
void RunSlice() {
  if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, kRunSliceSeconds, false) == kCFRunLoopRunFinished) {
    std::this_thread::sleep_for(std::chrono::duration<double>(kRunSliceSeconds));
  }
}

// After every run. Installed: remove the tap once the grant is gone, reported once. Waiting:
// installing the tap is itself the live check; once it succeeds the script hears of it once and
// the modifier edges of the gap follow.
void CheckAccess(CFRunLoopRef runLoop) {
  if (g_tap != nullptr) {
    if (!g_accessLost && ActiveTapPermitted()) return;
    g_accessLost = false;
    RemoveTap(runLoop);
    ReportTapState(RecordKind::kTapDisabled);
  } else if (InstallTap(runLoop)) {
    ReportTapState(RecordKind::kTapEnabled);
    ResyncModifiers();
  }
}

void TapThreadMain() {
  CFRunLoopRef runLoop = CFRunLoopGetCurrent();
  CFRetain(runLoop);
  g_tapRunLoop.store(runLoop, std::memory_order_seq_cst);
  g_accessLost = false;
  // A stop that came first leaves nothing to install: stop is waiting in the join.
  if (!g_running.load(std::memory_order_seq_cst)) return;

  if (!InstallTap(runLoop)) {
    ReportStartFailed();
    return;
  }
  ResyncModifiers();
  // The source is published before the loop's first look at g_running, and stop clears
  // g_running before it looks for the source (both in one sequentially consistent order):
  // either stop finds the source and signals it, or the loop finds the flag already clear.
  // The loop goes on while the grant is missing, without a tap, until stop.
  CFRunLoopSourceRef wake = AddWakeSource(runLoop);
  g_wakeSource.store(wake, std::memory_order_seq_cst);
  while (g_running.load(std::memory_order_seq_cst)) {
    RunSlice();
    if (!g_running.load(std::memory_order_seq_cst)) break;
    CheckAccess(runLoop);
  }
  // Out of every loop from here on: a later signal from stop does nothing. The reference stays
  // for stop to release after the join.
  if (wake != nullptr) CFRunLoopSourceInvalidate(wake);
  RemoveTap(runLoop);
}

void* TapThreadEntry(void* /*unused*/) {
  TapThreadMain();
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Ending the tap: shared by stop, environment teardown and process exit.

enum class TsfnDisposal {
  kRelease,  // stop: queued records still reach the callback after stop returns
  kDiscard,  // teardown and exit: the host closes the function itself; calling it is unsafe
};

// Makes the tap thread leave its run at once, wherever it is: inside a run, the source's perform
// stops that run; between two runs, the signal waits and the next run returns as it starts.
// Harmless once the thread has left its loop (a refused tap, or a thread that ended on its
// own): the source is then invalid and the loop runs no more, so both calls do nothing.
void WakeTapThread() {
  CFRunLoopSourceRef wake = g_wakeSource.load(std::memory_order_seq_cst);
  CFRunLoopRef runLoop = g_tapRunLoop.load(std::memory_order_seq_cst);
  if (wake != nullptr) CFRunLoopSourceSignal(wake);
  if (runLoop == nullptr) return;
  // Without a source only a run in progress can be stopped; the thread then sees the cleared
  // flag after its current slice at the latest.
  if (wake == nullptr) CFRunLoopStop(runLoop);
  CFRunLoopWakeUp(runLoop);
}

// Caller holds g_lifecycleMutex. Returns false when the tap was not running.
bool EndTap(TsfnDisposal disposal) {
  if (!g_running.load(std::memory_order_acquire)) return false;
  if (disposal == TsfnDisposal::kDiscard) {
    // Past this point the environment may be going away: stop queueing before anything else.
    g_tsfnActive.store(false, std::memory_order_release);
  }
  g_running.store(false, std::memory_order_seq_cst);
  WakeTapThread();
  if (g_tapThread.joinable) {
    pthread_join(g_tapThread.handle, nullptr);
    g_tapThread.joinable = false;
  }
  // The thread has ended: nothing else can touch these references now.
  if (CFRunLoopSourceRef wake = g_wakeSource.exchange(nullptr, std::memory_order_acq_rel)) {
    CFRelease(wake);
  }
  if (CFRunLoopRef runLoop = g_tapRunLoop.exchange(nullptr, std::memory_order_acq_rel)) {
    CFRelease(runLoop);
  }
  if (g_tsfnActive.exchange(false, std::memory_order_acq_rel) &&
      disposal == TsfnDisposal::kRelease) {
    g_tsfn.Release();
  }
  // The old function lives on with the host until its queue has drained; the slot is free for
  // the next start at once, and the old callback keeps the records queued before this stop.
  g_tsfn = Napi::ThreadSafeFunction();
  return true;
}

void EndTapAtExit() {
  std::lock_guard<std::mutex> lock(g_lifecycleMutex);
  EndTap(TsfnDisposal::kDiscard);
}

void EndTapAtTeardown(void* arg) {
  auto* owner = static_cast<TapOwner*>(arg);
  std::lock_guard<std::mutex> lock(g_lifecycleMutex);
  if (owner == g_tapOwner) {
    EndTap(TsfnDisposal::kDiscard);
    g_tapOwner = nullptr;
  }
  delete owner;
}

// Caller holds g_lifecycleMutex.
void AdoptOwner(napi_env env) {
  if (!g_exitHandlerInstalled) {
    // Runs before the static destructors, so the tap thread is gone before they do.
    g_exitHandlerInstalled = std::atexit(EndTapAtExit) == 0;
  }
  auto* owner = new TapOwner{env};
  if (napi_add_env_cleanup_hook(env, EndTapAtTeardown, owner) != napi_ok) {
    delete owner;
    owner = nullptr;
  }
  g_tapOwner = owner;
}

// Caller holds g_lifecycleMutex. A hook registered by another environment cannot be removed
// from here; it stays registered and finds itself stale when it runs.
void DisownTap(napi_env env) {
  if (g_tapOwner == nullptr) return;
  if (g_tapOwner->env == env &&
      napi_remove_env_cleanup_hook(env, EndTapAtTeardown, g_tapOwner) == napi_ok) {
    delete g_tapOwner;
  }
  g_tapOwner = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Script functions.

Napi::Value RaiseTypeError(Napi::Env env, const char* usage) {
  Napi::TypeError::New(env, usage).ThrowAsJavaScriptException();
  return env.Null();
}

Napi::Value RaiseRangeError(Napi::Env env, const char* message) {
  Napi::RangeError::New(env, message).ThrowAsJavaScriptException();
  return env.Null();
}

// Caller holds g_lifecycleMutex.
void UndoStart() {
  g_running.store(false, std::memory_order_release);
  g_tsfnActive.store(false, std::memory_order_release);
  g_tsfn.Release();
  g_tsfn = Napi::ThreadSafeFunction();
}

Napi::Value Start(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::lock_guard<std::mutex> lock(g_lifecycleMutex);
  if (g_running.load(std::memory_order_acquire)) return Napi::Boolean::New(env, true);
  if (info.Length() < 1 || !info[0].IsFunction()) {
    return RaiseTypeError(env, "start(callback) requires a function");
  }

  g_tsfn = Napi::ThreadSafeFunction::New(env, info[0].As<Napi::Function>(), "input-bridge-callback",
                                         0, 1);
  if (static_cast<napi_threadsafe_function>(g_tsfn) == nullptr) {
    // The host's error is pending; nothing was set.
    return env.Null();
  }
  g_tsfnActive.store(true, std::memory_order_release);
  g_running.store(true, std::memory_order_release);

  const int err = pthread_create(&g_tapThread.handle, nullptr, TapThreadEntry, nullptr);
  if (err != 0) {
    UndoStart();
    Napi::Error::New(env, "start: the tap thread could not be created")
        .ThrowAsJavaScriptException();
    return env.Null();
  }
  g_tapThread.joinable = true;
  AdoptOwner(env);
  return Napi::Boolean::New(env, true);
}

Napi::Value Stop(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::lock_guard<std::mutex> lock(g_lifecycleMutex);
  const bool stopped = EndTap(TsfnDisposal::kRelease);
  if (stopped) DisownTap(env);
  return Napi::Boolean::New(env, stopped);
}

Napi::Value IsRunning(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), g_running.load(std::memory_order_acquire));
}

Napi::Value SetSuppress(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsBoolean()) {
    return RaiseTypeError(env, "setSuppress(button: number, on: boolean)");
  }
  const int32_t button = info[0].As<Napi::Number>().Int32Value();
  const bool on = info[1].As<Napi::Boolean>().Value();
  if (button < kMinSuppressibleButton || button > kMaxSuppressibleButton) {
    return RaiseRangeError(env, "button out of range");
  }
  // Script functions run on several threads at once (workers load the addon too), so each change
  // is one read-modify-write: two calls never lose each other's bit. Its release half is what
  // the tap thread's acquire load pairs with.
  const uint32_t bit = 1u << button;
  const uint32_t mask = on ? g_suppressMask.fetch_or(bit, std::memory_order_acq_rel) | bit
                           : g_suppressMask.fetch_and(~bit, std::memory_order_acq_rel) & ~bit;
  return Napi::Number::New(env, static_cast<double>(mask));
}

// ---------------------------------------------------------------------------------------------
// Synthetic input (script thread only). Every event is created without a source, posted at the
// HID level and released within the call; a creation that fails is skipped and the rest of the
// sequence still goes out. Posted events carry no marker: the tap sees them like hardware, and
// only ever other-mouse events of the middle button, which it does not report.
//
// An event made with no source starts with the modifiers the user holds (the session's combined
// state): with right Command held for push-to-talk, a click would be a Command-click and a
// scroll a zoom. So every event leaves with the bits held keys put there cleared (each
// modifier's device-independent mask and device-dependent bit, and the bits arrow and function
// keys add while held), the modifiers the call names added, and every other bit the platform
// gave it kept: the non-coalesced bit, and on arrow, function and navigation keys their own Fn
// and numeric-pad bits, which shortcuts such as Control-Arrow need.

constexpr int32_t kMaxClickCount = 3;
constexpr uint32_t kScrollWheelCount = 2;
constexpr CGKeyCode kNoKeyCode = 0xFFFF;
constexpr CGKeyCode kTypingKeyCode = 0;
constexpr size_t kTypeSliceUnits = 16;

struct MouseButtonRow {
  const char* name;
  CGMouseButton button;
  CGEventType down;
  CGEventType up;
};

constexpr MouseButtonRow kLeftButton = {"left", kCGMouseButtonLeft, kCGEventLeftMouseDown,
                                        kCGEventLeftMouseUp};
// Names are matched whole and case-sensitively; anything else is the left button.
constexpr MouseButtonRow kNamedButtons[] = {
    {"right", kCGMouseButtonRight, kCGEventRightMouseDown, kCGEventRightMouseUp},
    {"middle", kCGMouseButtonCenter, kCGEventOtherMouseDown, kCGEventOtherMouseUp},
};

struct KeyName {
  const char* name;
  CGKeyCode code;
};

struct ModifierName {
  const char* name;
  CGEventFlags flag;
};

constexpr ModifierName kModifierFlags[] = {
    {"cmd", kCGEventFlagMaskCommand},      {"command", kCGEventFlagMaskCommand},
    {"meta", kCGEventFlagMaskCommand},     {"ctrl", kCGEventFlagMaskControl},
    {"control", kCGEventFlagMaskControl},  {"alt", kCGEventFlagMaskAlternate},
    {"option", kCGEventFlagMaskAlternate}, {"shift", kCGEventFlagMaskShift},
    {"fn", kCGEventFlagMaskSecondaryFn},
};

// Every device-independent modifier mask, from Caps Lock (bit 16) to Fn (bit 23), with the
// numeric-pad and help bits between them that held keys set as well.
constexpr CGEventFlags kModifierMasks = kCGEventFlagMaskAlphaShift | kCGEventFlagMaskShift |
                                        kCGEventFlagMaskControl | kCGEventFlagMaskAlternate |
                                        kCGEventFlagMaskCommand | kCGEventFlagMaskNumericPad |
                                        kCGEventFlagMaskHelp | kCGEventFlagMaskSecondaryFn;
static_assert(kModifierMasks == 0xff0000, "the device-independent modifier masks");
constexpr CGEventFlags kHeldKeyBits = kModifierMasks | kDeviceModifierBits;

// A key's own bits as the platform gives them to its events, whoever holds what: Fn on arrow,
// function and navigation keys, the numeric pad on arrows too. Key codes of the key table.
struct KeyOwnBits {
  CGKeyCode first;
  CGKeyCode last;
  CGEventFlags flags;
};

constexpr KeyOwnBits kKeyOwnBits[] = {
    {96, 101, kCGEventFlagMaskSecondaryFn},   // F5, F6, F7, F3, F8, F9
    {103, 103, kCGEventFlagMaskSecondaryFn},  // F11
    {109, 109, kCGEventFlagMaskSecondaryFn},  // F10
    {111, 111, kCGEventFlagMaskSecondaryFn},  // F12
    {115, 122, kCGEventFlagMaskSecondaryFn},  // Home, Page Up, Forward Delete, F4, End, F2,
                                              // Page Down, F1
    {123, 126, kCGEventFlagMaskSecondaryFn | kCGEventFlagMaskNumericPad},  // the arrows
};

CGEventFlags KeyOwnFlags(int64_t code) {
  for (const KeyOwnBits& row : kKeyOwnBits) {
    if (code >= row.first && code <= row.last) return row.flags;
  }
  return 0;
}

// The flags the event was created with, minus what held keys put there (but for the bits of its
// own that `own` keeps), plus `named`. Set only when that changes them.
void ClearHeldKeys(CGEventRef event, CGEventFlags own, CGEventFlags named) {
  const CGEventFlags created = CGEventGetFlags(event);
  const CGEventFlags flags = (created & ~kHeldKeyBits) | (created & own) | named;
  if (flags != created) CGEventSetFlags(event, flags);
}

// Posting never fails visibly, so there is nothing to report; the event is ours to release.
void PostAndRelease(CGEventRef event) {
  CGEventPost(kCGHIDEventTap, event);
  CFRelease(event);
}

// Pointer events name no modifier.
void PostPointerEvent(CGEventRef event) {
  ClearHeldKeys(event, 0, 0);
  PostAndRelease(event);
}

bool IsAsciiUpper(char byte) {
  return byte >= 'A' && byte <= 'Z';
}

char AsciiLower(char byte) {
  return IsAsciiUpper(byte) ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// ASCII letters only, byte by byte; every other byte (UTF-8 included) is kept as it is.
std::string AsciiLower(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

// Whole-text comparison: a name with an embedded NUL matches nothing.
bool SameText(const std::string& text, const char* name) {
  return text.size() == std::strlen(name) && std::memcmp(text.data(), name, text.size()) == 0;
}

CGKeyCode KeyCodeForName(const std::string& name) {
  // Virtual key codes of the physical keys (ANSI positions), not characters.
  static constexpr KeyName kMap[] = {
      {"return", 36},
      {"enter", 36},
      {"tab", 48},
      {"space", 49},
      {"delete", 51},
      {"backspace", 51},
      {"forwarddelete", 117},
      {"escape", 53},
      {"esc", 53},
      {"home", 115},
      {"end", 119},
      {"pageup", 116},
      {"pagedown", 121},
      {"left", 123},
      {"leftarrow", 123},
      {"right", 124},
      {"rightarrow", 124},
      {"up", 126},
      {"uparrow", 126},
      {"down", 125},
      {"downarrow", 125},
      {"f1", 122},
      {"f2", 120},
      {"f3", 99},
      {"f4", 118},
      {"f5", 96},
      {"f6", 97},
      {"f7", 98},
      {"f8", 100},
      {"f9", 101},
      {"f10", 109},
      {"f11", 103},
      {"f12", 111},
      {"a", 0},
      {"b", 11},
      {"c", 8},
      {"d", 2},
      {"e", 14},
      {"f", 3},
      {"g", 5},
      {"h", 4},
      {"i", 34},
      {"j", 38},
      {"k", 40},
      {"l", 37},
      {"m", 46},
      {"n", 45},
      {"o", 31},
      {"p", 35},
      {"q", 12},
      {"r", 15},
      {"s", 1},
      {"t", 17},
      {"u", 32},
      {"v", 9},
      {"w", 13},
      {"x", 7},
      {"y", 16},
      {"z", 6},
      {"0", 29},
      {"1", 18},
      {"2", 19},
      {"3", 20},
      {"4", 21},
      {"5", 23},
      {"6", 22},
      {"7", 26},
      {"8", 28},
      {"9", 25},
      {"slash", 44},
      {"/", 44},
      {"period", 47},
      {".", 47},
      {"comma", 43},
      {",", 43},
      {"minus", 27},
      {"-", 27},
      {"equal", 24},
      {"=", 24},
      {"semicolon", 41},
      {";", 41},
      {"quote", 39},
      {"'", 39},
      {"backslash", 42},
      {"\\", 42},
      {"grave", 50},
      {"`", 50},
      {"leftbracket", 33},
      {"[", 33},
      {"rightbracket", 30},
      {"]", 30},
  };
  static_assert(sizeof(kMap) / sizeof(kMap[0]) == 91, "the key table has 91 names");
  const std::string lower = AsciiLower(name);
  for (const KeyName& entry : kMap) {
    if (SameText(lower, entry.name)) return entry.code;
  }
  return kNoKeyCode;
}

CGEventFlags ModifierFlag(const std::string& name) {
  const std::string lower = AsciiLower(name);
  for (const ModifierName& entry : kModifierFlags) {
    if (SameText(lower, entry.name)) return entry.flag;
  }
  return 0;
}

const MouseButtonRow& MouseButtonNamed(const std::string& name) {
  for (const MouseButtonRow& row : kNamedButtons) {
    if (name == row.name) return row;
  }
  return kLeftButton;
}

void PostMouseMove(CGPoint point, CGMouseButton button) {
  if (CGEventRef move = CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, point, button)) {
    PostPointerEvent(move);
  }
}

void PostClickPair(const MouseButtonRow& row, CGPoint point, int32_t clickState) {
  CGEventRef down = CGEventCreateMouseEvent(nullptr, row.down, point, row.button);
  CGEventRef up = CGEventCreateMouseEvent(nullptr, row.up, point, row.button);
  if (down != nullptr) {
    CGEventSetIntegerValueField(down, kCGMouseEventClickState, clickState);
    PostPointerEvent(down);
  }
  if (up != nullptr) {
    CGEventSetIntegerValueField(up, kCGMouseEventClickState, clickState);
    PostPointerEvent(up);
  }
}

Napi::Value PostClick(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsNumber()) {
    return RaiseTypeError(env, "postClick(x, y, button?, clickCount?)");
  }
  const CGPoint point = CGPointMake(info[0].As<Napi::Number>().DoubleValue(),
                                    info[1].As<Napi::Number>().DoubleValue());
  std::string buttonName = "left";
  if (info.Length() >= 3 && info[2].IsString()) buttonName = info[2].As<Napi::String>().Utf8Value();
  int32_t clickCount = 1;
  if (info.Length() >= 4 && info[3].IsNumber()) {
    const int32_t n = info[3].As<Napi::Number>().Int32Value();
    clickCount = n < 1 ? 1 : (n > kMaxClickCount ? kMaxClickCount : n);
  }
  const MouseButtonRow& row = MouseButtonNamed(buttonName);
  PostMouseMove(point, row.button);
  for (int32_t k = 1; k <= clickCount; ++k) PostClickPair(row, point, k);
  return Napi::Boolean::New(env, true);
}

Napi::Value PostMove(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsNumber()) {
    return RaiseTypeError(env, "postMove(x, y)");
  }
  PostMouseMove(CGPointMake(info[0].As<Napi::Number>().DoubleValue(),
                            info[1].As<Napi::Number>().DoubleValue()),
                kCGMouseButtonLeft);
  return Napi::Boolean::New(env, true);
}

// The wheel's vertical sense is the opposite of dy's. The one dy whose negation does not fit in
// 32 bits saturates instead of wrapping back to itself.
int32_t VerticalWheel(int32_t dy) {
  return dy == INT32_MIN ? INT32_MAX : -dy;
}

Napi::Value PostScroll(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsNumber()) {
    return RaiseTypeError(env, "postScroll(dx, dy)");
  }
  const int32_t dx = info[0].As<Napi::Number>().Int32Value();
  const int32_t dy = info[1].As<Napi::Number>().Int32Value();
  if (CGEventRef scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel,
                                                        kScrollWheelCount, VerticalWheel(dy), dx)) {
    PostPointerEvent(scroll);
  }
  return Napi::Boolean::New(env, true);
}

// The array index a property key names, or nothing: numbers as V8 hands out element keys, and
// canonical index strings ("7", never "07" or "7.0") as any other source of keys spells them.
constexpr uint32_t kNoIndex = UINT32_MAX;  // 2^32 - 1 is a length, never an index

uint32_t ArrayIndexOfKey(const Napi::Value& key) {
  if (key.IsNumber()) {
    const double value = key.As<Napi::Number>().DoubleValue();
    if (!(value >= 0 && value < kNoIndex) ||
        value != static_cast<double>(static_cast<uint32_t>(value))) {
      return kNoIndex;
    }
    return static_cast<uint32_t>(value);
  }
  if (!key.IsString()) return kNoIndex;
  const std::string text = key.As<Napi::String>().Utf8Value();
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return kNoIndex;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kNoIndex;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value < kNoIndex ? static_cast<uint32_t>(value) : kNoIndex;
}

// The indices below length that the array holds as its own properties, ascending. A sparse
// array is as cheap as its elements, whatever its length; a hole is not visited (it would read
// as undefined, which is skipped, unless a prototype lends it an element: a hole stays a hole).
// False when the keys could not be read, with the script exception pending.
bool OwnIndices(Napi::Env env, const Napi::Array& array, uint32_t length,
                std::vector<uint32_t>* indices) {
  napi_value keys = nullptr;
  // Non-enumerable own elements count as held: defineProperty makes them so by default.
  if (napi_get_all_property_names(env, array, napi_key_own_only, napi_key_skip_symbols,
                                  napi_key_keep_numbers, &keys) != napi_ok) {
    Napi::Error::New(env).ThrowAsJavaScriptException();
    return false;
  }
  const Napi::Array keyArray(env, keys);
  const uint32_t count = keyArray.Length();
  indices->reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t index = ArrayIndexOfKey(keyArray.Get(k));
    if (index < length) indices->push_back(index);
  }
  // Ordinary arrays list their elements in order already; the elements are read in index order.
  if (!std::is_sorted(indices->begin(), indices->end())) {
    std::sort(indices->begin(), indices->end());
  }
  return true;
}

// ORs in the flag of each modifier name the array holds; unknown and non-string elements are
// skipped. Stops at the first element that cannot be read (a throwing getter): false, with that
// exception pending, so the caller posts nothing.
bool ReadModifierFlags(Napi::Env env, const Napi::Array& modifiers, CGEventFlags* flags) {
  const uint32_t length = modifiers.Length();
  std::vector<uint32_t> indices;
  if (!OwnIndices(env, modifiers, length, &indices)) return false;
  for (uint32_t index : indices) {
    const Napi::Value element = modifiers.Get(index);
    if (element.IsEmpty()) return false;
    if (!element.IsString()) continue;
    *flags |= ModifierFlag(element.As<Napi::String>().Utf8Value());
  }
  return true;
}

// Cleared whether or not a modifier was named: a push-to-talk key held down would turn a plain
// key press into a shortcut (Return into Command-Return).
void PostKeyEvent(CGEventRef event, CGEventFlags named) {
  ClearHeldKeys(event, KeyOwnFlags(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode)),
                named);
  PostAndRelease(event);
}

Napi::Value PostKey(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    return RaiseTypeError(env, "postKey(key, modifiers?)");
  }
  const CGKeyCode code = KeyCodeForName(info[0].As<Napi::String>().Utf8Value());
  if (code == kNoKeyCode) return Napi::Boolean::New(env, false);
  CGEventFlags flags = 0;
  if (info.Length() >= 2 && info[1].IsArray()) {
    // A modifier that could not be read must not turn a shortcut into a plain key press.
    if (!ReadModifierFlags(env, info[1].As<Napi::Array>(), &flags)) return env.Null();
  }
  CGEventRef down = CGEventCreateKeyboardEvent(nullptr, code, true);
  CGEventRef up = CGEventCreateKeyboardEvent(nullptr, code, false);
  if (down != nullptr) PostKeyEvent(down, flags);
  if (up != nullptr) PostKeyEvent(up, flags);
  return Napi::Boolean::New(env, true);
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units of the slice that starts at offset: 16, or the rest of the text, except that a surrogate
// pair whose high half would end the slice moves whole into the next one, so no application
// receives half a character.
size_t SliceLength(const std::u16string& text, size_t offset) {
  const size_t remaining = text.size() - offset;
  if (remaining <= kTypeSliceUnits) return remaining;
  const size_t last = offset + kTypeSliceUnits - 1;
  if (IsHighSurrogate(text[last]) && IsLowSurrogate(text[last + 1])) return kTypeSliceUnits - 1;
  return kTypeSliceUnits;
}

// Typed text must not turn into shortcuts while a push-to-talk key is down: it names no modifier.
void PostTypedEvent(CGEventRef event, const char16_t* units, size_t count) {
  CGEventKeyboardSetUnicodeString(event, count, reinterpret_cast<const UniChar*>(units));
  PostKeyEvent(event, 0);
}

Napi::Value PostType(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    return RaiseTypeError(env, "postType(text)");
  }
  const std::u16string text = info[0].As<Napi::String>().Utf16Value();
  for (size_t offset = 0; offset < text.size();) {
    const size_t count = SliceLength(text, offset);
    CGEventRef down = CGEventCreateKeyboardEvent(nullptr, kTypingKeyCode, true);
    CGEventRef up = CGEventCreateKeyboardEvent(nullptr, kTypingKeyCode, false);
    if (down != nullptr) PostTypedEvent(down, text.data() + offset, count);
    if (up != nullptr) PostTypedEvent(up, text.data() + offset, count);
    offset += count;
  }
  return Napi::Boolean::New(env, true);
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot. Script thread only; nothing is kept between calls. Every value a Copy
// or Create call hands out is released by the routine that obtained it; array items are
// borrowed from their array.

// A length-counted UTF-8 byte string.
using Text = std::string;

constexpr char kLossByte = '?';
constexpr CFIndex kMaxUtf8CharBytes = 4;

// The whole text, an unpaired surrogate (which UTF-8 cannot carry) as the loss byte.
// CoreFoundation's UTF-8 conversion is strict and never writes the loss byte: it stops at such a
// unit, so the conversion resumes past it, once per unpaired surrogate.
Text CfStringToUtf8(CFStringRef string) {
  if (string == nullptr) return Text();
  const CFIndex length = CFStringGetLength(string);
  const CFIndex max = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
  // Three bytes per unit bounds every character, and a lost unit takes one.
  Text buffer(static_cast<size_t>(std::max<CFIndex>(max, 0)) + 1, '\0');
  const auto capacity = static_cast<CFIndex>(buffer.size());
  CFIndex written = 0;
  CFIndex at = 0;
  while (at < length) {
    CFIndex used = 0;
    const CFIndex converted = CFStringGetBytes(
        string, CFRangeMake(at, length - at), kCFStringEncodingUTF8, kLossByte, false,
        reinterpret_cast<UInt8*>(&buffer[static_cast<size_t>(written)]), capacity - written, &used);
    written += std::max<CFIndex>(used, 0);
    at += std::max<CFIndex>(converted, 0);
    // Stopped short with room for any character left: the unit at `at` has no UTF-8 form.
    // Without that room the buffer was too small after all, and what fitted is the answer.
    if (at >= length || capacity - written < kMaxUtf8CharBytes) break;
    buffer[static_cast<size_t>(written++)] = kLossByte;
    ++at;
  }
  buffer.resize(static_cast<size_t>(written));
  return buffer;
}

// printf's %.6g, with a full stop whatever LC_NUMERIC the host process has set.
Text FormatNumber(double value) {
  char buffer[48];
  const int n = std::snprintf(buffer, sizeof buffer, "%.6g", value);
  Text text(buffer, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1) : 0);
  const char* point = std::localeconv()->decimal_point;
  if (point != nullptr && point[0] != '\0' && std::strcmp(point, ".") != 0) {
    const size_t at = text.find(point);
    if (at != Text::npos) text.replace(at, std::strlen(point), ".");
  }
  return text;
}

bool IsOfType(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}

// How the target application is answering during one call: every request to it is a round trip
// that may wait up to its messaging timeout (6 s unless set) when the application is busy. The
// call gives the application a time budget, makes each request with a timeout of at most
// kMessagingTimeoutSeconds and no longer than the budget still allows, and gives up once the
// budget is spent or the application has answered kAXErrorCannotComplete twice in a row.
using SteadyClock = std::chrono::steady_clock;

constexpr float kMessagingTimeoutSeconds = 0.5f;
constexpr int32_t kDefaultBudgetMs = 3000;
constexpr int kCannotCompleteRunToStop = 2;

struct AppResponse {
  SteadyClock::time_point deadline;
  int cannotCompleteRun;
  bool gaveUp;
};

AppResponse StartResponse(int32_t budgetMs) {
  return AppResponse{SteadyClock::now() + std::chrono::milliseconds(budgetMs), 0, false};
}

// Whether a request may still be made through element; if so, sets the element's messaging
// timeout for it. The timeout belongs to this element object alone (not to other objects for
// the same element), so every element asked is given it; it is a local call, no round trip. The
// system-wide element is never given one: that would change the whole process's timeout.
bool MayAsk(AppResponse& response, AXUIElementRef element) {
  if (response.gaveUp) return false;
  const double left = std::chrono::duration<double>(response.deadline - SteadyClock::now()).count();
  if (left <= 0) {
    response.gaveUp = true;
    return false;
  }
  // 0 would mean "the process-wide timeout" to the service, hence the floor of 1 ms.
  const float timeout =
      static_cast<float>(std::max(0.001, std::min<double>(kMessagingTimeoutSeconds, left)));
  AXUIElementSetMessagingTimeout(element, timeout);
  return true;
}

void NoteAnswer(AppResponse& response, AXError code) {
  if (code != kAXErrorCannotComplete) {
    response.cannotCompleteRun = 0;
  } else if (++response.cannotCompleteRun >= kCannotCompleteRunToStop) {
    response.gaveUp = true;
  }
}

// The attribute's value, owned by the caller, or null when it is missing; *result (when asked
// for) receives the service's code. A value handed out together with an error code is released
// here rather than leaked.
CFTypeRef CopyAxAttribute(AXUIElementRef element, CFStringRef attribute,
                          AXError* result = nullptr) {
  CFTypeRef value = nullptr;
  const AXError code = AXUIElementCopyAttributeValue(element, attribute, &value);
  if (result != nullptr) *result = code;
  if (code != kAXErrorSuccess && value != nullptr) {
    CFRelease(value);
    value = nullptr;
  }
  return value;
}

// The same through an application that may stop answering: nothing is asked once it has.
CFTypeRef CopyAxAttribute(AppResponse& response, AXUIElementRef element, CFStringRef attribute,
                          AXError* result = nullptr) {
  if (!MayAsk(response, element)) {
    if (result != nullptr) *result = kAXErrorCannotComplete;
    return nullptr;
  }
  AXError code = kAXErrorSuccess;
  CFTypeRef value = CopyAxAttribute(element, attribute, &code);
  NoteAnswer(response, code);
  if (result != nullptr) *result = code;
  return value;
}

// The value as text, given its type id.
Text TextOfTyped(CFTypeRef value, CFTypeID type) {
  if (type == CFStringGetTypeID()) return CfStringToUtf8(static_cast<CFStringRef>(value));
  if (type == CFNumberGetTypeID()) {
    double number = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
    return FormatNumber(number);
  }
  if (type == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "true" : "false";
  }
  return Text();
}

Text TextOfValue(CFTypeRef value) {
  return TextOfTyped(value, CFGetTypeID(value));
}

Text CopyAxStringAttr(AppResponse& response, AXUIElementRef element, CFStringRef attribute) {
  CFTypeRef value = CopyAxAttribute(response, element, attribute);
  if (value == nullptr) return Text();
  Text text = TextOfValue(value);
  CFRelease(value);
  return text;
}

void ClipText(Text& text, int32_t limit) {
  for (char& byte : text) {
    if (byte == '\t' || byte == '\n' || byte == '\r') byte = ' ';
  }
  if (limit < 0) return;
  if (text.size() > static_cast<size_t>(limit)) {
    text.resize(static_cast<size_t>(limit));
    text += "\xE2\x80\xA6";
  }
}

bool HasAxPrefix(const Text& name) {
  return name.size() > 2 && name[0] == 'A' && name[1] == 'X';
}

Text StripAxPrefix(const Text& name) {
  return HasAxPrefix(name) ? name.substr(2) : name;
}

struct AxFrame {
  double x;
  double y;
  double w;
  double h;
};

// The attributes the walk reads of every element, in the order of a batched request.
enum AttributeSlot {
  kRoleSlot,
  kSubroleSlot,
  kTitleSlot,
  kDescriptionSlot,
  kValueSlot,
  kHelpSlot,
  kPlaceholderSlot,
  kPositionSlot,
  kSizeSlot,
  kEnabledSlot,
  kSelectedSlot,
  kChildrenSlot,
  kSlotCount,
};

// The constant names of the slots (CFSTR takes literals only, hence the switch).
CFStringRef SlotAttribute(int slot) {
  switch (slot) {
    case kRoleSlot:
      return CFSTR("AXRole");
    case kSubroleSlot:
      return CFSTR("AXSubrole");
    case kTitleSlot:
      return CFSTR("AXTitle");
    case kDescriptionSlot:
      return CFSTR("AXDescription");
    case kValueSlot:
      return CFSTR("AXValue");
    case kHelpSlot:
      return CFSTR("AXHelp");
    case kPlaceholderSlot:
      return CFSTR("AXPlaceholderValue");
    case kPositionSlot:
      return CFSTR("AXPosition");
    case kSizeSlot:
      return CFSTR("AXSize");
    case kEnabledSlot:
      return CFSTR("AXEnabled");
    case kSelectedSlot:
      return CFSTR("AXSelected");
    default:
      return CFSTR("AXChildren");
  }
}

// One element's attributes, null where missing, with their type ids (0 where missing), asked for
// once. Either borrowed from the answer to one batched request (batch, owned) or copied one by
// one (owned, each).
struct ElementValues {
  CFArrayRef batch;
  CFTypeRef slots[kSlotCount];
  CFTypeID types[kSlotCount];
};

void ReleaseElementValues(ElementValues& values) {
  if (values.batch != nullptr) {
    CFRelease(values.batch);
  } else {
    for (CFTypeRef value : values.slots) {
      if (value != nullptr) CFRelease(value);
    }
  }
}

// A batched answer stands in for an attribute that failed with an AXValue holding the error,
// or with kCFNull: either reads as missing, as a failed single copy does.
bool IsMissingPlaceholder(CFTypeRef item, CFTypeID type) {
  if (item == nullptr || type == CFNullGetTypeID()) return true;
  return type == AXValueGetTypeID() &&
         AXValueGetType(static_cast<AXValueRef>(item)) == kAXValueTypeAXError;
}

// Whether a failed batched request means the application cannot take batched requests, so the
// element is worth asking attribute by attribute. AXUIElement.h names kAXErrorNotImplemented ("the
// process does not fully support the accessibility API") and kAXErrorIllegalArgument for this
// call. kAXErrorAttributeUnsupported and kAXErrorFailure are taken the same way: neither says
// the application is unresponsive or the element gone, and asking singly costs one element's
// requests. kAXErrorCannotComplete, kAXErrorInvalidUIElement and kAXErrorAPIDisabled concern the
// application or the element, and single requests would fail the same way.
bool MeansBatchUnsupported(AXError code) {
  return code == kAXErrorNotImplemented || code == kAXErrorIllegalArgument ||
         code == kAXErrorAttributeUnsupported || code == kAXErrorFailure;
}

Text SlotText(const ElementValues& values, int slot) {
  return values.slots[slot] != nullptr ? TextOfTyped(values.slots[slot], values.types[slot])
                                       : Text();
}

// Reads an AXValue of the given type into target, which keeps its preset when the value is
// missing. Only an AXValue can be asked for its structure; anything else is ignored.
void ReadAxValueOf(const ElementValues& values, int slot, AXValueType type, void* target) {
  if (values.slots[slot] != nullptr && values.types[slot] == AXValueGetTypeID()) {
    AXValueGetValue(static_cast<AXValueRef>(values.slots[slot]), type, target);
  }
}

AxFrame ReadAxFrame(const ElementValues& values) {
  CGPoint point = CGPointZero;
  ReadAxValueOf(values, kPositionSlot, kAXValueTypeCGPoint, &point);
  CGSize size = CGSizeZero;
  ReadAxValueOf(values, kSizeSlot, kAXValueTypeCGSize, &size);
  return AxFrame{point.x, point.y, size.width, size.height};
}

struct AxStateWords {
  const char* words[4];
  int count;
};

bool IsFloatNumberType(CFNumberType type) {
  switch (type) {
    case kCFNumberFloat32Type:
    case kCFNumberFloat64Type:
    case kCFNumberFloatType:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
      return true;
    default:
      return false;
  }
}

// The kind word of a settable value, or null for a kind without one.
const char* ValueKindWord(CFTypeRef value, CFTypeID type) {
  if (type == CFBooleanGetTypeID()) return "boolean";
  if (type == CFNumberGetTypeID()) {
    return IsFloatNumberType(CFNumberGetType(static_cast<CFNumberRef>(value))) ? "float"
                                                                               : "integer";
  }
  if (type == CFStringGetTypeID()) return "string";
  return nullptr;
}

// The value when it is a boolean: 1 true, 0 false, -1 missing or another kind.
int BooleanState(const ElementValues& values, int slot) {
  if (values.slots[slot] == nullptr || values.types[slot] != CFBooleanGetTypeID()) return -1;
  return CFBooleanGetValue(static_cast<CFBooleanRef>(values.slots[slot])) ? 1 : 0;
}

// Whether the element's "AXValue" is settable: one request, its code ignored but for noting how
// the application answers.
bool ReadValueSettable(AppResponse& response, AXUIElementRef element) {
  if (!MayAsk(response, element)) return false;
  Boolean settable = false;
  NoteAnswer(response, AXUIElementIsAttributeSettable(element, CFSTR("AXValue"), &settable));
  return settable;
}

// The kind word of a settable value comes from the "AXValue" already read with the others.
AxStateWords ReadAxStateFlags(const ElementValues& values, bool settable) {
  AxStateWords state{{}, 0};
  if (BooleanState(values, kEnabledSlot) == 0) state.words[state.count++] = "disabled";
  if (BooleanState(values, kSelectedSlot) == 1) state.words[state.count++] = "selected";
  if (settable) {
    state.words[state.count++] = "settable";
    if (CFTypeRef value = values.slots[kValueSlot]) {
      if (const char* kind = ValueKindWord(value, values.types[kValueSlot])) {
        state.words[state.count++] = kind;
      }
    }
  }
  return state;
}

struct RoleName {
  std::string_view role;
  std::string_view name;
};

// "AXWebArea" reads "web area": a space before each capital that follows a non-capital.
Text SpellOutRole(const Text& rest) {
  Text out;
  out.push_back(AsciiLower(rest[0]));
  for (size_t i = 1; i < rest.size(); ++i) {
    if (IsAsciiUpper(rest[i]) && !IsAsciiUpper(rest[i - 1])) out.push_back(' ');
    out.push_back(AsciiLower(rest[i]));
  }
  return out;
}

Text HumanRoleName(const Text& role, const Text& subrole) {
  // Scanned from the top; the first match wins.
  static constexpr RoleName kMap[] = {
      {"AXButton", "button"},
      {"AXCheckBox", "checkbox"},
      {"AXPopUpButton", "pop up button"},
      {"AXRadioButton", "radio button"},
      {"AXRadioGroup", "radio group"},
      {"AXTextField", "text field"},
      {"AXTextArea", "text entry area"},
      {"AXStaticText", "text"},
      {"AXLink", "link"},
      {"AXImage", "image"},
      {"AXHeading", "heading"},
      {"AXGroup", "container"},
      {"AXSplitGroup", "split group"},
      {"AXSplitter", "splitter"},
      {"AXSlider", "slider"},
      {"AXIncrementor", "stepper"},
      {"AXProgressIndicator", "progress indicator"},
      {"AXBusyIndicator", "busy indicator"},
      {"AXValueIndicator", "value indicator"},
      {"AXScrollArea", "scroll area"},
      {"AXScrollBar", "scroll bar"},
      {"AXList", "content list"},
      {"AXOutline", "outline"},
      {"AXTable", "table"},
      {"AXRow", "row"},
      {"AXColumn", "column"},
      {"AXCell", "cell"},
      {"AXBrowser", "browser"},
      {"AXToolbar", "toolbar"},
      {"AXTabGroup", "tab group"},
      {"AXTab", "tab"},
      {"AXMenuBar", "menu bar"},
      {"AXMenuBarItem", "menu bar item"},
      {"AXMenu", "menu"},
      {"AXMenuItem", "menu item"},
      {"AXSheet", "sheet"},
      {"AXDrawer", "drawer"},
      {"AXDisclosureTriangle", "disclosure triangle"},
      {"AXSwitch", "switch"},
      {"AXLayoutArea", "layout area"},
      {"AXLayoutItem", "layout item"},
      {"AXLevelIndicator", "level indicator"},
      {"AXComboBox", "combo box"},
      {"AXDateField", "date field"},
      {"AXTimeField", "time field"},
      {"AXColorWell", "color well"},
      {"AXHandle", "handle"},
      {"AXGrid", "grid"},
      {"AXRelevanceIndicator", "relevance indicator"},
      {"AXRuler", "ruler"},
      {"AXRulerMarker", "ruler marker"},
      {"AXMatte", "matte"},
      {"AXUnknown", "unknown"},
      {"AXSystemWide", "system wide"},
      {"AXApplication", "application"},
  };
  static_assert(sizeof kMap / sizeof kMap[0] == 55, "the role table has 55 rows");
  if (role == "AXWindow") {
    return subrole == "AXDialog" || subrole == "AXSystemDialog" ? "dialog" : "standard window";
  }
  for (const RoleName& row : kMap) {
    if (std::string_view(role) == row.role) return Text(row.name);
  }
  if (HasAxPrefix(role)) return SpellOutRole(StripAxPrefix(role));
  return role;
}

struct DumpOptions {
  int32_t maxDepth = 16;
  int32_t maxChildrenPerNode = 60;
  int32_t maxNodes = 1500;
  int32_t textTruncate = 140;
  int32_t timeoutMs = kDefaultBudgetMs;  // the application's time budget for the whole dump
};

struct DumpCtx {
  const DumpOptions& options;
  Text& text;
  Napi::Object& nodes;
  Napi::Env env;
  int32_t nodeCount;
  int32_t focusedNodeId;
  AXUIElementRef focusedElement;  // borrowed from the caller, may be null
  Text focusedRole;
  Text focusedLabel;
  AppResponse& response;
  CFArrayRef slotNames;   // the names of a batched request, owned by the caller; null: none
  bool batchUnsupported;  // the application said it does not implement batched requests
};

// Every slot through one batched request, or one request per slot when the application cannot
// take batched requests. Nothing is asked once the application has stopped answering.
ElementValues ReadElementValues(AXUIElementRef element, DumpCtx& ctx) {
  ElementValues values{nullptr, {}, {}};
  if (ctx.slotNames != nullptr && !ctx.batchUnsupported) {
    if (!MayAsk(ctx.response, element)) return values;
    CFArrayRef batch = nullptr;
    const AXError code = AXUIElementCopyMultipleAttributeValues(element, ctx.slotNames, 0, &batch);
    NoteAnswer(ctx.response, code);
    if (code == kAXErrorSuccess && batch != nullptr && CFArrayGetCount(batch) == kSlotCount) {
      values.batch = batch;
      const void* items[kSlotCount] = {};
      CFArrayGetValues(batch, CFRangeMake(0, kSlotCount), items);
      for (int slot = 0; slot < kSlotCount; ++slot) {
        const CFTypeID type = items[slot] != nullptr ? CFGetTypeID(items[slot]) : 0;
        if (IsMissingPlaceholder(items[slot], type)) continue;
        values.slots[slot] = items[slot];
        values.types[slot] = type;
      }
      return values;
    }
    if (batch != nullptr) CFRelease(batch);
    if (code == kAXErrorSuccess || !MeansBatchUnsupported(code)) return values;
    // Not implemented is the process's answer for every element; the others may be one
    // element's.
    if (code == kAXErrorNotImplemented) ctx.batchUnsupported = true;
  }
  for (int slot = 0; slot < kSlotCount; ++slot) {
    values.slots[slot] = CopyAxAttribute(ctx.response, element, SlotAttribute(slot));
    if (values.slots[slot] != nullptr) values.types[slot] = CFGetTypeID(values.slots[slot]);
  }
  return values;
}

// The batched request's names as one array, made once per dump; null when it cannot be made,
// and then every element is read attribute by attribute.
CFArrayRef CreateSlotNames() {
  const void* names[kSlotCount];
  for (int slot = 0; slot < kSlotCount; ++slot) names[slot] = SlotAttribute(slot);
  return CFArrayCreate(kCFAllocatorDefault, names, kSlotCount, &kCFTypeArrayCallBacks);
}

// The five texts of a node, read and clipped.
struct NodeTexts {
  Text title;
  Text description;
  Text value;
  Text help;
  Text placeholder;
};

NodeTexts ReadNodeTexts(const ElementValues& values, int32_t limit) {
  NodeTexts texts{SlotText(values, kTitleSlot), SlotText(values, kDescriptionSlot),
                  SlotText(values, kValueSlot), SlotText(values, kHelpSlot),
                  SlotText(values, kPlaceholderSlot)};
  for (Text* text :
       {&texts.title, &texts.description, &texts.value, &texts.help, &texts.placeholder}) {
    ClipText(*text, limit);
  }
  return texts;
}

Text StateList(const AxStateWords& state) {
  if (state.count == 0) return Text();
  Text list = " (";
  for (int i = 0; i < state.count; ++i) {
    if (i > 0) list += ", ";
    list += state.words[i];
  }
  list += ")";
  return list;
}

struct LabelItem {
  bool present;
  const char* lone;     // written before the text when it is the only item
  const char* labeled;  // its label among several
  const Text* text;
};

Text LabelPart(const NodeTexts& t) {
  const LabelItem items[] = {
      {!t.title.empty(), " ", "", &t.title},
      {!t.description.empty(), " Description: ", "Description: ", &t.description},
      {!t.help.empty() && t.help != t.description, " Help: ", "Help: ", &t.help},
      {!t.value.empty() && t.value != t.title, " ", "Value: ", &t.value},
      {!t.placeholder.empty(), " Placeholder: ", "Placeholder: ", &t.placeholder},
  };
  int present = 0;
  for (const LabelItem& item : items) present += item.present ? 1 : 0;
  Text part;
  for (size_t i = 0; i < sizeof items / sizeof items[0]; ++i) {
    const LabelItem& item = items[i];
    if (!item.present) continue;
    if (present == 1) return item.lone + *item.text;
    if (i == 0) {
      part += " " + *item.text;
    } else {
      part += part.empty() ? " " : ", ";
      part += item.labeled;
      part += *item.text;
    }
  }
  return part;
}

Text Indentation(int32_t depth) {
  Text indent;
  for (int32_t i = 0; i < depth; ++i) indent += "    ";
  return indent;
}

// ", Secondary Actions: " and the window's action names other than the press, if any.
Text WindowActionsPart(AppResponse& response, AXUIElementRef element) {
  if (!MayAsk(response, element)) return Text();
  CFArrayRef names = nullptr;
  const AXError result = AXUIElementCopyActionNames(element, &names);
  NoteAnswer(response, result);
  Text list;
  if (result == kAXErrorSuccess && names != nullptr) {
    const CFIndex count = CFArrayGetCount(names);
    for (CFIndex i = 0; i < count; ++i) {
      const void* item = CFArrayGetValueAtIndex(names, i);
      if (!IsOfType(item, CFStringGetTypeID())) continue;
      const Text name = CfStringToUtf8(static_cast<CFStringRef>(item));
      if (name.empty() || name == "AXPress") continue;
      if (!list.empty()) list += ", ";
      list += StripAxPrefix(name);
    }
  }
  if (names != nullptr) CFRelease(names);
  return list.empty() ? Text() : ", Secondary Actions: " + list;
}

// The longest string every host engine we load into can make, in UTF-8 bytes: V8 with pointer
// compression (Electron) holds 2^28 - 16 characters, and a character is at least one byte.
// Asking for a longer string fails, and node-addon-api then ends the process at the next call
// that is handed the missing value.
constexpr size_t kMaxScriptStringBytes = (size_t{1} << 28) - 16;

// Only a pathological tree walked with huge limits, or an unclipped attribute, gets that long;
// such a text is cut at a character boundary and marked with the ellipsis instead.
Napi::String ScriptString(Napi::Env env, const Text& text) {
  if (text.size() <= kMaxScriptStringBytes) return Napi::String::New(env, text.data(), text.size());
  size_t cut = kMaxScriptStringBytes - 3;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  const Text fitted = text.substr(0, cut) + "\xE2\x80\xA6";
  return Napi::String::New(env, fitted.data(), fitted.size());
}

void SetNodeRecord(DumpCtx& ctx, int32_t id, int32_t depth, const Text& role, const Text& axRole,
                   const NodeTexts& texts, const AxFrame& frame) {
  Napi::Env env = ctx.env;
  Napi::Object record = Napi::Object::New(env);
  record.Set("role", ScriptString(env, role));
  record.Set("axRole", ScriptString(env, axRole));
  record.Set("title", ScriptString(env, texts.title));
  record.Set("description", ScriptString(env, texts.description));
  record.Set("value", ScriptString(env, texts.value));
  record.Set("x", Napi::Number::New(env, frame.x));
  record.Set("y", Napi::Number::New(env, frame.y));
  record.Set("w", Napi::Number::New(env, frame.w));
  record.Set("h", Napi::Number::New(env, frame.h));
  record.Set("depth", Napi::Number::New(env, static_cast<double>(depth)));
  ctx.nodes.Set(std::to_string(id), record);
}

// Everything one node shows, read before anything of it is written, so that a node whose
// reading the application cut short can be left out whole.
struct NodeReading {
  Text axRole;
  Text role;
  NodeTexts texts;
  AxFrame frame;
  AxStateWords state;
  Text actions;
};

NodeReading ReadNode(AXUIElementRef element, const ElementValues& values, DumpCtx& ctx) {
  NodeReading node;
  node.axRole = SlotText(values, kRoleSlot);
  node.role = HumanRoleName(node.axRole, SlotText(values, kSubroleSlot));
  node.texts = ReadNodeTexts(values, ctx.options.textTruncate);
  node.frame = ReadAxFrame(values);
  node.state = ReadAxStateFlags(values, ReadValueSettable(ctx.response, element));
  if (node.axRole == "AXWindow") node.actions = WindowActionsPart(ctx.response, element);
  return node;
}

// One emitted node: its line, its record and the focus check.
void EmitNode(AXUIElementRef element, int32_t depth, DumpCtx& ctx, const NodeReading& node) {
  const int32_t id = ctx.nodeCount++;
  const Text& role = node.role;
  const NodeTexts& texts = node.texts;

  ctx.text += Indentation(depth);
  ctx.text += std::to_string(id);
  ctx.text += " ";
  ctx.text += role.empty() ? "?" : role;
  ctx.text += StateList(node.state);
  ctx.text += LabelPart(texts);
  ctx.text += node.actions;
  ctx.text += "\n";

  SetNodeRecord(ctx, id, depth, role, node.axRole, texts, node.frame);

  if (ctx.focusedElement != nullptr && CFEqual(element, ctx.focusedElement)) {
    ctx.focusedNodeId = id;
    ctx.focusedRole = role;
    ctx.focusedLabel = !texts.title.empty()         ? texts.title
                       : !texts.description.empty() ? texts.description
                                                    : texts.value;
  }
}

// An element whose children are being visited. The walk keeps these on a heap-allocated stack
// instead of recursing, so no tree depth the limits allow can exhaust the thread's stack.
struct ChildFrame {
  AXUIElementRef element;  // borrowed (from the parent's array, or the caller)
  CFArrayRef children;     // owned
  CFIndex count;
  CFIndex visit;  // how many of them the fan-out limit lets through
  CFIndex next;
  int32_t depth;
};

struct ElementHash {
  size_t operator()(AXUIElementRef element) const { return CFHash(element); }
};

struct ElementEqual {
  bool operator()(AXUIElementRef a, AXUIElementRef b) const { return CFEqual(a, b); }
};

// The elements on the path from the root to the frame on top: an element that is its own
// ancestor closes a cycle and is not entered again.
using AncestorSet = std::unordered_set<AXUIElementRef, ElementHash, ElementEqual>;

// Children of an element, when its "AXChildren" is an array: a reference of the caller's own,
// so that the array outlives the element's other values.
CFArrayRef RetainAxChildren(const ElementValues& values) {
  CFTypeRef value = values.slots[kChildrenSlot];
  if (value == nullptr || values.types[kChildrenSlot] != CFArrayGetTypeID()) return nullptr;
  return static_cast<CFArrayRef>(CFRetain(value));
}

void VisitElement(AXUIElementRef element, int32_t depth, DumpCtx& ctx,
                  std::vector<ChildFrame>& stack, AncestorSet& ancestors) {
  if (element == nullptr || depth > ctx.options.maxDepth || ctx.nodeCount >= ctx.options.maxNodes) {
    return;
  }
  // A text that no script string can hold any more is cut when it is handed over; walking on
  // would only grow it (indentation makes a deep chain's text grow with the square of its depth).
  if (ctx.text.size() >= kMaxScriptStringBytes) return;
  if (ancestors.count(element) != 0 || ctx.response.gaveUp) return;
  ElementValues values = ReadElementValues(element, ctx);
  const NodeReading node = ReadNode(element, values, ctx);
  // An application that stopped answering while this element was read: the walk stops here,
  // and the element, read only in part, is not shown.
  if (ctx.response.gaveUp) {
    ReleaseElementValues(values);
    return;
  }
  EmitNode(element, depth, ctx, node);
  CFArrayRef children = RetainAxChildren(values);
  ReleaseElementValues(values);
  if (children == nullptr) return;
  const CFIndex count = CFArrayGetCount(children);
  // A negative fan-out limit visits nothing and omits every child.
  const CFIndex visit =
      std::max<CFIndex>(0, std::min<CFIndex>(count, ctx.options.maxChildrenPerNode));
  stack.push_back(ChildFrame{element, children, count, visit, 0, depth});
  ancestors.insert(element);
}

void FinishFrame(const ChildFrame& frame, DumpCtx& ctx) {
  if (frame.count > frame.visit && frame.count > ctx.options.maxChildrenPerNode) {
    ctx.text += Indentation(frame.depth + 1);
    ctx.text += "\xE2\x80\xA6 (";
    ctx.text += std::to_string(frame.count - frame.visit);
    ctx.text += " more children omitted)\n";
  }
  CFRelease(frame.children);
}

// Depth first, pre-order: a node's line before its subtree, its omission line after it.
void DumpAxTree(AXUIElementRef element, int32_t depth, DumpCtx& ctx) {
  std::vector<ChildFrame> stack;
  AncestorSet ancestors;
  VisitElement(element, depth, ctx, stack, ancestors);
  while (!stack.empty()) {
    ChildFrame& top = stack.back();
    if (top.next < top.visit && ctx.nodeCount < ctx.options.maxNodes && !ctx.response.gaveUp) {
      const auto child =
          static_cast<AXUIElementRef>(CFArrayGetValueAtIndex(top.children, top.next));
      top.next++;
      const int32_t childDepth = top.depth + 1;
      VisitElement(child, childDepth, ctx, stack, ancestors);  // may grow the stack
      continue;
    }
    ancestors.erase(top.element);
    FinishFrame(top, ctx);
    stack.pop_back();
  }
}

// Leaves an exception pending for a host call that failed, unless the host left one already
// (a getter or Proxy trap that threw). Always false, for the caller to return.
bool KeepFailurePending(Napi::Env env) {
  if (!env.IsExceptionPending()) Napi::Error::New(env).ThrowAsJavaScriptException();
  return false;
}

// Reads the options into *options; false when reading one threw (a getter, a Proxy's has or get
// trap): that exception stays pending and nothing more is read or done. Each status is checked
// before its value is used, since node-addon-api ends the process when handed the empty value a
// failed read leaves.
bool ReadDumpOptions(const Napi::CallbackInfo& info, DumpOptions* options) {
  if (info.Length() < 1 || !(info[0].IsObject() || info[0].IsFunction())) return true;
  Napi::Env env = info.Env();
  const napi_value object = info[0];
  struct Field {
    const char* key;
    int32_t* target;
  };
  const Field fields[] = {{"maxDepth", &options->maxDepth},
                          {"maxChildrenPerNode", &options->maxChildrenPerNode},
                          {"maxNodes", &options->maxNodes},
                          {"textTruncate", &options->textTruncate},
                          {"timeoutMs", &options->timeoutMs}};
  for (const Field& field : fields) {
    bool has = false;
    if (napi_has_named_property(env, object, field.key, &has) != napi_ok) {
      return KeepFailurePending(env);
    }
    if (!has) continue;
    napi_value value = nullptr;
    if (napi_get_named_property(env, object, field.key, &value) != napi_ok) {
      return KeepFailurePending(env);
    }
    // A present value that is no number (undefined included) converts to 0 and leaves the
    // conversion's exception pending; the later options keep their defaults and the dump still
    // runs, ending with that exception.
    *field.target = Napi::Value(env, value).As<Napi::Number>().Int32Value();
    if (env.IsExceptionPending()) break;
  }
  return true;
}

}  // namespace

// The one platform branch: the running application's names, from AppKit on macOS and from the
// simulated desktop elsewhere.
#if defined(__APPLE__)
#import <AppKit/AppKit.h>
namespace {
std::string RunningApplicationText(pid_t pid, bool bundleIdentifier) {
  @autoreleasepool {
    NSRunningApplication* app = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    NSString* text = bundleIdentifier ? app.bundleIdentifier : app.localizedName;
    const char* utf8 = text.UTF8String;
    return utf8 != nullptr ? std::string(utf8) : std::string();
  }
}
}  // namespace
#else
#include <desktop_sim/running_application.h>
namespace {
std::string RunningApplicationText(pid_t pid, bool bundleIdentifier) {
  const desktop_sim_app_property property =
      bundleIdentifier ? DESKTOP_SIM_APP_BUNDLE_IDENTIFIER : DESKTOP_SIM_APP_LOCALIZED_NAME;
  size_t length = 0;
  if (!desktop_sim_running_application_property(pid, property, nullptr, 0, &length)) return "";
  std::string text(length, '\0');
  if (!desktop_sim_running_application_property(pid, property, &text[0], text.size(), &length)) {
    return "";
  }
  text.resize(std::min(length, text.size()));
  return text;
}
}  // namespace
#endif

namespace {

void EnableWebContent(AppResponse& response, AXUIElementRef application) {
  for (CFStringRef attribute : {CFSTR("AXManualAccessibility"), CFSTR("AXEnhancedUserInterface")}) {
    if (!MayAsk(response, application)) return;
    NoteAnswer(response, AXUIElementSetAttributeValue(application, attribute, kCFBooleanTrue));
  }
}

// The focused application of the system-wide element, owned, or null with the code.
AXUIElementRef CopyFocusedApplication(AXUIElementRef systemWide, AXError* result) {
  return static_cast<AXUIElementRef>(
      CopyAxAttribute(systemWide, CFSTR("AXFocusedApplication"), result));
}

Text WindowTitle(AppResponse& response, AXUIElementRef application) {
  CFTypeRef window = CopyAxAttribute(response, application, CFSTR("AXFocusedWindow"));
  if (window == nullptr) return Text();
  Text title = CopyAxStringAttr(response, static_cast<AXUIElementRef>(window), CFSTR("AXTitle"));
  CFRelease(window);
  return title;
}

Text DumpHeader(const Text& appName, const Text& bundleId, pid_t pid, const Text& windowTitle) {
  Text text;
  if (!appName.empty()) text += appName + "\n";
  text +=
      "App=" + (bundleId.empty() ? Text("?") : bundleId) + " (pid " + std::to_string(pid) + ")\n";
  if (!windowTitle.empty()) {
    text +=
        "Window: \"" + windowTitle + "\", App: " + (appName.empty() ? Text("?") : appName) + ".\n";
  }
  return text;
}

Napi::Value AxDump(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  DumpOptions options;
  if (!ReadDumpOptions(info, &options)) return env.Null();
  AppResponse response = StartResponse(options.timeoutMs);
  Napi::Object result = Napi::Object::New(env);
  Napi::Object nodes = Napi::Object::New(env);
  result.Set("nodes", nodes);

  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) {
    result.Set("text", Napi::String::New(env, ""));
    result.Set("focusedNodeId", env.Null());
    return result;
  }
  AXError code = kAXErrorSuccess;
  AXUIElementRef application = CopyFocusedApplication(systemWide, &code);
  if (application == nullptr) {
    const Text text = "ax-error code=" + std::to_string(static_cast<int32_t>(code)) +
                      " (Accessibility permission likely not granted to this build)\n";
    result.Set("text", ScriptString(env, text));
    result.Set("focusedNodeId", env.Null());
    CFRelease(systemWide);
    return result;
  }

  EnableWebContent(response, application);
  const auto focused = static_cast<AXUIElementRef>(
      CopyAxAttribute(response, application, CFSTR("AXFocusedUIElement")));
  pid_t pid = 0;
  AXUIElementGetPid(application, &pid);  // answered locally: no round trip
  const Text appName = RunningApplicationText(pid, false);
  const Text bundleId = RunningApplicationText(pid, true);
  Text windowTitle = WindowTitle(response, application);
  ClipText(windowTitle, options.textTruncate);

  Text text = DumpHeader(appName, bundleId, pid, windowTitle);
  CFArrayRef slotNames = CreateSlotNames();
  DumpCtx ctx{options, text,   nodes,  env,      0,         -1,
              focused, Text(), Text(), response, slotNames, false};
  DumpAxTree(application, 0, ctx);
  if (slotNames != nullptr) CFRelease(slotNames);
  if (ctx.nodeCount >= options.maxNodes) {
    text += "\xE2\x80\xA6 (max node cap reached at " + std::to_string(options.maxNodes) + ")\n";
  }
  if (response.gaveUp) {
    text += "\xE2\x80\xA6 (application not responding, walk stopped at " +
            std::to_string(ctx.nodeCount) + ")\n";
  }
  if (ctx.focusedNodeId >= 0) {
    text +=
        "\nThe focused UI element is " + std::to_string(ctx.focusedNodeId) + " " + ctx.focusedRole;
    if (!ctx.focusedLabel.empty()) text += " " + ctx.focusedLabel;
    text += ".\n";
  }

  result.Set("text", ScriptString(env, text));
  result.Set("focusedNodeId", ctx.focusedNodeId >= 0
                                  ? Napi::Value(Napi::Number::New(env, ctx.focusedNodeId))
                                  : env.Null());
  result.Set("bundleId", ScriptString(env, bundleId));
  result.Set("appName", ScriptString(env, appName));
  result.Set("windowTitle", ScriptString(env, windowTitle));
  result.Set("pid", Napi::Number::New(env, static_cast<double>(pid)));

  if (focused != nullptr) CFRelease(focused);
  CFRelease(application);
  CFRelease(systemWide);
  return result;
}

Napi::Value AxFocused(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) return env.Null();
  // The system-wide element keeps the process-wide messaging timeout: setting one on it would
  // change the whole process's.
  const auto focused =
      static_cast<AXUIElementRef>(CopyAxAttribute(systemWide, CFSTR("AXFocusedUIElement")));
  AppResponse response = StartResponse(kDefaultBudgetMs);
  Napi::Object result = Napi::Object::New(env);
  if (focused != nullptr) {
    struct Key {
      const char* name;
      CFStringRef attribute;
    };
    const Key keys[] = {{"role", CFSTR("AXRole")},
                        {"title", CFSTR("AXTitle")},
                        {"description", CFSTR("AXDescription")},
                        {"value", CFSTR("AXValue")}};
    for (const Key& key : keys) {
      result.Set(key.name, ScriptString(env, CopyAxStringAttr(response, focused, key.attribute)));
    }
    CFRelease(focused);
  }
  CFRelease(systemWide);
  return result;
}

Napi::Value AxEnableWebContent(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) return Napi::Boolean::New(env, false);
  AXError code = kAXErrorSuccess;
  AXUIElementRef application = CopyFocusedApplication(systemWide, &code);
  const bool found = application != nullptr;
  if (found) {
    AppResponse response = StartResponse(kDefaultBudgetMs);
    EnableWebContent(response, application);
    CFRelease(application);
  }
  CFRelease(systemWide);
  return Napi::Boolean::New(env, found);
}

// ---------------------------------------------------------------------------------------------
// Permissions (script thread). What the platform reports for each capability: the accessibility
// snapshot needs Accessibility (AXIsProcessTrusted), listening to key events Input Monitoring
// (CGPreflightListenEventAccess), and posting events as well as the active tap post-event access
// (CGPreflightPostEventAccess). The answers are the process's, which on macOS is the host
// application that carries the grants.

Napi::Value Permissions(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Object result = Napi::Object::New(env);
  result.Set("accessibility", Napi::Boolean::New(env, AXIsProcessTrusted() != 0));
  result.Set("inputMonitoring", Napi::Boolean::New(env, CGPreflightListenEventAccess()));
  result.Set("postEvents", Napi::Boolean::New(env, CGPreflightPostEventAccess()));
  return result;
}

// Asks the system to show its Accessibility prompt when the process is not trusted. The prompt
// answers later, in System Settings: the result is the trust as it is now.
Napi::Value RequestAccessibility(const Napi::CallbackInfo& info) {
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  CFDictionaryRef options =
      CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks);
  // Without the dictionary the call still answers, only without the prompt.
  const bool trusted = AXIsProcessTrustedWithOptions(options) != 0;
  if (options != nullptr) CFRelease(options);
  return Napi::Boolean::New(info.Env(), trusted);
}

// ---------------------------------------------------------------------------------------------
// Registration.

using FunctionMaker = Napi::Function (*)(napi_env, const char*, void*);

struct ExportEntry {
  const char* name;
  FunctionMaker make;
};

// Registration order is the order of the properties on the exports object.
const ExportEntry kExports[] = {
    {"start", &Napi::Function::New<Start>},
    {"stop", &Napi::Function::New<Stop>},
    {"setSuppress", &Napi::Function::New<SetSuppress>},
    {"isRunning", &Napi::Function::New<IsRunning>},
    {"postClick", &Napi::Function::New<PostClick>},
    {"postMove", &Napi::Function::New<PostMove>},
    {"postScroll", &Napi::Function::New<PostScroll>},
    {"postKey", &Napi::Function::New<PostKey>},
    {"postType", &Napi::Function::New<PostType>},
    {"axDump", &Napi::Function::New<AxDump>},
    {"axFocused", &Napi::Function::New<AxFocused>},
    {"axEnableWebContent", &Napi::Function::New<AxEnableWebContent>},
    {"permissions", &Napi::Function::New<Permissions>},
    {"requestAccessibility", &Napi::Function::New<RequestAccessibility>},
};

}  // namespace

extern "C" {

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) {
  return 8;
}

// Installs the functions and nothing else: loading starts no thread and calls no system service.
NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  Napi::Object target(env, exports);
  for (const ExportEntry& entry : kExports) {
    target.Set(entry.name, entry.make(env, nullptr, nullptr));
  }
  return exports;
}

}  // extern "C"
