// Internal model of the simulated desktop, shared by its translation units.
//
// One mutex (State::mu) guards every object, run loop, tap and queue. Tap callbacks, the only
// foreign code the simulation runs, are always called with it released, so a callback may call
// back into any function here from any thread.
#ifndef DESKTOP_SIM_INTERNAL_H_
#define DESKTOP_SIM_INTERNAL_H_

#include <ApplicationServices/ApplicationServices.h>
#include <desktop_sim/control.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace desktop_sim {

using Clock = std::chrono::steady_clock;

// Type ids: fixed, distinct, and never 0 (0 is what a lookup of garbage answers).
constexpr CFTypeID kAllocatorTypeId = 2;
constexpr CFTypeID kStringTypeId = 7;
constexpr CFTypeID kNullTypeId = 16;
constexpr CFTypeID kBooleanTypeId = 21;
constexpr CFTypeID kMachPortTypeId = 35;
constexpr CFTypeID kRunLoopTypeId = 43;
constexpr CFTypeID kRunLoopSourceTypeId = 44;
constexpr CFTypeID kEventTypeId = 267;
constexpr CFTypeID kDictionaryTypeId = 18;
constexpr CFTypeID kArrayTypeId = 19;
constexpr CFTypeID kNumberTypeId = 22;
constexpr CFTypeID kAxElementTypeId = 301;
constexpr CFTypeID kAxValueTypeId = 302;
constexpr CFTypeID kDataTypeId = 20;
constexpr CFTypeID kTisTypeId = 303;

const char* TypeName(CFTypeID type);

// Header of every simulated CF object. A reference is counted as the program's (Create/Copy
// results and CFRetain) or as the system's (a thread holding its run loop, a run loop holding a
// source, a source holding its port, the HID system holding an event in flight). An object is
// freed when both reach 0; the program can never release what only the system holds.
struct Object {
  CFTypeID type;
  bool immortal;
  bool freed;
  int64_t program_refs;
  int64_t system_refs;
  const char* freed_by;
  // The ledger counts references taken since the last reset: epoch is the reset generation in
  // which epoch_refs of this object's program references were taken.
  uint64_t epoch = 0;
  int64_t epoch_refs = 0;
};

struct Tap;
struct Work;

// A posted event as the applications received it; text holds its Unicode string, if any.
struct PostedEntry {
  desktop_sim_posted_event record;
  std::u16string text;
};

}  // namespace desktop_sim

struct __CFAllocator : desktop_sim::Object {};

struct __CFBoolean : desktop_sim::Object {
  bool value;
};

struct __CFNull : desktop_sim::Object {};

struct __CFString : desktop_sim::Object {
  const char16_t* units;  // UTF-16; heap-owned unless the string is a static constant
  CFIndex length;
  bool owns_units;
};

struct __CFRunLoopSource;

// A source's presence in one mode of a run loop. kCFRunLoopCommonModes is kept as its own entry,
// so that it can be asked about and removed as such, and counts as the default mode.
struct RunLoopEntry {
  __CFRunLoopSource* source;
  std::u16string mode;
};

struct __CFRunLoop : desktop_sim::Object {
  std::thread::id owner;
  bool owner_alive;
  // The stop flag of the innermost run in progress. CFRunLoopStop sets it only while a run is in
  // progress; every run starts with it clear and the outer run gets its own back afterwards.
  bool stop_pending;
  int run_depth;
  std::condition_variable cv;
  std::vector<RunLoopEntry> entries;
};

struct __CFRunLoopSource : desktop_sim::Object {
  bool valid;
  CFIndex order;
  // Version-0 sources (CFRunLoopSourceCreate): their perform callback and info, and whether a
  // signal waits for a run to serve it. A tap's port source is no version-0 source: signalling
  // it marks it, and no run ever serves that.
  bool version0;
  void (*perform)(void* info);
  void* info;
  bool signaled;
  __CFMachPort* port;                 // the port it belongs to (the source holds a reference)
  std::vector<__CFRunLoop*> holders;  // one entry per (run loop, mode) that holds it
};

struct __CFMachPort : desktop_sim::Object {
  bool valid;
  std::shared_ptr<desktop_sim::Tap> tap;
  __CFRunLoopSource* source;  // the one source made for this port, while it lives
};

namespace desktop_sim {
struct FieldSlot {
  uint32_t field;
  int64_t value;
};
constexpr int kInlineFields = 6;
}  // namespace desktop_sim

