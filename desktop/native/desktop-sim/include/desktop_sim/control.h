// Control surface of the simulated desktop: what a test (or the control module) uses to play the
// user and the system. Not part of any macOS API; everything here is desktop-sim's own.
#ifndef DESKTOP_SIM_CONTROL_H_
#define DESKTOP_SIM_CONTROL_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DESKTOP_SIM_EXPORT __attribute__((visibility("default")))

// A hardware event as the HID system produces it. button is the system's zero-based button
// number (event field 3), keycode the virtual key code (event field 9).
typedef struct desktop_sim_event {
  uint32_t type;
  int64_t button;
  uint64_t flags;
  int64_t keycode;
  double x;
  double y;
} desktop_sim_event;

typedef struct desktop_sim_tap_info {
  bool enabled;
  uint32_t location;
  uint32_t placement;
  uint32_t options;
  uint64_t mask;
} desktop_sim_tap_info;

typedef enum desktop_sim_disable_reason {
  DESKTOP_SIM_DISABLE_TIMEOUT = 0,
  DESKTOP_SIM_DISABLE_USER_INPUT = 1,
} desktop_sim_disable_reason;

enum { DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS = 1000 };

// A fresh desktop: every tap gone (their ports invalid), refusal off, tap timeout back to its
// default, every permission granted with live preflight answers and the default revocation
// delay, no prompts, held-back events or tap creations counted, no key held and the Fn latch
// off, application event log and posted log emptied, event creation failure off, and the
// ledger's baseline taken now.
DESKTOP_SIM_EXPORT void desktop_sim_reset(void);

// Delivers one hardware event through the taps; true when it reached the applications, false
// when a tap removed it or a starving tap held it back (see Permissions). Blocks until every tap
// that wanted it has given its verdict (each bounded by the tap timeout).
DESKTOP_SIM_EXPORT bool desktop_sim_hid_send(const desktop_sim_event* event);

// Delivers count copies of the event; returns how many reached the applications.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_hid_send_many(const desktop_sim_event* event,
                                                      uint64_t count);

// The keyboard. desktop_sim_hid_key presses (down) or releases a key by its virtual key code and
// sends the event a Mac keyboard produces: for a modifier key (both Shifts, Controls, Options and
// Commands, Fn = 63, Caps Lock = 57) a flags-changed event with that key code, for any other key
// a key-down or key-up event; its flags are those of every modifier then held (device-independent
// masks, device-dependent bits) and the non-coalesced bit. Arrow, function and navigation keys add
// the Fn bit (arrows and the keypad the numeric-pad bit too) to their own events and, while held,
// to the keyboard's flag state; the Fn key's own release never carries it. Caps Lock is a lock:
// each press turns its mask on or off. Answers as desktop_sim_hid_send (REACHED or REMOVED), or,
// changing and sending nothing, ALREADY_DOWN / NOT_DOWN for a press of a key held or a release of a
// key not held. reset() releases every key (sending nothing) and turns Caps Lock off.
typedef enum desktop_sim_key_result {
  DESKTOP_SIM_KEY_NOT_DOWN = -2,
  DESKTOP_SIM_KEY_ALREADY_DOWN = -1,
  DESKTOP_SIM_KEY_REMOVED = 0,
  DESKTOP_SIM_KEY_REACHED = 1,
} desktop_sim_key_result;

DESKTOP_SIM_EXPORT int desktop_sim_hid_key(uint16_t keycode, bool down);
// Keys held down, in the order they went down. Fills up to capacity and returns how many.
DESKTOP_SIM_EXPORT size_t desktop_sim_keys_down(uint16_t* out, size_t capacity);
// The keyboard's flag state: every modifier held now, Caps Lock, and the bits held or latched
// arrow, function and navigation keys add (the combined session state's modifier flags, which
// events created with no source start with, and CGEventSourceFlagsState's answer without the
// non-coalesced bit).
DESKTOP_SIM_EXPORT uint64_t desktop_sim_keyboard_flags(void);

