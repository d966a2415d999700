// Synthetic events: what each Create call makes, Unicode strings, posting through the taps into
// the applications' log, the creation-failure switch, and misuse of the calls.
#include <memory>
#include <string>

#include "probe_tap.h"
#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

using desktop_sim_fixture::ProbeOptions;
using desktop_sim_fixture::ProbeTap;
using desktop_sim_fixture::Verdict;

class EventsTest : public SimTest {
 protected:
  static std::vector<desktop_sim_posted_event> Posted() {
    std::vector<desktop_sim_posted_event> events(desktop_sim_posted(nullptr, 0));
    events.resize(desktop_sim_posted(events.data(), events.size()));
    return events;
  }
  static std::u16string PostedText(size_t index) {
    std::u16string text(desktop_sim_posted_text(index, nullptr, 0), u'\0');
    desktop_sim_posted_text(index, reinterpret_cast<uint16_t*>(&text[0]), text.size());
    return text;
  }
  static void PostAndRelease(CGEventRef event) {
    CGEventPost(kCGHIDEventTap, event);
    CFRelease(event);
  }
  // Key-down events with the key codes from..to-1, in order.
  static void PostKeys(int64_t from, int64_t to) {
    for (int64_t i = from; i < to; ++i) {
      PostAndRelease(CGEventCreateKeyboardEvent(nullptr, static_cast<CGKeyCode>(i), true));
    }
  }
};

TEST_F(EventsTest, CreatedEventsAreOwnedAndCarryWhatTheyWereMadeWith) {
  CGEventRef mouse = CGEventCreateMouseEvent(nullptr, kCGEventOtherMouseDown, CGPointMake(1.5, -2),
                                             kCGMouseButtonCenter);
  CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 48, false);
  CGEventRef scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, -3, 7);
  ASSERT_NE(mouse, nullptr);
  ASSERT_NE(key, nullptr);
  ASSERT_NE(scroll, nullptr);
  EXPECT_EQ(desktop_sim_cf_live(), 3);
  EXPECT_EQ(CFGetRetainCount(mouse), 1);

  EXPECT_EQ(CGEventGetType(mouse), kCGEventOtherMouseDown);
  EXPECT_EQ(CGEventGetLocation(mouse).x, 1.5);
  EXPECT_EQ(CGEventGetLocation(mouse).y, -2);
  EXPECT_EQ(CGEventGetIntegerValueField(mouse, kCGMouseEventButtonNumber), 2);
  EXPECT_EQ(CGEventGetIntegerValueField(mouse, kCGMouseEventClickState), 0);
  EXPECT_EQ(CGEventGetType(key), kCGEventKeyUp);
  EXPECT_EQ(CGEventGetIntegerValueField(key, kCGKeyboardEventKeycode), 48);
  EXPECT_EQ(CGEventGetFlags(key), kCGEventFlagMaskNonCoalesced);
  EXPECT_EQ(CGEventGetFlags(mouse), 0u);
  EXPECT_EQ(CGEventGetType(scroll), kCGEventScrollWheel);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis1), -3);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis2), 7);
  EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventIsContinuous), 1);

  for (CGEventRef event : {mouse, key, scroll}) CFRelease(event);
  ExpectBalanced();
}