struct __CGEvent : desktop_sim::Object {
  CGEventType event_type;
  CGEventFlags flags;
  CGPoint location;
  CGEventTimestamp timestamp;
  int field_count;
  desktop_sim::FieldSlot fields[desktop_sim::kInlineFields];
  std::vector<desktop_sim::FieldSlot>* more_fields;
  std::u16string* unicode;  // set by CGEventKeyboardSetUnicodeString; null until then
};

namespace desktop_sim {

// An event tap as the window server keeps it. Shared by its port and by deliveries in flight,
// which may outlive the port.
struct Tap {
  uint64_t id;
  CGEventTapLocation location;
  CGEventTapPlacement placement;
  CGEventTapOptions options;
  CGEventMask mask;
  CGEventTapCallBack callback;
  void* user_info;
  bool enabled;
  bool alive;
  bool servicing;                // a run loop is inside this tap's callback for its front work item
  Clock::time_point enabled_at;  // when it was last enabled (a starving tap's timeout runs from it)
  __CFMachPort* port;
  std::deque<std::shared_ptr<Work>> pending;
};

enum class WorkState { kQueued, kRunning, kDone, kDropped };

// One item queued to a tap: events waiting for the callback's verdicts, or a notification.
struct Work {
  bool notification;
  CGEventType notify_type;
  std::shared_ptr<Tap> tap;
  std::vector<__CGEvent*> events;
  std::vector<__CGEvent*> verdicts;
  std::vector<__CGEvent*> adopted;  // replacement events the system took over from callbacks
  size_t next;
  WorkState state;
  bool in_callback;
  Clock::time_point queued_at;
  Clock::time_point callback_started_at;
  std::condition_variable done_cv;
};

enum class Misuse {
  kReleaseNull,
  kRetainNull,
  kReleaseFreed,
  kRetainFreed,
  kOverRelease,
  kUseAfterFree,
  kUnknownObject,
  kWrongType,
  kNullArgument,
  kBadArgument,
  kCallbackResult,
  kWrongThread,  // a call that the platform serves on the main thread only, made off it
  kCount,
};

// Histogram of callback durations: 1 ns buckets below 1024 ns, then 64 buckets per power of
// two, so that percentiles of a million calls cost no memory and no sorting.
struct CallbackTimes {
  static constexpr size_t kExact = 1024;
  static constexpr size_t kPerOctave = 64;
  static constexpr size_t kBuckets = kExact + (64 - 10) * kPerOctave;
  uint64_t buckets[kBuckets] = {};
  uint64_t count = 0;
  uint64_t max_ns = 0;
  long double total_ns = 0;
  void Add(uint64_t ns);
  uint64_t Percentile(double fraction) const;
};

struct State {
  std::mutex mu;
  std::unordered_map<const void*, Object*> objects;  // live, immortal and quarantined
  std::deque<Object*> quarantine;
  std::deque<Object*> event_quarantine;
  std::unordered_map<std::string, __CFString*> constant_strings;
  uint64_t live_objects = 0;
  uint64_t epoch = 1;
  int64_t live_refs = 0;  // program references taken since the last reset and still held

  uint64_t misuse_total = 0;
  uint64_t misuse_baseline = 0;
  std::deque<std::string> misuse_log;
  bool misuse_printed[static_cast<int>(Misuse::kCount)] = {};
  bool misuse_explained = false;
  bool abort_on_misuse = false;
  bool quiet = false;

  std::vector<std::shared_ptr<Tap>> taps;  // in tap order
  uint64_t next_tap_id = 1;
  bool refuse_taps = false;
  uint32_t tap_timeout_ms = DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS;
  size_t outstanding_work = 0;  // queued or running work items
  size_t callbacks_running = 0;
  std::condition_variable activity_cv;  // outstanding_work or callbacks_running changed

  std::deque<desktop_sim_event> app_events;
  uint64_t app_event_count = 0;

  // Events the program posted that reached the applications: all of them, or the most recent
  // posted_limit when that is not 0.
  std::deque<PostedEntry> posted;
  uint64_t posted_count = 0;
  size_t posted_limit = 0;
  // Event creation fails for every fail_event_every-th Create call (0: never).
  uint32_t fail_event_every = 0;
  uint64_t event_create_calls = 0;

  CallbackTimes callback_times;