// Disables every enabled tap and notifies each one (type 0xFFFFFFFE or 0xFFFFFFFF). Returns the
// number of taps disabled once their notifications were handled, or after the tap timeout.
DESKTOP_SIM_EXPORT size_t desktop_sim_hid_disable_taps(desktop_sim_disable_reason reason);

// Live taps in tap order. Fills up to capacity entries and returns the number of live taps.
DESKTOP_SIM_EXPORT size_t desktop_sim_taps(desktop_sim_tap_info* out, size_t capacity);

DESKTOP_SIM_EXPORT void desktop_sim_refuse_taps(bool refuse);
DESKTOP_SIM_EXPORT bool desktop_sim_taps_refused(void);
DESKTOP_SIM_EXPORT void desktop_sim_set_tap_timeout_ms(uint32_t ms);
DESKTOP_SIM_EXPORT uint32_t desktop_sim_tap_timeout_ms(void);

// Waits until no tap delivery or notification is queued or being handled, at most timeout_ms.
DESKTOP_SIM_EXPORT bool desktop_sim_settle(uint32_t timeout_ms);

// Waits until at least count tap deliveries or notifications are queued or being handled, at
// most timeout_ms. Lets a test act at the moment a sender is known to be waiting.
DESKTOP_SIM_EXPORT bool desktop_sim_wait_queued(size_t count, uint32_t timeout_ms);

// Time spent inside tap callbacks (every call the simulated system made, deliveries and
// notifications alike), measured around the call. Percentiles come from a histogram exact to
// the nanosecond below 1024 ns and within 1/64 above.
typedef struct desktop_sim_callback_stats {
  uint64_t count;
  uint64_t median_ns;
  uint64_t p99_ns;
  uint64_t max_ns;
  double mean_ns;
} desktop_sim_callback_stats;

DESKTOP_SIM_EXPORT void desktop_sim_callback_stats_get(desktop_sim_callback_stats* out);
// Starts the statistics afresh (reset does too).
DESKTOP_SIM_EXPORT void desktop_sim_callback_stats_reset(void);

// Ledger: references the program took on non-immortal objects since the last reset (Create and
// Copy results, CFRetain) and still holds. Releasing a reference taken before the reset does not
// count against it.
DESKTOP_SIM_EXPORT int64_t desktop_sim_cf_live(void);
// Ledger: number of misuses recorded since the last reset.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_cf_misuse(void);
// Text of misuse number index (0 = oldest kept) since the last reset, NUL-terminated and cut to
// capacity. Returns the full length of the text, or 0 when there is no such entry.
DESKTOP_SIM_EXPORT size_t desktop_sim_cf_misuse_text(size_t index, char* buffer, size_t capacity);
// Number of objects alive now (every type, the program's and the system's, immortals excluded).
DESKTOP_SIM_EXPORT uint64_t desktop_sim_cf_objects(void);

// Events that reached the applications since the last reset: total count, and the most recent
// ones (at most DESKTOP_SIM_APP_EVENT_LOG entries kept), oldest first.
enum { DESKTOP_SIM_APP_EVENT_LOG = 4096 };
DESKTOP_SIM_EXPORT uint64_t desktop_sim_app_event_count(void);
DESKTOP_SIM_EXPORT size_t desktop_sim_app_events(desktop_sim_event* out, size_t capacity);

// Events the program posted (CGEventPost) that reached the applications, as they arrived there
// (after the taps' changes). Fields that do not apply to the event's type read 0.
typedef struct desktop_sim_posted_event {
  uint32_t type;
  uint32_t location;  // the tap location it was posted at
  double x;
  double y;
  int64_t button;       // event field 3
  int64_t click_state;  // event field 1
  uint64_t flags;
  int64_t keycode;     // event field 9
  bool key_down;       // type is kCGEventKeyDown
  bool has_text;       // a Unicode string was set (CGEventKeyboardSetUnicodeString)
  size_t text_length;  // its length in UTF-16 units
  int64_t wheel1;      // event field 11 (vertical)
  int64_t wheel2;      // event field 12 (horizontal)
  bool dropped;        // the process could not post: the event reached nothing
} desktop_sim_posted_event;