TEST_F(EventsTest, EventsMadeWithNoSourceStartFromTheModifiersHeldUntilTheirFlagsAreSet) {
  constexpr CGEventFlags kHeld = kCGEventFlagMaskShift | NX_DEVICELSHIFTKEYMASK |
                                 kCGEventFlagMaskCommand | NX_DEVICERCMDKEYMASK;
  ASSERT_EQ(desktop_sim_hid_key(56, true), DESKTOP_SIM_KEY_REACHED);
  ASSERT_EQ(desktop_sim_hid_key(54, true), DESKTOP_SIM_KEY_REACHED);
  ASSERT_EQ(desktop_sim_keyboard_flags(), kHeld);
  CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 0, true);
  CGEventRef mouse =
      CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, CGPointZero, kCGMouseButtonLeft);
  CGEventRef scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 1, 1);
  EXPECT_EQ(CGEventGetFlags(key), kHeld | kCGEventFlagMaskNonCoalesced);
  EXPECT_EQ(CGEventGetFlags(mouse), kHeld);
  EXPECT_EQ(CGEventGetFlags(scroll), kHeld);
  // Flags the program sets replace them, and the applications receive exactly those.
  CGEventSetFlags(key, 0);
  PostAndRelease(key);
  ASSERT_EQ(Posted().size(), 1u);
  EXPECT_EQ(Posted()[0].flags, 0u);
  ASSERT_EQ(desktop_sim_hid_key(56, false), DESKTOP_SIM_KEY_REACHED);
  ASSERT_EQ(desktop_sim_hid_key(54, false), DESKTOP_SIM_KEY_REACHED);
  CGEventRef later = CGEventCreateKeyboardEvent(nullptr, 0, false);
  EXPECT_EQ(CGEventGetFlags(later), kCGEventFlagMaskNonCoalesced) << "the keys are up again";
  for (CGEventRef event : {mouse, scroll, later}) CFRelease(event);
  ExpectBalanced();
}

TEST_F(EventsTest, KeyboardEventsCarryTheKeysOwnBitsBesideTheModifiersHeld) {
  constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;
  constexpr CGEventFlags kPad = kCGEventFlagMaskNumericPad;
  struct Case {
    CGKeyCode key;
    CGEventFlags own;
  };
  const Case cases[] = {
      {0, 0},                             // A
      {36, 0},                            // Return
      {123, kFn | kPad},                  // left arrow
      {126, kFn | kPad},                  // up arrow
      {122, kFn},                         // F1
      {96, kFn},                          // F5
      {111, kFn},                         // F12
      {115, kFn},                         // Home
      {121, kFn},                         // Page Down
      {117, kFn},                         // Forward Delete
      {114, kFn | kCGEventFlagMaskHelp},  // Help
      {82, kPad},                         // keypad 0
      {76, kPad},                         // keypad Enter
  };
  for (bool shift_held : {false, true}) {
    if (shift_held) {
      ASSERT_EQ(desktop_sim_hid_key(60, true), DESKTOP_SIM_KEY_REACHED);
    }
    const CGEventFlags held = shift_held ? kCGEventFlagMaskShift | NX_DEVICERSHIFTKEYMASK : 0;
    for (const Case& c : cases) {
      for (bool down : {true, false}) {
        const std::string trace = "key " + std::to_string(c.key) + (down ? " down" : " up") +
                                  (shift_held ? ", Shift held" : "");
        SCOPED_TRACE(trace);
        CGEventRef event = CGEventCreateKeyboardEvent(nullptr, c.key, down);
        EXPECT_EQ(CGEventGetFlags(event), kCGEventFlagMaskNonCoalesced | c.own | held);
        CFRelease(event);
      }
    }
  }
  ASSERT_EQ(desktop_sim_hid_key(60, false), DESKTOP_SIM_KEY_REACHED);
  ExpectBalanced();
}

TEST_F(EventsTest, TheSourceStateTablesHoldTheKeyboardsFlagState) {
  constexpr CGEventFlags kNonCoalesced = kCGEventFlagMaskNonCoalesced;
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState), kNonCoalesced);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), kNonCoalesced);
  ASSERT_EQ(desktop_sim_hid_key(54, true), DESKTOP_SIM_KEY_REACHED);   // right Command
  ASSERT_EQ(desktop_sim_hid_key(125, true), DESKTOP_SIM_KEY_REACHED);  // down arrow, held
  const CGEventFlags held = kCGEventFlagMaskCommand | NX_DEVICERCMDKEYMASK |
                            kCGEventFlagMaskSecondaryFn | kCGEventFlagMaskNumericPad;
  EXPECT_EQ(desktop_sim_keyboard_flags(), held);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState), held | kNonCoalesced);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), held | kNonCoalesced);
  ASSERT_EQ(desktop_sim_hid_key(125, false), DESKTOP_SIM_KEY_REACHED);
  ASSERT_EQ(desktop_sim_hid_key(54, false), DESKTOP_SIM_KEY_REACHED);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState), kNonCoalesced);
  ExpectBalanced();

  // Event sources are not modelled, so neither is a private state table.
  for (CGEventSourceStateID state :
       {kCGEventSourceStatePrivate, static_cast<CGEventSourceStateID>(2)}) {
    EXPECT_EQ(CGEventSourceFlagsState(state), 0u);
  }
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u) << MisuseLog();
  EXPECT_NE(LastMisuse().find("CGEventSourceFlagsState"), std::string::npos) << LastMisuse();
}

