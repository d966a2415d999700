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
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
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
// Written and read only on the tap thread.
CFMachPortRef g_tap = nullptr;
CFRunLoopSourceRef g_tapSource = nullptr;

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

constexpr CFTimeInterval kRunSliceSeconds = 0.5;
constexpr int64_t kRightCommandKeyCode = 54;
constexpr int32_t kMinSuppressibleButton = 1;
constexpr int32_t kMaxSuppressibleButton = 31;

// ---------------------------------------------------------------------------------------------
// Event records. A delivery carries only this small plain record across threads; the script
// object is built from it on the script thread. It stays small and trivially copyable so the
// callable that carries it needs no allocation of its own beyond the queue entry.

enum class RecordKind : uint8_t { kModifier, kButton, kStartFailed };
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
// Tap callback (tap thread, inside the run loop's runs).

void ReenableTap() {
  if (g_tap != nullptr) CGEventTapEnable(g_tap, true);
}

void HandleFlagsChanged(CGEventRef event) {
  const CGEventFlags flags = CGEventGetFlags(event);

  const bool fnDown = (flags & kCGEventFlagMaskSecondaryFn) != 0;
  if (g_fnDown.exchange(fnDown) != fnDown) ReportModifierEdge(Modifier::kFn, fnDown);

  // The Command flag is shared by both Command keys, so only a change of the right key's own
  // key code may move the right Command state.
  if (CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode) != kRightCommandKeyCode) return;
  const bool commandDown = (flags & kCGEventFlagMaskCommand) != 0;
  if (g_rightCmdDown.exchange(commandDown) != commandDown) {
    ReportModifierEdge(Modifier::kRightCommand, commandDown);
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
      ReenableTap();
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

void TapThreadMain() {
  CFRunLoopRef runLoop = CFRunLoopGetCurrent();
  CFRetain(runLoop);
  g_tapRunLoop.store(runLoop, std::memory_order_release);

  if (!InstallTap(runLoop)) {
    ReportStartFailed();
    return;
  }
  // A stop that lands before the first run is still seen: either the flag is already clear, or
  // the pending stop makes the next run return at once.
  while (g_running.load(std::memory_order_acquire)) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, kRunSliceSeconds, false);
  }
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

// Caller holds g_lifecycleMutex. Returns false when the tap was not running.
bool EndTap(TsfnDisposal disposal) {
  if (!g_running.load(std::memory_order_acquire)) return false;
  if (disposal == TsfnDisposal::kDiscard) {
    // Past this point the environment may be going away: stop queueing before anything else.
    g_tsfnActive.store(false, std::memory_order_release);
  }
  g_running.store(false, std::memory_order_release);
  if (CFRunLoopRef runLoop = g_tapRunLoop.load(std::memory_order_acquire)) {
    CFRunLoopStop(runLoop);
  }
  if (g_tapThread.joinable) {
    pthread_join(g_tapThread.handle, nullptr);
    g_tapThread.joinable = false;
  }
  // The thread has ended: nothing else can touch the loop reference now.
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
  // Only script threads write the mask, so a plain load and store suffice.
  const uint32_t bit = 1u << button;
  uint32_t mask = g_suppressMask.load(std::memory_order_acquire);
  mask = on ? (mask | bit) : (mask & ~bit);
  g_suppressMask.store(mask, std::memory_order_release);
  return Napi::Number::New(env, static_cast<double>(mask));
}

// ---------------------------------------------------------------------------------------------
// Synthetic input (script thread only). Every event is created without a source, posted at the
// HID level and released within the call; a creation that fails is skipped and the rest of the
// sequence still goes out. Posted events carry no marker: the tap sees them like hardware, and
// only ever other-mouse events of the middle button, which it does not report.

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

// Posting never fails visibly, so there is nothing to report; the event is ours to release.
void PostAndRelease(CGEventRef event) {
  CGEventPost(kCGHIDEventTap, event);
  CFRelease(event);
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
    PostAndRelease(move);
  }
}