// Posted events since the last reset or clear (dropped ones included): total count, and the kept
// ones (all of them unless a limit is set), oldest first. Fills up to capacity and returns the
// number kept.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_posted_count(void);
DESKTOP_SIM_EXPORT size_t desktop_sim_posted(desktop_sim_posted_event* out, size_t capacity);
// The Unicode string of kept posted event number index (0 = oldest kept), unchanged (unpaired
// surrogates included), cut to capacity units. Returns its full length; 0 when there is no
// such entry or it has no text.
DESKTOP_SIM_EXPORT size_t desktop_sim_posted_text(size_t index, uint16_t* buffer, size_t capacity);
DESKTOP_SIM_EXPORT void desktop_sim_clear_posted(void);
// Keeps only the most recent `limit` posted events (0: keep all, the default after reset()), for
// long runs such as benchmarks; the total count goes on counting every event.
DESKTOP_SIM_EXPORT void desktop_sim_set_posted_limit(size_t limit);

// Makes event creation (CGEventCreateMouseEvent, CGEventCreateKeyboardEvent,
// CGEventCreateScrollWheelEvent) answer NULL: 0 never, 1 always, n every n-th call counted from
// now. reset() turns it off.
DESKTOP_SIM_EXPORT void desktop_sim_fail_event_creation(uint32_t every);
// --- Permissions ---
//
// The privacy switches the user sets for the process. All on after reset().
// Accessibility: the accessibility API, and (with post events) active taps and posting.
// Input monitoring: key events for listen-only taps (accessibility gives them too).
// Post events: posting and active taps, together with accessibility.
typedef enum desktop_sim_permission {
  DESKTOP_SIM_PERMISSION_ACCESSIBILITY = 0,
  DESKTOP_SIM_PERMISSION_INPUT_MONITORING = 1,
  DESKTOP_SIM_PERMISSION_POST_EVENTS = 2,
} desktop_sim_permission;

// The default revocation delay is the longest hold reported for a Mac (about 30 s; others report
// about 1 s): code that waits for the system's timeout freezes input for that long.
enum { DESKTOP_SIM_PERMISSION_COUNT = 3, DESKTOP_SIM_DEFAULT_REVOCATION_DELAY_MS = 30000 };

// Withdrawing what an enabled active tap needs starves it: the HID holds every event back while
// it stays enabled, and the system disables it by timeout after the revocation delay.
DESKTOP_SIM_EXPORT void desktop_sim_set_permission(desktop_sim_permission permission, bool on);
DESKTOP_SIM_EXPORT bool desktop_sim_permission_granted(desktop_sim_permission permission);
// Prompts the system showed for the permission since reset() (requests while it was missing).
DESKTOP_SIM_EXPORT uint64_t desktop_sim_prompts(desktop_sim_permission permission);
DESKTOP_SIM_EXPORT void desktop_sim_set_revocation_delay_ms(uint32_t ms);
DESKTOP_SIM_EXPORT uint32_t desktop_sim_revocation_delay_ms(void);
// Hardware events held back by a starving tap since reset(); they reach nothing.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_held_back(void);

// --- Stale preflight answers, tap creations, the keyboard's Fn latch ---
//
// While on, the preflight calls of the permission keep answering what they answered when it was
// turned on, whatever the switch is now: AXIsProcessTrusted and AXIsProcessTrustedWithOptions
// for accessibility, CGPreflightListenEventAccess for input monitoring, and that permission's
// share of CGPreflightPostEventAccess (accessibility and post events); the request calls answer
// the same. Everything else follows the switch: tap creation, posting, the accessibility API
// and a starving tap. reset() turns it off for every permission.
DESKTOP_SIM_EXPORT void desktop_sim_set_preflight_stale(desktop_sim_permission permission, bool on);
DESKTOP_SIM_EXPORT bool desktop_sim_preflight_stale(desktop_sim_permission permission);
// CGEventTapCreate calls since reset(), refused ones included.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_tap_create_calls(void);
// While on, the keyboard's flag state keeps the Fn bit (and an arrow's numeric-pad bit) set after
// the key that set it is released: after Fn, an arrow, a function or a navigation key. The next
// press and release of Fn clears it. Off (the default, and after reset()) clears it at once.
DESKTOP_SIM_EXPORT void desktop_sim_set_fn_latch(bool on);
DESKTOP_SIM_EXPORT bool desktop_sim_fn_latch(void);