TEST_F(EventsTest, ScrollWheelValuesComeFromTheVariadicArguments) {
  struct Case {
    uint32_t wheels;
    int32_t expected_axis2;
  };
  for (const Case& c : {Case{1, 0}, Case{2, INT32_MIN}, Case{3, INT32_MIN}}) {
    CGEventRef scroll = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, c.wheels,
                                                      INT32_MAX, INT32_MIN, 5);
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis1), INT32_MAX);
    EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventDeltaAxis2), c.expected_axis2)
        << c.wheels << " wheels";
    EXPECT_EQ(CGEventGetIntegerValueField(scroll, kCGScrollWheelEventIsContinuous), 0);
    CFRelease(scroll);
  }
  ExpectBalanced();
}

TEST_F(EventsTest, UnicodeStringsAreKeptUnitForUnit) {
  CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 0, true);
  const UniChar text[] = {u'a', 0xD83D, 0xDE00, 0xD800, 0};
  CGEventKeyboardSetUnicodeString(key, 5, text);
  UniChar out[8] = {};
  UniCharCount length = 99;
  CGEventKeyboardGetUnicodeString(key, 8, &length, out);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(out), 5),
            std::u16string(reinterpret_cast<const char16_t*>(text), 5));
  CGEventKeyboardGetUnicodeString(key, 2, &length, out);
  EXPECT_EQ(length, 2u) << "cut to the buffer";

  CGEventKeyboardSetUnicodeString(key, 1, text + 3);  // a second string replaces the first
  PostAndRelease(key);
  ASSERT_EQ(Posted().size(), 1u);
  EXPECT_TRUE(Posted()[0].has_text);
  EXPECT_EQ(PostedText(0), u"\xD800");
  ExpectBalanced();
}

TEST_F(EventsTest, PostedEventsReachTheApplicationsAsTheyWereAtPosting) {
  CGEventRef down = CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, CGPointMake(3, 4),
                                            kCGMouseButtonLeft);
  CGEventSetIntegerValueField(down, kCGMouseEventClickState, 2);
  CGEventSetFlags(down, kCGEventFlagMaskShift);
  CGEventPost(kCGHIDEventTap, down);
  CGEventSetIntegerValueField(down, kCGMouseEventClickState, 3);  // after posting: not seen
  CGEventPost(kCGSessionEventTap, down);
  CFRelease(down);

  const auto posted = Posted();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].type, static_cast<uint32_t>(kCGEventLeftMouseDown));
  EXPECT_EQ(posted[0].location, static_cast<uint32_t>(kCGHIDEventTap));
  EXPECT_EQ(posted[0].x, 3);
  EXPECT_EQ(posted[0].y, 4);
  EXPECT_EQ(posted[0].click_state, 2);
  EXPECT_EQ(posted[0].flags, kCGEventFlagMaskShift);
  EXPECT_FALSE(posted[0].has_text);
  EXPECT_EQ(posted[1].click_state, 3);
  EXPECT_EQ(posted[1].location, static_cast<uint32_t>(kCGSessionEventTap));
  EXPECT_EQ(desktop_sim_posted_count(), 2u);
  EXPECT_EQ(desktop_sim_app_event_count(), 2u);
  desktop_sim_clear_posted();
  EXPECT_EQ(desktop_sim_posted_count(), 0u);
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(desktop_sim_app_event_count(), 2u) << "the applications' log is not cleared";
  ExpectBalanced();
}