  // The user's privacy switches for the process, and what they are asked for.
  bool permissions[DESKTOP_SIM_PERMISSION_COUNT] = {true, true, true};
  uint64_t prompts[DESKTOP_SIM_PERMISSION_COUNT] = {};
  uint32_t revocation_delay_ms = DESKTOP_SIM_DEFAULT_REVOCATION_DELAY_MS;
  Clock::time_point post_access_lost_at;  // when the process last lost post-event access
  uint64_t held_back = 0;
  bool revocation_watch_running = false;
  std::condition_variable revocation_cv;  // permissions, tap enabling or the delay changed
  // A stale preflight answers preflight_frozen, the switch as it was when it turned stale.
  bool preflight_stale[DESKTOP_SIM_PERMISSION_COUNT] = {};
  bool preflight_frozen[DESKTOP_SIM_PERMISSION_COUNT] = {};
  uint64_t tap_create_calls = 0;

  // The keyboard (keyboard.cc): keys held down, in the order they went down, and Caps Lock.
  std::vector<uint16_t> keys_down;
  bool caps_lock = false;
  // The Fn latch: bits the flag state keeps after their key went up, and whether they were
  // already latched when Fn last went down (that press and its release clear them).
  bool fn_latch = false;
  CGEventFlags latched = 0;
  bool latched_at_fn_press = false;