// --- Accessibility ---
//
// The accessibility desktop is built element by element, then committed in one step; until the
// commit the old desktop answers. Elements are numbered from 0 in the order they were added.
// reset() leaves an empty desktop: trusted, no application, no latency, logs emptied.

typedef enum desktop_sim_ax_kind {
  DESKTOP_SIM_AX_STRING = 0,   // units, length: UTF-16, lone surrogates allowed
  DESKTOP_SIM_AX_BOOLEAN = 1,  // boolean
  DESKTOP_SIM_AX_NUMBER = 2,   // number, number_type (a CFNumberType)
  DESKTOP_SIM_AX_POINT = 3,    // pair: x, y
  DESKTOP_SIM_AX_SIZE = 4,     // pair: width, height
  DESKTOP_SIM_AX_ERROR = 5,    // error: the AXError the copy answers
  DESKTOP_SIM_AX_OTHER = 6,    // a value of a kind readers do not interpret (an AXValue range)
  DESKTOP_SIM_AX_NULL = 7,     // success without a value
} desktop_sim_ax_kind;

typedef struct desktop_sim_ax_value {
  desktop_sim_ax_kind kind;
  const uint16_t* units;
  size_t length;
  bool boolean;
  int32_t number_type;
  double number;
  double pair[2];
  int32_t error;
} desktop_sim_ax_value;

// Starts a new desktop under construction (discarding one not committed).
DESKTOP_SIM_EXPORT void desktop_sim_ax_begin(void);
// Adds an element; id may be NULL. Returns its number.
DESKTOP_SIM_EXPORT int32_t desktop_sim_ax_add_element(const char* id);
// Sets an attribute (the last setting of a name wins). false for an unknown element.
DESKTOP_SIM_EXPORT bool desktop_sim_ax_set_attribute(int32_t element, const char* name,
                                                     const desktop_sim_ax_value* value);
DESKTOP_SIM_EXPORT bool desktop_sim_ax_add_settable(int32_t element, const char* name);
DESKTOP_SIM_EXPORT bool desktop_sim_ax_add_action(int32_t element, const uint16_t* units,
                                                  size_t length);
// AXUIElementCopyActionNames answers this error instead of the names.
DESKTOP_SIM_EXPORT bool desktop_sim_ax_set_actions_error(int32_t element, int32_t error);
// Appends child to element's AXChildren (an element may be the child of several, or its own).
DESKTOP_SIM_EXPORT bool desktop_sim_ax_add_child(int32_t element, int32_t child);
// An application whose element is root. name and bundle_id may be NULL (nil); not running: no
// running application answers for the pid. focused_element and focused_window are element
// numbers, or -1 for none.
DESKTOP_SIM_EXPORT bool desktop_sim_ax_add_application(int32_t pid, const char* name,
                                                       const char* bundle_id, bool running,
                                                       int32_t root, int32_t focused_element,
                                                       int32_t focused_window);
// Makes the desktop under construction the desktop. focused_pid is the focused application, or
// -1 for none; system_focused the system-wide focused element, or -1 for the focused
// application's focused element. Elements made from the old desktop turn invalid.
DESKTOP_SIM_EXPORT bool desktop_sim_ax_commit(bool trusted, int32_t focused_pid,
                                              int32_t system_focused);

// The application of pid in the desktop under construction (after its
// desktop_sim_ax_add_application) answers every AXUIElementCopyMultipleAttributeValues with this
// error, as an application that does not take batched requests; 0 (the default) takes them.
DESKTOP_SIM_EXPORT bool desktop_sim_ax_set_batch_error(int32_t pid, int32_t error);

