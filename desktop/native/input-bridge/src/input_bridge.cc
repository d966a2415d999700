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
#include <Carbon/Carbon.h>

#include <napi.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// Whole-text comparison: a name with an embedded NUL matches nothing. Stops at the first byte
// that differs, so a scan of the key table costs about one byte per entry.
bool SameText(const std::string& text, const char* name) {
  size_t i = 0;
  for (; i < text.size(); ++i) {
    if (name[i] == '\0' || name[i] != text[i]) return false;
  }
  return name[i] == '\0';
}

// Longer than any key or modifier name, so that a text cut to it matches no name, as the whole
// text would not.
constexpr size_t kNameTextBytes = 32;

// The UTF-8 text of a script string that names a key or a modifier, read in one call; a longer
// text is cut, and still matches nothing.
std::string NameText(const Napi::Value& value) {
  char buffer[kNameTextBytes];
  size_t length = 0;
  if (napi_get_value_string_utf8(value.Env(), value, buffer, sizeof buffer, &length) != napi_ok) {
    return std::string();
  }
  return std::string(buffer, length);
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

// A modifier list is read on every postKey call, so its names are matched without a lowered
// copy: the table's names are lower case.
bool SameTextAnyCase(const std::string& text, const char* lowerName) {
  size_t i = 0;
  for (; i < text.size(); ++i) {
    if (lowerName[i] == '\0' || lowerName[i] != AsciiLower(text[i])) return false;
  }
  return lowerName[i] == '\0';
}

CGEventFlags ModifierFlag(const std::string& name) {
  for (const ModifierName& entry : kModifierFlags) {
    if (SameTextAnyCase(name, entry.name)) return entry.flag;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Keyboard layouts. Key codes are positions, and applications match a shortcut against the
// character the active layout gives for the key under the modifiers held: on a French layout
// the U.S. W key types z, so Command with the U.S. Z key would be Command-W. A name that stands
// for a character is therefore resolved through the layout the user types with, read from the
// text input sources, translated key by key with UCKeyTranslate. Names of keys that type no
// character (return, f5, left, ...) keep their fixed codes, and so does a character that no key
// of the layout gives (Latin letters on a Cyrillic layout): it goes to its U.S. position, as
// before.
//
// The text input source calls are main-thread only; current macOS traps in dispatch_assert_queue
// when another thread makes them. Only the main thread reads the layout. It publishes what it
// resolved, and a script thread of a worker uses that, or the U.S. positions when the main
// thread has never resolved a layout; a worker cannot see a switch the main thread has not yet
// read.

// The characters the key names stand for; a character's index here is its slot in the tables.
constexpr char kLayoutCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789/.,-=;'\\`[]";
constexpr size_t kLayoutCharacterCount = sizeof kLayoutCharacters - 1;

struct CharacterName {
  const char* name;
  char character;
};

// The names that spell a character out; a one-character name is its own character.
constexpr CharacterName kCharacterNames[] = {
    {"slash", '/'}, {"period", '.'},      {"comma", ','},        {"minus", '-'},
    {"equal", '='}, {"semicolon", ';'},   {"quote", '\''},       {"backslash", '\\'},
    {"grave", '`'}, {"leftbracket", '['}, {"rightbracket", ']'},
};

// The slot of the character a key name of the table stands for, or kLayoutCharacterCount for a
// key that types none.
size_t LayoutSlotOfName(const std::string& lowerName) {
  char character = 0;
  if (lowerName.size() == 1) {
    character = lowerName[0];
  } else {
    for (const CharacterName& entry : kCharacterNames) {
      if (SameText(lowerName, entry.name)) character = entry.character;
    }
  }
  const char* found = character != 0 ? std::strchr(kLayoutCharacters, character) : nullptr;
  return found != nullptr ? static_cast<size_t>(found - kLayoutCharacters) : kLayoutCharacterCount;
}

// Which layers a key is looked for in, in order, and the modifiers a key found there needs on
// top of the named ones. With Command the Command layer counts (on "Dvorak - QWERTY" it has the
// U.S. positions); a character that needs Shift there takes Shift, as on any Mac, where
// Command-? is Command-Shift-/. Without Command the character may also need Option (a German
// [ is Option-5). A shortcut never gets Option added: Command-Option is another shortcut.
struct LayoutLayer {
  UInt32 modifierState;  // UCKeyTranslate's: Carbon's modifier bits shifted down by 8
  CGEventFlags added;
};

constexpr LayoutLayer kTypingLayers[] = {
    {0, 0},
    {shiftKey >> 8, kCGEventFlagMaskShift},
    {optionKey >> 8, kCGEventFlagMaskAlternate},
    {(shiftKey | optionKey) >> 8, kCGEventFlagMaskShift | kCGEventFlagMaskAlternate},
};
constexpr LayoutLayer kCommandLayers[] = {
    {cmdKey >> 8, 0},
    {(cmdKey | shiftKey) >> 8, kCGEventFlagMaskShift},
};
enum LayoutFamily : size_t { kTypingFamily, kCommandFamily, kFamilyCount };

// The main block, up to kVK_ANSI_Grave. The keypad gives the same digits and signs on every
// layout and is never chosen over it.
constexpr UInt16 kLastLayoutKey = 50;

// A resolved key in one word, so that a worker's script thread reads it whole: the key code in
// the low 16 bits, Shift and Option to add, and a mark that the slot is resolved. Written by the
// main thread only; relaxed order is enough, each slot standing alone (a worker reading during
// an update gets the slot as one layout or the other resolved it).
constexpr uint32_t kSlotResolved = 1u << 31;
constexpr uint32_t kSlotAddShift = 1u << 16;
constexpr uint32_t kSlotAddOption = 1u << 17;
std::atomic<uint32_t> g_layoutSlots[kFamilyCount][kLayoutCharacterCount];

// The layout the slots hold, by identity: the input source and the keyboard type. A source
// object "unambiguously (within a single process) represents a text input source"
// (TextInputSources.h), and its layout data is the source's own, so the same object is the same
// layout. Main thread only.
struct LayoutIdentity {
  const void* source;
  UInt32 keyboardType;
};
LayoutIdentity g_resolvedLayout{nullptr, 0};

uint32_t PackSlot(UInt16 code, CGEventFlags added) {
  return kSlotResolved | code | ((added & kCGEventFlagMaskShift) != 0 ? kSlotAddShift : 0) |
         ((added & kCGEventFlagMaskAlternate) != 0 ? kSlotAddOption : 0);
}

// The one character the key gives in the layer, or 0. Dead keys give their accent (no dead-key
// state is entered: the option is the mask, the bit's number would be no option).
UniChar LayoutCharacter(const UCKeyboardLayout* layout, UInt16 code, UInt32 modifierState,
                        UInt32 keyboardType) {
  UInt32 deadKeyState = 0;
  UniChar units[4];
  UniCharCount length = 0;
  const OSStatus status =
      UCKeyTranslate(layout, code, kUCKeyActionDown, modifierState, keyboardType,
                     kUCKeyTranslateNoDeadKeysMask, &deadKeyState, 4, &length, units);
  return status == noErr && length == 1 ? units[0] : 0;
}

template <size_t N>
void ResolveFamily(const UCKeyboardLayout* layout, UInt32 keyboardType,
                   const LayoutLayer (&layers)[N], LayoutFamily family) {
  uint32_t slots[kLayoutCharacterCount] = {};
  for (const LayoutLayer& layer : layers) {
    for (UInt16 code = 0; code <= kLastLayoutKey; ++code) {
      const UniChar character = LayoutCharacter(layout, code, layer.modifierState, keyboardType);
      const char* found = character > 0 && character < 0x80
                              ? std::strchr(kLayoutCharacters, static_cast<char>(character))
                              : nullptr;
      if (found == nullptr) continue;
      uint32_t& slot = slots[found - kLayoutCharacters];
      if (slot == 0) slot = PackSlot(code, layer.added);
    }
  }
  for (size_t i = 0; i < kLayoutCharacterCount; ++i) {
    g_layoutSlots[family][i].store(slots[i], std::memory_order_relaxed);
  }
}

void ClearLayoutSlots() {
  for (auto& family : g_layoutSlots) {
    for (std::atomic<uint32_t>& slot : family) slot.store(0, std::memory_order_relaxed);
  }
}

// Main thread: reads which layout is in use and resolves the slots again when it is another
// one than last time. A layout without Unicode layout data (or no layout at all) leaves every
// slot unresolved.
void RefreshLayoutSlots() {
  TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
  const LayoutIdentity now{source, LMGetKbdType()};
  if (now.source != g_resolvedLayout.source || now.keyboardType != g_resolvedLayout.keyboardType) {
    const auto data = source != nullptr ? static_cast<CFDataRef>(TISGetInputSourceProperty(
                                              source, kTISPropertyUnicodeKeyLayoutData))
                                        : nullptr;
    if (data != nullptr) {
      // The data belongs to the source: it is read only while the reference is held.
      const auto* layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
      ResolveFamily(layout, now.keyboardType, kTypingLayers, kTypingFamily);
      ResolveFamily(layout, now.keyboardType, kCommandLayers, kCommandFamily);
    } else {
      ClearLayoutSlots();
    }
    g_resolvedLayout = now;
  }
  if (source != nullptr) CFRelease(source);
}

// The main thread is the one whose run loop is the main run loop (the host's script thread in
// Node.js and Electron). A thread is the main thread for its whole life: asked once per thread.
bool OnMainThread() {
  thread_local const bool main = CFRunLoopGetCurrent() == CFRunLoopGetMain();
  return main;
}

struct LayoutKey {
  CGKeyCode code;
  CGEventFlags flags;
};

// The key and flags to post for a name of the table and the named modifiers: the key the
// layout in use gives the name's character on, else the table's code.
LayoutKey KeyOnLayout(const std::string& name, CGKeyCode tableCode, CGEventFlags flags) {
  const size_t slot = LayoutSlotOfName(AsciiLower(name));
  if (slot == kLayoutCharacterCount) return {tableCode, flags};
  if (OnMainThread()) RefreshLayoutSlots();
  const LayoutFamily family =
      (flags & kCGEventFlagMaskCommand) != 0 ? kCommandFamily : kTypingFamily;
  const uint32_t packed = g_layoutSlots[family][slot].load(std::memory_order_relaxed);
  if ((packed & kSlotResolved) == 0) return {tableCode, flags};
  CGEventFlags added = 0;
  if ((packed & kSlotAddShift) != 0) added |= kCGEventFlagMaskShift;
  if ((packed & kSlotAddOption) != 0) added |= kCGEventFlagMaskAlternate;
  return {static_cast<CGKeyCode>(packed & 0xFFFF), flags | added};
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
bool ReadModifierAt(const Napi::Array& modifiers, uint32_t index, CGEventFlags* flags) {
  const Napi::Value element = modifiers.Get(index);
  if (element.IsEmpty()) return false;
  if (element.IsString()) *flags |= ModifierFlag(NameText(element));
  return true;
}

// Arrays up to this length (every modifier list a caller writes) are asked index by index,
// which costs less than listing their keys.
constexpr uint32_t kShortArrayLength = 8;

bool ReadModifierFlags(Napi::Env env, const Napi::Array& modifiers, CGEventFlags* flags) {
  const uint32_t length = modifiers.Length();
  if (length <= kShortArrayLength) {
    for (uint32_t index = 0; index < length; ++index) {
      // Node-API names own properties by string: the canonical index string is the element.
      const char digit = static_cast<char>('0' + index);
      napi_value key = nullptr;
      bool own = false;
      if (napi_create_string_latin1(env, &digit, 1, &key) != napi_ok ||
          napi_has_own_property(env, modifiers, key, &own) != napi_ok) {
        Napi::Error::New(env).ThrowAsJavaScriptException();
        return false;
      }
      if (own && !ReadModifierAt(modifiers, index, flags)) return false;
    }
    return true;
  }
  std::vector<uint32_t> indices;
  if (!OwnIndices(env, modifiers, length, &indices)) return false;
  for (uint32_t index : indices) {
    if (!ReadModifierAt(modifiers, index, flags)) return false;
  }
  return true;
}

// Cleared whether or not a modifier was named: a push-to-talk key held down would turn a plain
// key press into a shortcut (Return into Command-Return). The key's own bits (Fn and numeric pad
// on arrows and function keys) follow from the code the event was created with.
void PostKeyEvent(CGEventRef event, CGKeyCode code, CGEventFlags named) {
  ClearHeldKeys(event, KeyOwnFlags(code), named);
  PostAndRelease(event);
}

Napi::Value PostKey(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    return RaiseTypeError(env, "postKey(key, modifiers?)");
  }
  const std::string name = NameText(info[0]);
  const CGKeyCode code = KeyCodeForName(name);
  if (code == kNoKeyCode) return Napi::Boolean::New(env, false);
  CGEventFlags flags = 0;
  if (info.Length() >= 2 && info[1].IsArray()) {
    // A modifier that could not be read must not turn a shortcut into a plain key press.
    if (!ReadModifierFlags(env, info[1].As<Napi::Array>(), &flags)) return env.Null();
  }
  const LayoutKey key = KeyOnLayout(name, code, flags);
  CGEventRef down = CGEventCreateKeyboardEvent(nullptr, key.code, true);
  CGEventRef up = CGEventCreateKeyboardEvent(nullptr, key.code, false);
  if (down != nullptr) PostKeyEvent(down, key.code, key.flags);
  if (up != nullptr) PostKeyEvent(up, key.code, key.flags);
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
  PostKeyEvent(event, kTypingKeyCode, 0);
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
// Accessibility snapshot. Runs on a script thread: the host's main thread, or a worker's
// (axDumpAsync). Every value a Copy or Create call hands out is released by the routine that
// obtained it; array items are borrowed from their array. Its sections: text conversion, the
// response budget, the host's own window and the system-wide element, batched reads, rendering,
// web content, the walk, options, and the script functions.

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: text conversion.

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

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: the response budget.
//
// Every request is a round trip to the target application, which takes up to the request's
// messaging timeout when the application is busy (6 s unless set). A call gives the application
// a time budget; every request is made with a timeout of kRequestTimeoutSeconds, or with what
// the budget still has when that is less; and the call asks nothing more once the budget is
// spent, once the application left kUnansweredInARowToGiveUp requests in a row unanswered, or
// once the host tears the calling environment down (it would wait for the call to return).
// kAXErrorCannotComplete answers a request that timed out and one the application refused
// alike: only one that took about its whole timeout counts as unanswered, so an application
// that answers promptly is walked to the end whatever it refuses.

using SteadyClock = std::chrono::steady_clock;

constexpr float kRequestTimeoutSeconds = 0.5f;
constexpr double kDefaultBudgetMs = 3000;
// The longest budget, and what one meant as "no limit" (Infinity) takes: about 24.8 days.
constexpr double kMaxBudgetMs = 2147483647;
constexpr int kUnansweredInARowToGiveUp = 2;
// A request that timed out returns once its timeout has passed; a refused one at once.
constexpr double kUnansweredShareOfTimeout = 0.9;

// Why a call stopped asking.
enum class StopReason { kAsking, kBudgetSpent, kNotResponding, kHostLeaving };

struct ResponseBudget {
  napi_env env;  // the calling environment, watched for its teardown
  SteadyClock::time_point deadline;
  SteadyClock::time_point askedAt;  // the request in flight: when it was made
  double askedTimeout;              // and its timeout, in seconds
  int unansweredInARow;
  StopReason stop;
};

ResponseBudget StartBudget(napi_env env, double budgetMs) {
  const auto span = std::chrono::duration_cast<SteadyClock::duration>(
      std::chrono::duration<double, std::milli>(budgetMs));
  return ResponseBudget{env, SteadyClock::now() + span, {}, 0, 0, StopReason::kAsking};
}

bool StoppedAsking(const ResponseBudget& budget) {
  return budget.stop != StopReason::kAsking;
}

// Whether the host is tearing this environment down (process.exit, an uncaught exception, a
// worker terminated): it then refuses every call that could run script, with no exception
// pending, and cannot finish before this call returns.
bool HostLeaving(napi_env env) {
  napi_value undefined = nullptr;
  if (napi_get_undefined(env, &undefined) != napi_ok) return true;
  bool same = false;
  if (napi_strict_equals(env, undefined, undefined, &same) == napi_ok) return false;
  bool pending = false;
  return napi_is_exception_pending(env, &pending) == napi_ok && !pending;
}

// Whether a request may be made now; if so, *timeout receives its timeout in seconds.
bool BeginRequest(ResponseBudget& budget, double* timeout) {
  if (StoppedAsking(budget)) return false;
  if (HostLeaving(budget.env)) {
    budget.stop = StopReason::kHostLeaving;
    return false;
  }
  const SteadyClock::time_point now = SteadyClock::now();
  const double left = std::chrono::duration<double>(budget.deadline - now).count();
  if (left <= 0) {
    budget.stop = StopReason::kBudgetSpent;
    return false;
  }
  // 0 would mean "the process-wide timeout" to the service, hence the floor of 1 ms.
  *timeout = std::max(0.001, std::min<double>(kRequestTimeoutSeconds, left));
  budget.askedAt = now;
  budget.askedTimeout = *timeout;
  return true;
}

// Whether a request may be made through element; if so, gives the element object the request's
// timeout. A timeout belongs to the object it is set on alone (not to other objects for the same
// element), so every object asked is given it; it is a local call, no round trip. Never used for
// a system-wide element object, whose timeout is the whole process's.
bool MayAsk(ResponseBudget& budget, AXUIElementRef element) {
  double timeout = 0;
  if (!BeginRequest(budget, &timeout)) return false;
  AXUIElementSetMessagingTimeout(element, static_cast<float>(timeout));
  return true;
}

void NoteUnanswered(ResponseBudget& budget) {
  if (++budget.unansweredInARow >= kUnansweredInARowToGiveUp) {
    budget.stop = StopReason::kNotResponding;
  }
}

// Notes the answer to the request in flight; true when it went unanswered.
bool NoteReply(ResponseBudget& budget, AXError code) {
  const double took = std::chrono::duration<double>(SteadyClock::now() - budget.askedAt).count();
  if (code != kAXErrorCannotComplete || took < budget.askedTimeout * kUnansweredShareOfTimeout) {
    budget.unansweredInARow = 0;
    return false;
  }
  NoteUnanswered(budget);
  return true;
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

// The same within the budget: nothing is asked once the call has stopped asking.
CFTypeRef CopyAxAttribute(ResponseBudget& budget, AXUIElementRef element, CFStringRef attribute,
                          AXError* result = nullptr) {
  if (!MayAsk(budget, element)) {
    if (result != nullptr) *result = kAXErrorCannotComplete;
    return nullptr;
  }
  AXError code = kAXErrorSuccess;
  CFTypeRef value = CopyAxAttribute(element, attribute, &code);
  NoteReply(budget, code);
  if (result != nullptr) *result = code;
  return value;
}

Text CopyAxStringAttr(ResponseBudget& budget, AXUIElementRef element, CFStringRef attribute) {
  CFTypeRef value = CopyAxAttribute(budget, element, attribute);
  if (value == nullptr) return Text();
  Text text = TextOfValue(value);
  CFRelease(value);
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The one platform branch: the running application's names and whether the host is the active
// application, from AppKit on macOS and from the simulated desktop elsewhere. All of it is answered
// locally: no application is asked.
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

// NSRunningApplication's properties are kept current by the main thread's run loop, which a
// host with a window of its own (an Electron application) runs; a host without one (plain
// Node.js) is never the active application.
bool HostIsActive() {
  @autoreleasepool {
    return [NSRunningApplication currentApplication].active;
  }
}
}  // namespace
#else
#include <desktop_sim/running_application.h>
#include <unistd.h>
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

bool HostIsActive() {
  return desktop_sim_running_application_active(getpid());
}
}  // namespace
#endif

namespace {

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: the host's own window and the system-wide element.
//
// A process's requests to its own elements are answered inside it, on the calling thread: off
// the main thread, AppKit's accessibility code then runs where it must not, and peers report
// crashes and deadlocks. So the host's own elements are read on the main thread only; from any
// other thread, with the host in front, nothing of the host is asked.
//
// The system-wide element's focus attributes are answered by the focused application, under the
// process-wide messaging timeout (6 s unless a caller changed it): a timeout set on a system-wide
// element object is that process-wide one (AXUIElement.h), so setting a shorter one would change
// it for every other caller in the host, and nothing reads it back to restore it. Such a request
// is made on a thread of its own instead, which the caller waits for at most the request's
// timeout; a focused application that does not answer in time is left to that thread, which
// releases whatever it is handed in the end.

// Where the focused application's answers can be had on this thread.
enum class FocusRoute {
  kAside,    // another application is in front: ask on a thread of its own
  kHere,     // the host is in front and this is its main thread: the host answers here at once
  kNotHere,  // the host is in front and this is not its main thread: ask nothing
};

FocusRoute RouteToFocus() {
  if (!HostIsActive()) return FocusRoute::kAside;
  return OnMainThread() ? FocusRoute::kHere : FocusRoute::kNotHere;
}

// One request to the system-wide element, shared by the thread that makes it and the caller
// that waits for it; whichever lets go of it last frees it.
struct SystemWideRequest {
  std::mutex mutex;
  std::condition_variable answered;
  CFStringRef attribute = nullptr;  // a constant string
  bool done = false;
  bool abandoned = false;  // the caller stopped waiting: the thread releases the value
  AXError code = kAXErrorCannotComplete;
  CFTypeRef value = nullptr;  // owned by the request until the caller takes it
};

// Threads with a system-wide request in flight. A hung focused application keeps those its
// callers left waiting for the whole process-wide timeout; past this many, a call counts its
// request as unanswered without making it. Relaxed: a count, nothing is published through it.
constexpr int kMaxSystemWideRequestsInFlight = 4;
std::atomic<int> g_systemWideRequestsInFlight{0};

void* MakeSystemWideRequest(void* handed) {
  std::shared_ptr<SystemWideRequest> request =
      std::move(*static_cast<std::shared_ptr<SystemWideRequest>*>(handed));
  delete static_cast<std::shared_ptr<SystemWideRequest>*>(handed);
  AXError code = kAXErrorFailure;
  CFTypeRef value = nullptr;
  if (AXUIElementRef systemWide = AXUIElementCreateSystemWide()) {
    value = CopyAxAttribute(systemWide, request->attribute, &code);
    CFRelease(systemWide);
  }
  bool taken = false;
  {
    std::lock_guard<std::mutex> lock(request->mutex);
    taken = !request->abandoned;
    if (taken) {
      request->code = code;
      request->value = value;
    }
    request->done = true;
  }
  request->answered.notify_one();
  if (!taken && value != nullptr) CFRelease(value);
  g_systemWideRequestsInFlight.fetch_sub(1, std::memory_order_relaxed);
  return nullptr;
}

// The system-wide element's attribute, owned, or null with *code, within the budget.
CFTypeRef CopyFocusAttribute(ResponseBudget& budget, FocusRoute route, AXUIElementRef systemWide,
                             CFStringRef attribute, AXError* code) {
  *code = kAXErrorCannotComplete;
  double timeout = 0;
  if (route == FocusRoute::kNotHere || !BeginRequest(budget, &timeout)) return nullptr;
  if (route == FocusRoute::kHere) {
    CFTypeRef value = CopyAxAttribute(systemWide, attribute, code);
    NoteReply(budget, *code);
    return value;
  }
  if (g_systemWideRequestsInFlight.fetch_add(1, std::memory_order_relaxed) >=
      kMaxSystemWideRequestsInFlight) {
    g_systemWideRequestsInFlight.fetch_sub(1, std::memory_order_relaxed);
    NoteUnanswered(budget);
    return nullptr;
  }
  auto request = std::make_shared<SystemWideRequest>();
  request->attribute = attribute;
  auto* handed = new std::shared_ptr<SystemWideRequest>(request);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, &MakeSystemWideRequest, handed) != 0) {
    delete handed;
    g_systemWideRequestsInFlight.fetch_sub(1, std::memory_order_relaxed);
    // Without a thread of its own the request is made here, under the process-wide timeout.
    CFTypeRef value = CopyAxAttribute(systemWide, attribute, code);
    NoteReply(budget, *code);
    return value;
  }
  pthread_detach(thread);
  std::unique_lock<std::mutex> lock(request->mutex);
  if (!request->answered.wait_for(lock, std::chrono::duration<double>(timeout),
                                  [&] { return request->done; })) {
    request->abandoned = true;
    lock.unlock();
    NoteReply(budget, kAXErrorCannotComplete);
    return nullptr;
  }
  *code = request->code;
  CFTypeRef value = request->value;
  request->value = nullptr;
  lock.unlock();
  NoteReply(budget, *code);
  return value;
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: batched reads. One request reads every attribute the walk shows of an
// element; an application that cannot take batched requests is asked attribute by attribute.

struct AxFrame {
  double x;
  double y;
  double w;
  double h;
};

// The attributes the walk reads of every element, in the order of a batched request. The
// children come last, so that a request without them is the same names but the last.
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
  bool childrenApart;  // the children are still to be read on their own
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
bool ReadValueSettable(ResponseBudget& budget, AXUIElementRef element) {
  if (!MayAsk(budget, element)) return false;
  Boolean settable = false;
  NoteReply(budget, AXUIElementIsAttributeSettable(element, CFSTR("AXValue"), &settable));
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

// The names of a batched request, made once per dump: every slot, and every slot but the
// children. Null when they cannot be made, and then every element is read attribute by attribute.
struct BatchNames {
  CFArrayRef all;
  CFArrayRef withoutChildren;
};

BatchNames CreateBatchNames() {
  const void* names[kSlotCount];
  for (int slot = 0; slot < kSlotCount; ++slot) names[slot] = SlotAttribute(slot);
  return BatchNames{
      CFArrayCreate(kCFAllocatorDefault, names, kSlotCount, &kCFTypeArrayCallBacks),
      CFArrayCreate(kCFAllocatorDefault, names, kChildrenSlot, &kCFTypeArrayCallBacks)};
}

void ReleaseBatchNames(const BatchNames& names) {
  if (names.all != nullptr) CFRelease(names.all);
  if (names.withoutChildren != nullptr) CFRelease(names.withoutChildren);
}

// How one dump reads elements: its budget, its batched requests' names and whether the
// application takes them.
struct ElementReader {
  ResponseBudget& budget;
  BatchNames names;
  bool batchUnsupported;  // the application said it does not implement batched requests
};

ElementValues ReadElementValues(AXUIElementRef element, ElementReader& reader, bool withChildren);

// One batched request. False when the element is to be read attribute by attribute instead.
bool ReadBatch(AXUIElementRef element, ElementReader& reader, bool withChildren,
               ElementValues* values) {
  const CFIndex asked = withChildren ? kSlotCount : kChildrenSlot;
  CFArrayRef names = withChildren ? reader.names.all : reader.names.withoutChildren;
  if (!MayAsk(reader.budget, element)) return true;
  CFArrayRef batch = nullptr;
  const AXError code = AXUIElementCopyMultipleAttributeValues(element, names, 0, &batch);
  const bool unanswered = NoteReply(reader.budget, code);
  if (code == kAXErrorSuccess && batch != nullptr && CFArrayGetCount(batch) == asked) {
    values->batch = batch;
    const void* items[kSlotCount] = {};
    CFArrayGetValues(batch, CFRangeMake(0, asked), items);
    for (CFIndex slot = 0; slot < asked; ++slot) {
      const CFTypeID type = items[slot] != nullptr ? CFGetTypeID(items[slot]) : 0;
      if (IsMissingPlaceholder(items[slot], type)) continue;
      values->slots[slot] = items[slot];
      values->types[slot] = type;
    }
    values->childrenApart = !withChildren;
    return true;
  }
  if (batch != nullptr) CFRelease(batch);
  // A long child list can take longer to carry back than the request's timeout: the element is
  // asked once more without it, and its children are then read in part.
  if (unanswered && withChildren && !StoppedAsking(reader.budget)) {
    *values = ReadElementValues(element, reader, false);
    return true;
  }
  if (code == kAXErrorSuccess || !MeansBatchUnsupported(code)) return true;
  // Not implemented is the process's answer for every element; the others may be one element's.
  if (code == kAXErrorNotImplemented) reader.batchUnsupported = true;
  return false;
}

// Every slot through one batched request, or one request per slot when the application cannot
// take batched requests; the children only withChildren. Nothing is asked once the call has
// stopped asking.
ElementValues ReadElementValues(AXUIElementRef element, ElementReader& reader, bool withChildren) {
  ElementValues values{nullptr, {}, {}, false};
  if (reader.names.all != nullptr && reader.names.withoutChildren != nullptr &&
      !reader.batchUnsupported && ReadBatch(element, reader, withChildren, &values)) {
    return values;
  }
  const int slots = withChildren ? kSlotCount : kChildrenSlot;
  for (int slot = 0; slot < slots; ++slot) {
    AXError code = kAXErrorSuccess;
    values.slots[slot] = CopyAxAttribute(reader.budget, element, SlotAttribute(slot), &code);
    if (values.slots[slot] != nullptr) values.types[slot] = CFGetTypeID(values.slots[slot]);
    // Children that did not come back in time are asked for in part.
    if (slot == kChildrenSlot && code == kAXErrorCannotComplete &&
        reader.budget.unansweredInARow > 0) {
      values.childrenApart = true;
    }
  }
  values.childrenApart = values.childrenApart || !withChildren;
  return values;
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: rendering. Role names, the node line, the node record, the header and
// the lines that end a dump.

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
Text WindowActionsPart(ResponseBudget& budget, AXUIElementRef element) {
  if (!MayAsk(budget, element)) return Text();
  CFArrayRef names = nullptr;
  const AXError result = AXUIElementCopyActionNames(element, &names);
  NoteReply(budget, result);
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

// A budget in milliseconds as the stop line shows it: whole numbers without a fraction.
Text BudgetText(double ms) {
  if (ms == std::floor(ms)) return std::to_string(static_cast<int64_t>(ms));
  return FormatNumber(ms);
}

// The line that says why a walk stopped before its end, if it did; nothing when the host is
// leaving, since no one will read the dump.
Text StopLine(StopReason stop, double budgetMs, int32_t rendered) {
  const Text at = ", walk stopped at " + std::to_string(rendered) + ")\n";
  switch (stop) {
    case StopReason::kNotResponding:
      return "\xE2\x80\xA6 (application not responding" + at;
    case StopReason::kBudgetSpent:
      return "\xE2\x80\xA6 (time budget of " + BudgetText(budgetMs) + " ms spent" + at;
    default:
      return Text();
  }
}

// Where a web area's children would be while its application is still building them.
constexpr char kWebContentLoadingLine[] = "\xE2\x80\xA6 (web content still loading)\n";

// Written in place of the tree when another thread than the main one dumps while the host's own
// window is in front.
constexpr char kHostInFrontLine[] =
    "\xE2\x80\xA6 (the host's own window is in front: its elements are read on its main thread "
    "only)\n";

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: web content. Chromium-based applications (browsers, and Electron
// applications such as chat clients and code editors) build the accessibility tree of their web
// content only once an assistive client switched it on ("AXManualAccessibility", which they take
// where native applications refuse it), and then asynchronously: a walk started at once finds
// their web areas empty. So a dump of an application whose web content this process switched on
// moments ago asks an empty web area again until it has children, within the dump's budget; a
// native application (which refuses the switch), or one switched on long before, is never waited
// for. Process-wide, since the switch is: any script thread may take the lock, the tap thread
// never does.

constexpr std::chrono::milliseconds kWebContentSettleTime{5000};
constexpr std::chrono::milliseconds kWebContentPollInterval{50};
constexpr size_t kWebContentSwitchesKept = 16;

struct WebContentSwitch {
  pid_t pid;  // 0: a free entry
  SteadyClock::time_point since;
};

std::mutex g_webContentMutex;
WebContentSwitch g_webContentSwitches[kWebContentSwitchesKept];

// When this process first switched web content on in the application of pid: now, unless it
// did before. An entry past its settle time is of no more use, and the oldest is given up first.
SteadyClock::time_point NoteWebContentSwitchedOn(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_webContentMutex);
  const SteadyClock::time_point now = SteadyClock::now();
  WebContentSwitch* oldest = &g_webContentSwitches[0];
  for (WebContentSwitch& entry : g_webContentSwitches) {
    if (entry.pid == pid) return entry.since;
    if (entry.pid == 0 || entry.since < oldest->since) oldest = &entry;
  }
  *oldest = WebContentSwitch{pid, now};
  return now;
}

// Sets the two attributes that switch web content on, in this order; true when the application
// took either (a Chromium-based one), whatever else it answered.
bool EnableWebContent(ResponseBudget& budget, AXUIElementRef application) {
  bool taken = false;
  for (CFStringRef attribute : {CFSTR("AXManualAccessibility"), CFSTR("AXEnhancedUserInterface")}) {
    if (!MayAsk(budget, application)) break;
    const AXError code = AXUIElementSetAttributeValue(application, attribute, kCFBooleanTrue);
    NoteReply(budget, code);
    taken = taken || code == kAXErrorSuccess;
  }
  return taken;
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: the walk. Depth first and in pre-order over the focused application's
// tree, within the options' limits and the response budget.

struct DumpOptions {
  int32_t maxDepth = 16;
  int32_t maxChildrenPerNode = 60;
  int32_t maxNodes = 1500;
  int32_t textTruncate = 140;
  double timeoutMs = kDefaultBudgetMs;  // the application's time budget for the whole dump
};

// The state of one dump. The references are the caller's; the rest is set by name.
struct DumpCtx {
  DumpCtx(const DumpOptions& dumpOptions, Text& dumpText, Napi::Object& dumpNodes,
          Napi::Env dumpEnv, ElementReader& elementReader)
      : options(dumpOptions),
        text(dumpText),
        nodes(dumpNodes),
        env(dumpEnv),
        reader(elementReader) {}

  const DumpOptions& options;
  Text& text;
  Napi::Object& nodes;
  Napi::Env env;
  ElementReader& reader;
  int32_t nodeCount = 0;
  int32_t focusedNodeId = -1;
  AXUIElementRef focusedElement = nullptr;  // borrowed from the caller, may be null
  Text focusedRole;
  Text focusedLabel;
  // While the application may still be building its web content: until when.
  bool webContentBuilding = false;
  SteadyClock::time_point webContentDue;
};

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
  ResponseBudget& budget = ctx.reader.budget;
  NodeReading node;
  node.axRole = SlotText(values, kRoleSlot);
  node.role = HumanRoleName(node.axRole, SlotText(values, kSubroleSlot));
  node.texts = ReadNodeTexts(values, ctx.options.textTruncate);
  node.frame = ReadAxFrame(values);
  node.state = ReadAxStateFlags(values, ReadValueSettable(budget, element));
  if (node.axRole == "AXWindow") node.actions = WindowActionsPart(budget, element);
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

// The children of an element: how many it has, and the first of them the walk may visit, read
// whole with the element's other attributes or apart, in part.
struct ChildList {
  CFArrayRef items;  // owned; null when none were read
  CFIndex count;
};

// Children that came with the element's attributes, when "AXChildren" is an array: a reference of
// the list's own, so that the array outlives the element's other values.
ChildList ChildrenRead(const ElementValues& values) {
  CFTypeRef value = values.slots[kChildrenSlot];
  if (value == nullptr || values.types[kChildrenSlot] != CFArrayGetTypeID()) return {nullptr, 0};
  const auto items = static_cast<CFArrayRef>(CFRetain(value));
  return ChildList{items, CFArrayGetCount(items)};
}

// How many children of count the fan-out limit lets through (a negative limit: none).
CFIndex ChildrenToVisit(CFIndex count, const DumpOptions& options) {
  return std::max<CFIndex>(0, std::min<CFIndex>(count, options.maxChildrenPerNode));
}

// The number of an element's children, or 0 when it has none or cannot say.
CFIndex CountChildren(AXUIElementRef element, DumpCtx& ctx) {
  ResponseBudget& budget = ctx.reader.budget;
  if (!MayAsk(budget, element)) return 0;
  CFIndex count = 0;
  const AXError code = AXUIElementGetAttributeValueCount(element, CFSTR("AXChildren"), &count);
  NoteReply(budget, code);
  return code == kAXErrorSuccess ? std::max<CFIndex>(count, 0) : 0;
}

// The children read apart from the other attributes: counted, then at most as many as the walk
// will visit (the fan-out limit, and the nodes the cap still allows), so that a long list (a
// table of thousands of rows) costs no more than the rows shown.
ChildList ReadChildrenApart(AXUIElementRef element, CFIndex count, DumpCtx& ctx) {
  const CFIndex wanted = std::min<CFIndex>(
      ChildrenToVisit(count, ctx.options),
      std::max<CFIndex>(0, static_cast<CFIndex>(ctx.options.maxNodes) - ctx.nodeCount));
  ResponseBudget& budget = ctx.reader.budget;
  if (wanted == 0 || !MayAsk(budget, element)) return ChildList{nullptr, count};
  CFArrayRef items = nullptr;
  const AXError code =
      AXUIElementCopyAttributeValues(element, CFSTR("AXChildren"), 0, wanted, &items);
  NoteReply(budget, code);
  if (code != kAXErrorSuccess && items != nullptr) {
    CFRelease(items);
    items = nullptr;
  }
  // The list may have changed since it was counted; what was read is what there is.
  if (items == nullptr) return ChildList{nullptr, 0};
  return ChildList{items, count};
}

// An empty web area of an application that may still be building its web content, asked again
// until it has children, the settle time is over or the call stops asking. The walk waits here
// and nowhere else; what it could not wait for is marked under the web area.
ChildList WaitForWebContent(AXUIElementRef element, int32_t depth, DumpCtx& ctx) {
  ResponseBudget& budget = ctx.reader.budget;
  while (!StoppedAsking(budget)) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (now >= ctx.webContentDue) break;
    const SteadyClock::duration budgetLeft =
        std::max(budget.deadline - now, SteadyClock::duration::zero());
    const auto pause = std::min<SteadyClock::duration>(
        {kWebContentPollInterval, ctx.webContentDue - now, budgetLeft});
    std::this_thread::sleep_for(pause);
    const CFIndex count = CountChildren(element, ctx);
    if (count > 0) return ReadChildrenApart(element, count, ctx);
  }
  ctx.text += Indentation(depth + 1);
  ctx.text += kWebContentLoadingLine;
  return ChildList{nullptr, 0};
}

// An element whose children are being visited. The walk keeps these on a heap-allocated stack
// instead of recursing, so no tree depth the limits allow can exhaust the thread's stack.
struct ChildFrame {
  AXUIElementRef element;  // borrowed (from the parent's list, or the caller)
  ChildList children;
  CFIndex visit;  // how many of them the fan-out limit lets through
  CFIndex next;
  int32_t depth;
  bool childrenMayListMany;  // the element is a scroll area: its content may hold long lists
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

// A scroll area's content is where applications keep their long lists (a table of thousands of
// rows, a long chat), and on a Mac an element's whole child list comes back in one message: so
// such content is read without its children, which are then counted and read in part.
bool HoldsLongLists(const Text& axRole) {
  return axRole == "AXScrollArea";
}

void VisitElement(AXUIElementRef element, int32_t depth, bool mayListMany, DumpCtx& ctx,
                  std::vector<ChildFrame>& stack, AncestorSet& ancestors) {
  if (element == nullptr || depth > ctx.options.maxDepth || ctx.nodeCount >= ctx.options.maxNodes) {
    return;
  }
  // A text that no script string can hold any more is cut when it is handed over; walking on
  // would only grow it (indentation makes a deep chain's text grow with the square of its depth).
  if (ctx.text.size() >= kMaxScriptStringBytes) return;
  ResponseBudget& budget = ctx.reader.budget;
  if (ancestors.count(element) != 0 || StoppedAsking(budget)) return;
  ElementValues values = ReadElementValues(element, ctx.reader, !mayListMany);
  const NodeReading node = ReadNode(element, values, ctx);
  // The call stopped asking while this element was read: the walk stops here, and the element,
  // read only in part, is not shown.
  if (StoppedAsking(budget)) {
    ReleaseElementValues(values);
    return;
  }
  EmitNode(element, depth, ctx, node);
  ChildList children = values.childrenApart
                           ? ReadChildrenApart(element, CountChildren(element, ctx), ctx)
                           : ChildrenRead(values);
  ReleaseElementValues(values);
  if (children.count == 0 && ctx.webContentBuilding && node.axRole == "AXWebArea") {
    if (children.items != nullptr) CFRelease(children.items);
    children = WaitForWebContent(element, depth, ctx);
  }
  if (children.items == nullptr && children.count == 0) return;
  const CFIndex listed = children.items != nullptr ? CFArrayGetCount(children.items) : 0;
  const CFIndex visit = std::min(ChildrenToVisit(children.count, ctx.options), listed);
  stack.push_back(ChildFrame{element, children, visit, 0, depth, HoldsLongLists(node.axRole)});
  ancestors.insert(element);
}

void FinishFrame(const ChildFrame& frame, DumpCtx& ctx) {
  const CFIndex count = frame.children.count;
  const CFIndex visit = ChildrenToVisit(count, ctx.options);
  if (count > visit && count > ctx.options.maxChildrenPerNode) {
    ctx.text += Indentation(frame.depth + 1);
    ctx.text += "\xE2\x80\xA6 (";
    ctx.text += std::to_string(count - visit);
    ctx.text += " more children omitted)\n";
  }
  if (frame.children.items != nullptr) CFRelease(frame.children.items);
}

// Depth first, pre-order, from root at depth 0: a node's line before its subtree, its omission
// line after it.
void DumpAxTree(AXUIElementRef root, DumpCtx& ctx) {
  std::vector<ChildFrame> stack;
  AncestorSet ancestors;
  VisitElement(root, 0, false, ctx, stack, ancestors);
  while (!stack.empty()) {
    ChildFrame& top = stack.back();
    if (top.next < top.visit && ctx.nodeCount < ctx.options.maxNodes &&
        !StoppedAsking(ctx.reader.budget)) {
      const auto child =
          static_cast<AXUIElementRef>(CFArrayGetValueAtIndex(top.children.items, top.next));
      top.next++;
      const int32_t childDepth = top.depth + 1;
      const bool mayListMany = top.childrenMayListMany;
      VisitElement(child, childDepth, mayListMany, ctx, stack, ancestors);  // may grow the stack
      continue;
    }
    ancestors.erase(top.element);
    FinishFrame(top, ctx);
    stack.pop_back();
  }
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: options.

// Leaves an exception pending for a host call that failed, unless the host left one already
// (a getter or Proxy trap that threw). Always false, for the caller to return.
bool KeepFailurePending(Napi::Env env) {
  if (!env.IsExceptionPending()) Napi::Error::New(env).ThrowAsJavaScriptException();
  return false;
}

constexpr char kTimeoutRangeMessage[] = "timeoutMs must be a positive number of milliseconds";

// The value of option key into *value; false when reading it threw (a getter, a Proxy's has or
// get trap): that exception stays pending. Each status is checked before its value is used,
// since node-addon-api ends the process when handed the empty value a failed read leaves.
bool ReadOption(Napi::Env env, napi_value object, const char* key, bool* has, napi_value* value) {
  if (napi_has_named_property(env, object, key, has) != napi_ok) return KeepFailurePending(env);
  if (*has && napi_get_named_property(env, object, key, value) != napi_ok) {
    return KeepFailurePending(env);
  }
  return true;
}

// Reads the options into *options; false when the call is to end at once with the exception
// left pending: an option whose reading threw, or a time budget out of range (NaN, zero or
// negative: a RangeError, and nothing is asked). A present value that is no number (undefined
// included) converts to 0, or leaves the budget as it is, and leaves the conversion's exception
// pending; the later options keep their defaults and the dump still runs, ending with that
// exception.
bool ReadDumpOptions(const Napi::CallbackInfo& info, DumpOptions* options) {
  if (info.Length() < 1 || !(info[0].IsObject() || info[0].IsFunction())) return true;
  Napi::Env env = info.Env();
  const napi_value object = info[0];
  struct Limit {
    const char* key;
    int32_t* target;
  };
  const Limit limits[] = {{"maxDepth", &options->maxDepth},
                          {"maxChildrenPerNode", &options->maxChildrenPerNode},
                          {"maxNodes", &options->maxNodes},
                          {"textTruncate", &options->textTruncate}};
  for (const Limit& limit : limits) {
    bool has = false;
    napi_value value = nullptr;
    if (!ReadOption(env, object, limit.key, &has, &value)) return false;
    if (!has) continue;
    *limit.target = Napi::Value(env, value).As<Napi::Number>().Int32Value();
    if (env.IsExceptionPending()) return true;
  }
  bool has = false;
  napi_value value = nullptr;
  if (!ReadOption(env, object, "timeoutMs", &has, &value)) return false;
  if (!has) return true;
  const double ms = Napi::Value(env, value).As<Napi::Number>().DoubleValue();
  if (env.IsExceptionPending()) return true;
  if (!(ms > 0)) {
    Napi::RangeError::New(env, kTimeoutRangeMessage).ThrowAsJavaScriptException();
    return false;
  }
  options->timeoutMs = std::min(ms, kMaxBudgetMs);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Accessibility snapshot: the script functions.

Text WindowTitle(ResponseBudget& budget, AXUIElementRef application) {
  CFTypeRef window = CopyAxAttribute(budget, application, CFSTR("AXFocusedWindow"));
  if (window == nullptr) return Text();
  Text title = CopyAxStringAttr(budget, static_cast<AXUIElementRef>(window), CFSTR("AXTitle"));
  CFRelease(window);
  return title;
}

// The result without a tree: no accessibility, no focused application, or one that does not
// answer.
Napi::Object FailedDump(Napi::Env env, Napi::Object result, const Text& text) {
  result.Set("text", ScriptString(env, text));
  result.Set("focusedNodeId", env.Null());
  return result;
}

Text DumpErrorText(AXError code, bool unanswered) {
  return "ax-error code=" + std::to_string(static_cast<int32_t>(code)) +
         (unanswered ? " (the focused application is not responding)\n"
                     : " (Accessibility permission likely not granted to this build)\n");
}

void SetDumpIdentity(Napi::Env env, Napi::Object result, const Text& bundleId, const Text& appName,
                     const Text& windowTitle, pid_t pid) {
  result.Set("bundleId", ScriptString(env, bundleId));
  result.Set("appName", ScriptString(env, appName));
  result.Set("windowTitle", ScriptString(env, windowTitle));
  result.Set("pid", Napi::Number::New(env, static_cast<double>(pid)));
}

// A dump on another thread than the main one while the host is in front: the host's header, and
// the line that says why there is no tree. axDumpAsync dumps on the main thread instead.
Napi::Object HostInFrontDump(Napi::Env env, Napi::Object result) {
  const pid_t pid = getpid();
  const Text appName = RunningApplicationText(pid, false);
  const Text bundleId = RunningApplicationText(pid, true);
  result.Set("text",
             ScriptString(env, DumpHeader(appName, bundleId, pid, Text()) + kHostInFrontLine));
  result.Set("focusedNodeId", env.Null());
  SetDumpIdentity(env, result, bundleId, appName, Text(), pid);
  return result;
}

Text DumpTrailer(const DumpCtx& ctx, StopReason stop) {
  Text text;
  if (ctx.nodeCount >= ctx.options.maxNodes) {
    text += "\xE2\x80\xA6 (max node cap reached at " + std::to_string(ctx.options.maxNodes) + ")\n";
  }
  text += StopLine(stop, ctx.options.timeoutMs, ctx.nodeCount);
  if (ctx.focusedNodeId >= 0) {
    text +=
        "\nThe focused UI element is " + std::to_string(ctx.focusedNodeId) + " " + ctx.focusedRole;
    if (!ctx.focusedLabel.empty()) text += " " + ctx.focusedLabel;
    text += ".\n";
  }
  return text;
}

Napi::Value AxDump(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  DumpOptions options;
  if (!ReadDumpOptions(info, &options)) return env.Null();
  ResponseBudget budget = StartBudget(env, options.timeoutMs);
  Napi::Object result = Napi::Object::New(env);
  Napi::Object nodes = Napi::Object::New(env);
  result.Set("nodes", nodes);

  const FocusRoute route = RouteToFocus();
  if (route == FocusRoute::kNotHere) return HostInFrontDump(env, result);
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) return FailedDump(env, result, Text());
  AXError code = kAXErrorSuccess;
  const auto application = static_cast<AXUIElementRef>(
      CopyFocusAttribute(budget, route, systemWide, CFSTR("AXFocusedApplication"), &code));
  if (application == nullptr) {
    CFRelease(systemWide);
    return FailedDump(env, result, DumpErrorText(code, budget.unansweredInARow > 0));
  }

  const bool webContentTaken = EnableWebContent(budget, application);
  const auto focused = static_cast<AXUIElementRef>(
      CopyAxAttribute(budget, application, CFSTR("AXFocusedUIElement")));
  pid_t pid = 0;
  AXUIElementGetPid(application, &pid);  // answered locally: no round trip
  const Text appName = RunningApplicationText(pid, false);
  const Text bundleId = RunningApplicationText(pid, true);
  Text windowTitle = WindowTitle(budget, application);
  ClipText(windowTitle, options.textTruncate);

  Text text = DumpHeader(appName, bundleId, pid, windowTitle);
  ElementReader reader{budget, CreateBatchNames(), false};
  DumpCtx ctx(options, text, nodes, env, reader);
  ctx.focusedElement = focused;
  if (webContentTaken) {
    ctx.webContentDue = NoteWebContentSwitchedOn(pid) + kWebContentSettleTime;
    ctx.webContentBuilding = SteadyClock::now() < ctx.webContentDue;
  }
  DumpAxTree(application, ctx);
  ReleaseBatchNames(reader.names);
  text += DumpTrailer(ctx, budget.stop);

  result.Set("text", ScriptString(env, text));
  result.Set("focusedNodeId", ctx.focusedNodeId >= 0
                                  ? Napi::Value(Napi::Number::New(env, ctx.focusedNodeId))
                                  : env.Null());
  SetDumpIdentity(env, result, bundleId, appName, windowTitle, pid);

  if (focused != nullptr) CFRelease(focused);
  CFRelease(application);
  CFRelease(systemWide);
  return result;
}

Napi::Value AxFocused(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const FocusRoute route = RouteToFocus();
  if (route == FocusRoute::kNotHere) return Napi::Object::New(env);
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) return env.Null();
  ResponseBudget budget = StartBudget(env, kDefaultBudgetMs);
  AXError code = kAXErrorSuccess;
  const auto focused = static_cast<AXUIElementRef>(
      CopyFocusAttribute(budget, route, systemWide, CFSTR("AXFocusedUIElement"), &code));
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
      result.Set(key.name, ScriptString(env, CopyAxStringAttr(budget, focused, key.attribute)));
    }
    CFRelease(focused);
  }
  CFRelease(systemWide);
  return result;
}

Napi::Value AxEnableWebContent(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const FocusRoute route = RouteToFocus();
  if (route == FocusRoute::kNotHere) return Napi::Boolean::New(env, false);
  AXUIElementRef systemWide = AXUIElementCreateSystemWide();
  if (systemWide == nullptr) return Napi::Boolean::New(env, false);
  ResponseBudget budget = StartBudget(env, kDefaultBudgetMs);
  AXError code = kAXErrorSuccess;
  const auto application = static_cast<AXUIElementRef>(
      CopyFocusAttribute(budget, route, systemWide, CFSTR("AXFocusedApplication"), &code));
  const bool found = application != nullptr;
  if (found) {
    if (EnableWebContent(budget, application)) {
      pid_t pid = 0;
      AXUIElementGetPid(application, &pid);
      NoteWebContentSwitchedOn(pid);
    }
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