void PostClickPair(const MouseButtonRow& row, CGPoint point, int32_t clickState) {
  CGEventRef down = CGEventCreateMouseEvent(nullptr, row.down, point, row.button);
  CGEventRef up = CGEventCreateMouseEvent(nullptr, row.up, point, row.button);
  if (down != nullptr) {
    CGEventSetIntegerValueField(down, kCGMouseEventClickState, clickState);
    PostAndRelease(down);
  }
  if (up != nullptr) {
    CGEventSetIntegerValueField(up, kCGMouseEventClickState, clickState);
    PostAndRelease(up);
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
    PostAndRelease(scroll);
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

void PostKeyEvent(CGEventRef event, CGEventFlags flags) {
  // With no modifiers the event keeps the flags it was created with.
  if (flags != 0) CGEventSetFlags(event, flags);
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

void PostTypedEvent(CGEventRef event, const char16_t* units, size_t count) {
  CGEventKeyboardSetUnicodeString(event, count, reinterpret_cast<const UniChar*>(units));
  PostAndRelease(event);
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

Text CfStringToUtf8(CFStringRef string) {
  if (string == nullptr) return Text();
  const CFIndex length = CFStringGetLength(string);
  const CFIndex max = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
  Text buffer(static_cast<size_t>(std::max<CFIndex>(max, 0)) + 1, '\0');
  CFIndex written = 0;
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8*>(&buffer[0]), static_cast<CFIndex>(buffer.size()),
                   &written);
  buffer.resize(static_cast<size_t>(std::max<CFIndex>(written, 0)));
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

Text TextOfValue(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
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

Text CopyAxStringAttr(AXUIElementRef element, CFStringRef attribute) {
  CFTypeRef value = CopyAxAttribute(element, attribute);
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

// Reads an AXValue attribute of the given type into target, which keeps its preset when the
// attribute is missing. Only an AXValue can be asked for its structure; anything else is
// ignored.
void ReadAxValueAttr(AXUIElementRef element, CFStringRef attribute, AXValueType type,
                     void* target) {
  CFTypeRef value = CopyAxAttribute(element, attribute);
  if (value == nullptr) return;
  if (IsOfType(value, AXValueGetTypeID())) {
    AXValueGetValue(static_cast<AXValueRef>(value), type, target);
  }
  CFRelease(value);
}

AxFrame ReadAxFrame(AXUIElementRef element) {
  CGPoint point = CGPointZero;
  ReadAxValueAttr(element, CFSTR("AXPosition"), kAXValueTypeCGPoint, &point);
  CGSize size = CGSizeZero;
  ReadAxValueAttr(element, CFSTR("AXSize"), kAXValueTypeCGSize, &size);
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
const char* ValueKindWord(CFTypeRef value) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFBooleanGetTypeID()) return "boolean";
  if (type == CFNumberGetTypeID()) {
    return IsFloatNumberType(CFNumberGetType(static_cast<CFNumberRef>(value))) ? "float"
                                                                               : "integer";
  }
  if (type == CFStringGetTypeID()) return "string";
  return nullptr;
}

// The boolean attribute's value when it is a boolean: 1 true, 0 false, -1 missing or another kind.
int ReadAxBoolean(AXUIElementRef element, CFStringRef attribute) {
  CFTypeRef value = CopyAxAttribute(element, attribute);
  if (value == nullptr) return -1;
  int state = -1;
  if (IsOfType(value, CFBooleanGetTypeID())) {
    state = CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0;
  }
  CFRelease(value);
  return state;
}

AxStateWords ReadAxStateFlags(AXUIElementRef element) {
  AxStateWords state{{}, 0};
  if (ReadAxBoolean(element, CFSTR("AXEnabled")) == 0) state.words[state.count++] = "disabled";
  if (ReadAxBoolean(element, CFSTR("AXSelected")) == 1) state.words[state.count++] = "selected";
  Boolean settable = false;
  AXUIElementIsAttributeSettable(element, CFSTR("AXValue"), &settable);
  if (settable) {
    state.words[state.count++] = "settable";
    if (CFTypeRef value = CopyAxAttribute(element, CFSTR("AXValue"))) {
      if (const char* kind = ValueKindWord(value)) state.words[state.count++] = kind;
      CFRelease(value);
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
};

// The five texts of a node, read and clipped.
struct NodeTexts {
  Text title;
  Text description;
  Text value;
  Text help;
  Text placeholder;
};

NodeTexts ReadNodeTexts(AXUIElementRef element, int32_t limit) {
  NodeTexts texts{CopyAxStringAttr(element, CFSTR("AXTitle")),
                  CopyAxStringAttr(element, CFSTR("AXDescription")),
                  CopyAxStringAttr(element, CFSTR("AXValue")),
                  CopyAxStringAttr(element, CFSTR("AXHelp")),
                  CopyAxStringAttr(element, CFSTR("AXPlaceholderValue"))};
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
Text WindowActionsPart(AXUIElementRef element) {
  CFArrayRef names = nullptr;
  const AXError result = AXUIElementCopyActionNames(element, &names);
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

// One emitted node: its line, its record and the focus check.
void EmitNode(AXUIElementRef element, int32_t depth, DumpCtx& ctx) {
  const int32_t id = ctx.nodeCount++;
  const Text axRole = CopyAxStringAttr(element, CFSTR("AXRole"));
  const Text subrole = CopyAxStringAttr(element, CFSTR("AXSubrole"));
  const Text role = HumanRoleName(axRole, subrole);
  const NodeTexts texts = ReadNodeTexts(element, ctx.options.textTruncate);
  const AxFrame frame = ReadAxFrame(element);
  const AxStateWords state = ReadAxStateFlags(element);

  ctx.text += Indentation(depth);
  ctx.text += std::to_string(id);
  ctx.text += " ";
  ctx.text += role.empty() ? "?" : role;
  ctx.text += StateList(state);
  ctx.text += LabelPart(texts);
  if (axRole == "AXWindow") ctx.text += WindowActionsPart(element);
  ctx.text += "\n";

  SetNodeRecord(ctx, id, depth, role, axRole, texts, frame);

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

// Children of an element, when its "AXChildren" is an array.
CFArrayRef CopyAxChildren(AXUIElementRef element) {
  CFTypeRef value = CopyAxAttribute(element, CFSTR("AXChildren"));
  if (value == nullptr) return nullptr;
  if (!IsOfType(value, CFArrayGetTypeID())) {
    CFRelease(value);
    return nullptr;
  }
  return static_cast<CFArrayRef>(value);
}

void VisitElement(AXUIElementRef element, int32_t depth, DumpCtx& ctx,
                  std::vector<ChildFrame>& stack, AncestorSet& ancestors) {
  if (element == nullptr || depth > ctx.options.maxDepth || ctx.nodeCount >= ctx.options.maxNodes) {
    return;
  }
  // A text that no script string can hold any more is cut when it is handed over; walking on
  // would only grow it (indentation makes a deep chain's text grow with the square of its depth).
  if (ctx.text.size() >= kMaxScriptStringBytes) return;
  if (ancestors.count(element) != 0) return;
  EmitNode(element, depth, ctx);
  CFArrayRef children = CopyAxChildren(element);
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
    if (top.next < top.visit && ctx.nodeCount < ctx.options.maxNodes) {
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

DumpOptions ReadDumpOptions(const Napi::CallbackInfo& info) {
  DumpOptions options;
  if (info.Length() < 1 || !(info[0].IsObject() || info[0].IsFunction())) return options;
  Napi::Object object = info[0].As<Napi::Object>();
  struct Field {
    const char* key;
    int32_t* target;
  };
  const Field fields[] = {{"maxDepth", &options.maxDepth},
                          {"maxChildrenPerNode", &options.maxChildrenPerNode},
                          {"maxNodes", &options.maxNodes},
                          {"textTruncate", &options.textTruncate}};
  for (const Field& field : fields) {
    // A present value that is no number (undefined included) converts to 0 and leaves the
    // conversion's exception pending for the script.
    if (object.Has(field.key))
      *field.target = object.Get(field.key).As<Napi::Number>().Int32Value();
  }
  return options;
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

void EnableWebContent(AXUIElementRef application) {
  AXUIElementSetAttributeValue(application, CFSTR("AXManualAccessibility"), kCFBooleanTrue);
  AXUIElementSetAttributeValue(application, CFSTR("AXEnhancedUserInterface"), kCFBooleanTrue);
}

// The focused application of the system-wide element, owned, or null with the code.
AXUIElementRef CopyFocusedApplication(AXUIElementRef systemWide, AXError* result) {
  return static_cast<AXUIElementRef>(
      CopyAxAttribute(systemWide, CFSTR("AXFocusedApplication"), result));
}

Text WindowTitle(AXUIElementRef application) {
  CFTypeRef window = CopyAxAttribute(application, CFSTR("AXFocusedWindow"));
  if (window == nullptr) return Text();
  Text title = CopyAxStringAttr(static_cast<AXUIElementRef>(window), CFSTR("AXTitle"));
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
  const DumpOptions options = ReadDumpOptions(info);
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

  EnableWebContent(application);
  const auto focused =
      static_cast<AXUIElementRef>(CopyAxAttribute(application, CFSTR("AXFocusedUIElement")));
  pid_t pid = 0;
  AXUIElementGetPid(application, &pid);
  const Text appName = RunningApplicationText(pid, false);
  const Text bundleId = RunningApplicationText(pid, true);
  Text windowTitle = WindowTitle(application);
  ClipText(windowTitle, options.textTruncate);

  Text text = DumpHeader(appName, bundleId, pid, windowTitle);
  DumpCtx ctx{options, text, nodes, env, 0, -1, focused, Text(), Text()};
  DumpAxTree(application, 0, ctx);
  if (ctx.nodeCount >= options.maxNodes) {
    text += "\xE2\x80\xA6 (max node cap reached at " + std::to_string(options.maxNodes) + ")\n";
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
  const auto focused =
      static_cast<AXUIElementRef>(CopyAxAttribute(systemWide, CFSTR("AXFocusedUIElement")));
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
      result.Set(key.name, ScriptString(env, CopyAxStringAttr(focused, key.attribute)));
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
    EnableWebContent(application);
    CFRelease(application);
  }
  CFRelease(systemWide);
  return Napi::Boolean::New(env, found);
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