// The application of pid in the desktop under construction is Chromium-like: its elements whose
// "AXRole" is "AXWebArea" answer no children until milliseconds after "AXManualAccessibility"
// was first set true on its application element (which takes that attribute and
// "AXEnhancedUserInterface" whether or not the fixture lists them as settable).
DESKTOP_SIM_EXPORT bool desktop_sim_ax_set_web_content_delay(int32_t pid, int64_t milliseconds);

// Without trust every accessibility call but AXUIElementCreateSystemWide answers
// kAXErrorAPIDisabled. The accessibility permission under another name.
DESKTOP_SIM_EXPORT void desktop_sim_ax_set_trusted(bool trusted);
DESKTOP_SIM_EXPORT bool desktop_sim_ax_trusted(void);
// Every accessibility request costs this long (a busy wait), as a round trip to an application.
DESKTOP_SIM_EXPORT void desktop_sim_ax_set_latency_us(uint32_t microseconds);
// Every element of the arrays an answer carries costs this much more (0 after reset). A round
// trip longer than the request's messaging timeout comes too late: the request waits the timeout
// and answers kAXErrorCannotComplete.
DESKTOP_SIM_EXPORT void desktop_sim_ax_set_item_latency_us(uint32_t microseconds);
// The application of pid stops answering once it has answered answers_first more requests (0:
// at once): every later request to it waits for its messaging timeout, then answers
// kAXErrorCannotComplete. hung false: it answers again, and requests waiting for it go on at
// once. reset() ends every hang; loading a desktop does not.
DESKTOP_SIM_EXPORT void desktop_sim_ax_set_hung(int32_t pid, bool hung, uint64_t answers_first);

// One accessibility request answered since reset(). call is the function's name; pid is the
// target application's (0 for the system-wide element); element the element's id or "" when
// it has none; attribute "" for calls without one.
typedef struct desktop_sim_ax_request {
  const char* call;
  int32_t pid;
  const char* element;
  const char* attribute;  // for a batched request: the names, separated by commas
  int32_t result;
  double timeout;  // the messaging timeout the request was made with, in seconds
} desktop_sim_ax_request;

typedef struct desktop_sim_ax_write {
  int32_t pid;
  const char* element;
  const char* attribute;
  desktop_sim_ax_value value;  // DESKTOP_SIM_AX_OTHER for kinds without a plain form
} desktop_sim_ax_write;

// Calls each for every request (writes) in order, on a snapshot taken under the lock; the
// pointers live until each returns.
DESKTOP_SIM_EXPORT void desktop_sim_ax_requests(void (*each)(void* context,
                                                             const desktop_sim_ax_request* request),
                                                void* context);
DESKTOP_SIM_EXPORT void desktop_sim_ax_writes(void (*each)(void* context,
                                                           const desktop_sim_ax_write* write),
                                              void* context);

typedef struct desktop_sim_ax_stats {
  uint64_t requests;   // answered since reset()
  uint64_t answer_ns;  // time spent inside them, the latency included
  uint32_t latency_us;
  uint64_t waiting;  // requests waiting for a hung application right now
  uint32_t item_latency_us;
} desktop_sim_ax_stats;

DESKTOP_SIM_EXPORT void desktop_sim_ax_stats_get(desktop_sim_ax_stats* out);

// --- keyboard layouts ---

// The text input source the user has selected, by its identifier ("com.apple.keylayout.French"):
// the next TISCopyCurrent...InputSource answers it. false, and nothing changed, for an identifier
// the desktop does not have. reset() selects "com.apple.keylayout.US". Key codes stay positions:
// the simulated keyboard is not affected.
DESKTOP_SIM_EXPORT bool desktop_sim_set_keyboard_layout(const char* id);
// The selected layout's identifier (a static string).
DESKTOP_SIM_EXPORT const char* desktop_sim_keyboard_layout(void);
// The layouts the desktop has, in a fixed order, U.S. first; NULL beyond the count.
DESKTOP_SIM_EXPORT size_t desktop_sim_keyboard_layout_count(void);
DESKTOP_SIM_EXPORT const char* desktop_sim_keyboard_layout_id(size_t index);

#ifdef __cplusplus
}
#endif

#endif  // DESKTOP_SIM_CONTROL_H_