  State();
};

// The one desktop. Leaked on purpose: threads may still be inside the simulation while the
// process exits, so nothing here may ever be destroyed.
State& S();

using Lock = std::unique_lock<std::mutex>;

// Bounds of the use-after-free quarantine: freed objects keep their address (and memory) until
// this many more objects of their pool were freed. Events the system itself frees (the HID's own
// events in flight) have a small pool of their own so that a stream of input costs no memory.
constexpr size_t kQuarantineObjects = 65536;
constexpr size_t kQuarantineSystemEvents = 1024;
constexpr size_t kMisuseLogEntries = 1000;

extern __CFString g_default_mode;
extern __CFString g_common_modes;
extern __CFString g_trusted_check_prompt;

// --- objects (lock held) ---
void RecordMisuse(Misuse kind, const char* function, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Looks a reference up for a call of function: NULL, unknown, freed or of another type than
// expected (0 accepts any type) is recorded as misuse and answers nullptr.
Object* Use(const void* ref, CFTypeID expected, const char* function);
template <typename T>
T* UseAs(const void* ref, CFTypeID expected, const char* function) {
  return static_cast<T*>(Use(ref, expected, function));
}
void Register(Object* object);
void InitObject(Object* object, CFTypeID type, bool program_owned);
void AddProgramRef(Object* object);
// The ledger's side of a reference taken or given up. An immortal constant that a Copy call
// hands out (the booleans) is counted this way alone, so that a leaked one still shows.
void CountAcquired(Object* object);
void CountGivenUp(Object* object);
// The program gives up one reference without the object being released (the system takes it).
void TakeOverProgramRef(Object* object);
void DropSystemRef(Object* object, const char* function);
void DropProgramRef(Object* object, const char* function);
std::u16string Utf16Of(const __CFString* string);
bool IsCommonModes(const __CFString* mode);

// A program-owned string with these units (lock held).
__CFString* MakeString(const std::u16string& units);
// The UTF-16 form of well-formed UTF-8 text; empty for anything else.
std::u16string Utf16FromUtf8(const char* text);

// --- arrays, numbers and accessibility objects (values.cc, the accessibility files; lock held) ---
// Gives up what the object holds (an array its items, an element its desktop).
void FreeValuePayload(Object* object);
void DestroyValueObject(Object* object);
// Content equality and hash for the types CFEqual compares by value besides strings.
bool ValuesEqual(const Object* a, const Object* b);
// CFEqual of two live objects.
bool ObjectsEqual(const Object* a, const Object* b);
CFHashCode ValueHash(const Object* object);
// An empty accessibility desktop, no latency, logs emptied (trust is a permission).
void ResetAccessibility();

// --- run loops (lock held) ---
__CFRunLoop* CurrentLoopIfAny();
bool LoopHoldsSource(const __CFRunLoop* loop, const __CFRunLoopSource* source);
bool LoopHasSourceInMode(const __CFRunLoop* loop, const __CFRunLoopSource* source,
                         const std::u16string& mode);
void RemoveSourceEverywhere(__CFRunLoopSource* source);
void WakeLoopsHolding(const __CFRunLoopSource* source);
void TeardownRunLoop(__CFRunLoop* loop);
void TeardownSource(__CFRunLoopSource* source);
void TeardownPort(__CFMachPort* port);
// Serves one signalled version-0 source of loop in mode, if there is one: clears its signal and
// calls its perform with the lock released. True when one was served.
bool PerformSignaledSource(__CFRunLoop* loop, const std::u16string& mode, Lock& lock);
// Services one queued work item for a source of loop in mode, if there is one. Releases the
// lock while callbacks run.
enum class Serviced { kNothing, kNoCallback, kHandled };
Serviced ServiceOne(__CFRunLoop* loop, const std::u16string& mode, Lock& lock,
                    bool return_after_source_handled);
void DropTapWork(Tap* tap);

// --- taps and events (lock held) ---
void KillTap(Tap* tap);
void FinishWork(Work* work, WorkState state);
__CGEvent* NewEvent(CGEventType type, bool program_owned);
void FreeEventPayload(__CGEvent* event);
void QueueNotification(const std::shared_ptr<Tap>& tap, CGEventType type,
                       std::vector<std::shared_ptr<Work>>* waiters);
void RunCallback(Lock& lock, Tap* tap, CGEventType type, __CGEvent* event, CGEventRef* result);
void SetField(__CGEvent* event, uint32_t field, int64_t value);
int64_t GetField(__CGEvent* event, uint32_t field);

// Passes events through the live, enabled taps at location from and beyond, in tap order, and
// answers those that reach the applications. Replacement events the callbacks hand over are
// added to owned, whose system references the caller drops once it is done with the events.
std::vector<__CGEvent*> PassThroughTaps(Lock& lock, std::vector<__CGEvent*> flow,
                                        CGEventTapLocation from, std::vector<__CGEvent*>* owned);
void RecordAppEvent(__CGEvent* event);

// --- permissions (permissions.cc; lock held) ---
bool Granted(desktop_sim_permission permission);
// What the permission's preflight calls answer: the switch, or its frozen value while stale.
bool PreflightGranted(desktop_sim_permission permission);
void SetGranted(desktop_sim_permission permission, bool on);
// What posting and an active tap need (CGPreflightPostEventAccess unless its answer is stale).
bool PostEventAccess();
// What a listen-only tap needs to receive key and modifier events.
bool ListenEventAccess();
// The mask a new tap gets: a listen-only tap without that access loses the key event types.
CGEventMask PermittedMask(CGEventTapOptions options, CGEventMask mask);
// True while an enabled active tap of the process lacks post-event access: the window server
// then holds all input back for it.
bool InputHeldBack();
// A tap was enabled or the switches changed: the revocation watch looks again.
void WakeRevocationWatch();
void ResetPermissions();
// Disables the tap as the system does for a slow one and queues the timeout notification.
void DisableByTimeout(const std::shared_ptr<Tap>& tap);

// --- the keyboard (lock held) ---
// The keyboard's flag state: every modifier held now (device-independent masks and
// device-dependent bits), Caps Lock, and the bits of held or latched arrow, function and
// navigation keys. What each keyboard event carries, the combined session state, and what
// CGEventSourceFlagsState answers (with the non-coalesced bit).
CGEventFlags KeyboardModifierFlags();
// The bits a Mac adds to every event of this key, hardware or created: the Fn bit for arrow,
// function and navigation keys, the numeric-pad bit for arrows and the keypad.
CGEventFlags KeyOwnFlags(CGKeyCode keycode);
void ResetKeyboard();

// --- threads ---
// True on the process's main thread (the one whose thread id is the process id): the thread the
// platform's main-thread-only services must be called on.
bool OnMainThread();

// --- keyboard layouts and text input sources (text_input_sources.cc; lock held) ---
// The selected layout back to U.S.
void ResetKeyboardLayouts();
// The length of the CFData whose bytes start at bytes, or -1 when no live CFData starts there.
CFIndex DataLengthAt(const void* bytes);

// --- the HID system (takes the lock itself) ---
uint64_t SendEvents(const desktop_sim_event& hardware, uint64_t count);
size_t DisableTaps(desktop_sim_disable_reason reason);

}  // namespace desktop_sim

#endif  // DESKTOP_SIM_INTERNAL_H_
