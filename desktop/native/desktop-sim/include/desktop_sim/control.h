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
// default, application event log and posted log emptied, event creation failure off, and the
// ledger's baseline taken now.
DESKTOP_SIM_EXPORT void desktop_sim_reset(void);

// Delivers one hardware event through the taps; true when it reached the applications.
// Blocks until every tap that wanted it has given its verdict (each bounded by the tap timeout).
DESKTOP_SIM_EXPORT bool desktop_sim_hid_send(const desktop_sim_event* event);

// Delivers count copies of the event; returns how many reached the applications.
DESKTOP_SIM_EXPORT uint64_t desktop_sim_hid_send_many(const desktop_sim_event* event,
                                                      uint64_t count);

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
} desktop_sim_posted_event;

// Posted events since the last reset or clear: total count, and the most recent ones (at most
// DESKTOP_SIM_POSTED_LOG entries kept), oldest first. Fills up to capacity and returns the
// number kept.
enum { DESKTOP_SIM_POSTED_LOG = 4096 };
DESKTOP_SIM_EXPORT uint64_t desktop_sim_posted_count(void);
DESKTOP_SIM_EXPORT size_t desktop_sim_posted(desktop_sim_posted_event* out, size_t capacity);
// The Unicode string of kept posted event number index (0 = oldest kept), unchanged (unpaired
// surrogates included), cut to capacity units. Returns its full length; 0 when there is no
// such entry or it has no text.
DESKTOP_SIM_EXPORT size_t desktop_sim_posted_text(size_t index, uint16_t* buffer, size_t capacity);
DESKTOP_SIM_EXPORT void desktop_sim_clear_posted(void);

// Makes event creation (CGEventCreateMouseEvent, CGEventCreateKeyboardEvent,
// CGEventCreateScrollWheelEvent) answer NULL: 0 never, 1 always, n every n-th call counted from
// now. reset() turns it off.
DESKTOP_SIM_EXPORT void desktop_sim_fail_event_creation(uint32_t every);

#ifdef __cplusplus
}
#endif

#endif  // DESKTOP_SIM_CONTROL_H_