TEST_F(EventsTest, ThePostedLogKeepsEveryEventUnlessALimitIsSet) {
  const int64_t total = 10000;
  PostKeys(0, total);
  auto posted = Posted();
  ASSERT_EQ(posted.size(), static_cast<size_t>(total));
  EXPECT_EQ(posted.front().keycode, 0);
  EXPECT_EQ(posted.back().keycode, total - 1);

  desktop_sim_set_posted_limit(3);
  PostKeys(total, total + 2);
  posted = Posted();
  ASSERT_EQ(posted.size(), 3u) << "setting a limit drops the oldest at once";
  EXPECT_EQ(posted.front().keycode, total - 1);
  EXPECT_EQ(posted.back().keycode, total + 1);
  EXPECT_EQ(desktop_sim_posted_count(), static_cast<uint64_t>(total + 2));

  desktop_sim_reset();
  PostKeys(0, 5);
  EXPECT_EQ(Posted().size(), 5u) << "reset() keeps every event again";
  ExpectBalanced();
}

TEST_F(EventsTest, PostedEventsPassTheTapsFromTheirLocationOn) {
  ProbeOptions options;
  options.location = kCGHIDEventTap;
  options.mask = CGEventMaskBit(kCGEventKeyDown);
  options.verdict = Verdict::kRemove;
  ProbeTap hid_tap(options);
  ASSERT_TRUE(hid_tap.Start());
  options.location = kCGSessionEventTap;
  options.verdict = Verdict::kPass;
  options.stamp = 77;  // the session tap marks what it sees
  ProbeTap session_tap(options);
  ASSERT_TRUE(session_tap.Start());

  CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 8, true);
  CGEventPost(kCGHIDEventTap, key);      // removed by the HID tap
  CGEventPost(kCGSessionEventTap, key);  // passes the session tap only
  EXPECT_EQ(CGEventGetIntegerValueField(key, kCGEventSourceUserData), 0)
      << "the taps saw the system's copy, not the program's event";
  CFRelease(key);

  EXPECT_EQ(hid_tap.CallCount(), 1u);
  EXPECT_EQ(session_tap.CallCount(), 1u);
  const auto posted = Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].keycode, 8);
  EXPECT_TRUE(posted[0].key_down);
  hid_tap.Stop();
  session_tap.Stop();
  ExpectBalanced();
}

TEST_F(EventsTest, TheFailureSwitchFailsEveryNthCreation) {
  struct Case {
    uint32_t every;
    const char* pattern;  // one character per creation: x failed, o created
  };
  for (const Case& c :
       {Case{0, "oooooo"}, Case{1, "xxxxxx"}, Case{2, "oxoxox"}, Case{3, "ooxoox"}}) {
    desktop_sim_fail_event_creation(c.every);
    std::string seen;
    for (int i = 0; i < 2; ++i) {
      CGEventRef events[] = {
          CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, CGPointZero, kCGMouseButtonLeft),
          CGEventCreateKeyboardEvent(nullptr, 1, true),
          CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 1, 1),
      };
      for (CGEventRef event : events) {
        seen += event == nullptr ? 'x' : 'o';
        if (event != nullptr) CFRelease(event);
      }
    }
    EXPECT_EQ(seen, c.pattern) << "every " << c.every;
  }
  desktop_sim_reset();
  CGEventRef after_reset = CGEventCreateKeyboardEvent(nullptr, 1, true);
  EXPECT_NE(after_reset, nullptr) << "reset turns the switch off";
  CFRelease(after_reset);
  ExpectBalanced();
}

TEST_F(EventsTest, MisuseIsRecordedAndCreatesOrPostsNothing) {
  EXPECT_EQ(CGEventCreateMouseEvent(nullptr, kCGEventKeyDown, CGPointZero, kCGMouseButtonLeft),
            nullptr);
  EXPECT_EQ(CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 0, 1), nullptr);
  EXPECT_EQ(CGEventCreateScrollWheelEvent(nullptr, static_cast<CGScrollEventUnit>(2), 1, 1),
            nullptr);
  CGEventPost(kCGHIDEventTap, nullptr);
  CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 1, true);
  CGEventPost(static_cast<CGEventTapLocation>(3), key);
  CGEventKeyboardSetUnicodeString(key, 2, nullptr);
  CFRelease(key);
  CGEventPost(kCGHIDEventTap, key);  // after release
  EXPECT_EQ(desktop_sim_cf_misuse(), 7u) << MisuseLog();
  EXPECT_NE(LastMisuse().find("CGEventPost"), std::string::npos) << LastMisuse();
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(desktop_sim_cf_live(), 0);
}

}  // namespace
}  // namespace desktop_sim_test
