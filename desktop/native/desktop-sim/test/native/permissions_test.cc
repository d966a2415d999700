// Permissions: the preflight and request calls, the accessibility trust check with its options
// dictionary, taps refused or starved for want of access, and posting that is dropped.
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "probe_tap.h"
#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

using desktop_sim_fixture::ProbeOptions;
using desktop_sim_fixture::ProbeTap;

constexpr int kBound = 10000;  // generous bound of every wait, in ms

constexpr desktop_sim_permission kAccessibility = DESKTOP_SIM_PERMISSION_ACCESSIBILITY;
constexpr desktop_sim_permission kInputMonitoring = DESKTOP_SIM_PERMISSION_INPUT_MONITORING;
constexpr desktop_sim_permission kPostEvents = DESKTOP_SIM_PERMISSION_POST_EVENTS;
constexpr desktop_sim_permission kAll[] = {kAccessibility, kInputMonitoring, kPostEvents};

constexpr CGEventMask kKeyTypes = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) |
                                  CGEventMaskBit(kCGEventFlagsChanged);
constexpr CGEventMask kButtonTypes =
    CGEventMaskBit(kCGEventOtherMouseDown) | CGEventMaskBit(kCGEventOtherMouseUp);

// Waits on a condition another thread changes, checking every millisecond within the bound.
template <typename Predicate>
bool Eventually(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBound);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::vector<desktop_sim_posted_event> Posted() {
  std::vector<desktop_sim_posted_event> events(desktop_sim_posted(nullptr, 0));
  events.resize(desktop_sim_posted(events.data(), events.size()));
  return events;
}

class PermissionsTest : public SimTest {};

TEST_F(PermissionsTest, EachPreflightAnswersForItsAccess) {
  struct Case {
    desktop_sim_permission withdrawn;
    bool trusted;
    bool listen;
    bool post;  // the Accessibility grant carries the post-event access
  };
  const Case cases[] = {
      {kAccessibility, false, true, false},
      {kInputMonitoring, true, false, true},
      {kPostEvents, true, true, false},
  };
  EXPECT_TRUE(AXIsProcessTrusted());
  EXPECT_TRUE(CGPreflightListenEventAccess());
  EXPECT_TRUE(CGPreflightPostEventAccess());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.withdrawn);
    desktop_sim_reset();
    desktop_sim_set_permission(c.withdrawn, false);
    EXPECT_FALSE(desktop_sim_permission_granted(c.withdrawn));
    EXPECT_EQ(AXIsProcessTrusted() != 0, c.trusted);
    EXPECT_EQ(desktop_sim_ax_trusted(), c.trusted);
    EXPECT_EQ(CGPreflightListenEventAccess(), c.listen);
    EXPECT_EQ(CGPreflightPostEventAccess(), c.post);
  }
}

TEST_F(PermissionsTest, AStalePreflightKeepsItsAnswerWhileTapsAndPostingFollowTheSwitch) {
  for (desktop_sim_permission withdrawn : {kAccessibility, kPostEvents}) {
    SCOPED_TRACE(withdrawn);
    desktop_sim_reset();
    desktop_sim_set_preflight_stale(withdrawn, true);
    EXPECT_TRUE(desktop_sim_preflight_stale(withdrawn));
    desktop_sim_set_permission(withdrawn, false);
    EXPECT_TRUE(AXIsProcessTrusted()) << "the row is deleted, the trust check still says yes";
    EXPECT_TRUE(AXIsProcessTrustedWithOptions(nullptr));
    EXPECT_TRUE(CGPreflightPostEventAccess());
    EXPECT_TRUE(CGRequestPostEventAccess());
    EXPECT_EQ(desktop_sim_prompts(kPostEvents), 0u) << "nothing missing, as far as it knows";
    ProbeOptions options;
    options.location = kCGHIDEventTap;
    ProbeTap refused(options);
    EXPECT_FALSE(refused.Start()) << "tap creation follows the switch";
    CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 4, true);
    CGEventPost(kCGHIDEventTap, key);
    CFRelease(key);
    ASSERT_EQ(Posted().size(), 1u);
    EXPECT_TRUE(Posted()[0].dropped) << "and so does posting";

    // Turned stale while withdrawn, the answer stays no after the grant is back.
    desktop_sim_set_preflight_stale(withdrawn, false);
    EXPECT_FALSE(CGPreflightPostEventAccess());
    desktop_sim_set_preflight_stale(withdrawn, true);
    desktop_sim_set_permission(withdrawn, true);
    EXPECT_FALSE(CGPreflightPostEventAccess());
    ProbeTap granted(options);
    EXPECT_TRUE(granted.Start());
    granted.Stop();
    desktop_sim_set_preflight_stale(withdrawn, false);
    EXPECT_TRUE(CGPreflightPostEventAccess()) << "live again";
  }
  desktop_sim_set_preflight_stale(kInputMonitoring, true);
  desktop_sim_set_permission(kInputMonitoring, false);
  EXPECT_TRUE(CGPreflightListenEventAccess());
  desktop_sim_reset();
  for (desktop_sim_permission p : kAll) EXPECT_FALSE(desktop_sim_preflight_stale(p));
  desktop_sim_set_permission(kInputMonitoring, false);
  EXPECT_FALSE(CGPreflightListenEventAccess()) << "reset makes every answer live";
  ExpectBalanced();
}

TEST_F(PermissionsTest, RequestsPromptOnlyWhileTheAccessIsMissing) {
  EXPECT_TRUE(CGRequestListenEventAccess());
  EXPECT_TRUE(CGRequestPostEventAccess());
  for (desktop_sim_permission p : kAll) EXPECT_EQ(desktop_sim_prompts(p), 0u);

  desktop_sim_set_permission(kInputMonitoring, false);
  desktop_sim_set_permission(kPostEvents, false);
  EXPECT_FALSE(CGRequestListenEventAccess()) << "the prompt answers later";
  EXPECT_FALSE(CGRequestListenEventAccess());
  EXPECT_FALSE(CGRequestPostEventAccess());
  EXPECT_EQ(desktop_sim_prompts(kInputMonitoring), 2u);
  EXPECT_EQ(desktop_sim_prompts(kPostEvents), 1u);
  EXPECT_EQ(desktop_sim_prompts(kAccessibility), 0u);
  desktop_sim_reset();
  for (desktop_sim_permission p : kAll) {
    EXPECT_EQ(desktop_sim_prompts(p), 0u);
    EXPECT_TRUE(desktop_sim_permission_granted(p));
  }
}

TEST_F(PermissionsTest, TheTrustCheckPromptsWhenAskedAndUntrusted) {
  CFStringRef other_key = CFSTR("AXSomethingElse");
  CFStringRef equal_key =  // equal to the option's name, but another object
      CFStringCreateWithCString(kCFAllocatorDefault, "AXTrustedCheckOptionPrompt",
                                kCFStringEncodingUTF8);
  struct Case {
    const char* name;
    CFTypeRef key;  // null: no options at all
    CFTypeRef value;
    bool prompts;
  };
  const Case cases[] = {
      {"no options", nullptr, nullptr, false},
      {"prompt true", kAXTrustedCheckOptionPrompt, kCFBooleanTrue, true},
      {"prompt false", kAXTrustedCheckOptionPrompt, kCFBooleanFalse, false},
      {"an equal key", equal_key, kCFBooleanTrue, true},
      {"another key", other_key, kCFBooleanTrue, false},
  };
  for (bool trusted : {true, false}) {
    desktop_sim_set_permission(kAccessibility, trusted);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (trusted ? ", trusted" : ", untrusted"));
      const uint64_t before = desktop_sim_prompts(kAccessibility);
      CFDictionaryRef options = nullptr;
      if (c.key != nullptr) {
        const void* keys[] = {c.key};
        const void* values[] = {c.value};
        options = CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
        ASSERT_NE(options, nullptr);
      }
      EXPECT_EQ(AXIsProcessTrustedWithOptions(options) != 0, trusted);
      EXPECT_EQ(desktop_sim_prompts(kAccessibility) - before, c.prompts && !trusted ? 1u : 0u);
      if (options != nullptr) CFRelease(options);
    }
  }
  CFRelease(equal_key);
  ExpectBalanced();
}

TEST_F(PermissionsTest, ADictionaryHoldsItsKeysAndValuesUntilItIsReleased) {
  const uint64_t objects_before = desktop_sim_cf_objects();
  CFStringRef key = CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
  CFStringRef same_key = CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
  const int64_t seven = 7;
  CFNumberRef value = CFNumberCreate(nullptr, kCFNumberSInt64Type, &seven);
  const void* keys[] = {key, kAXTrustedCheckOptionPrompt, same_key};
  const void* values[] = {value, kCFBooleanTrue, kCFBooleanFalse};
  CFDictionaryRef dictionary = CFDictionaryCreate(
      nullptr, keys, values, 3, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  ASSERT_NE(dictionary, nullptr);
  EXPECT_EQ(CFGetTypeID(dictionary), CFDictionaryGetTypeID());
  EXPECT_EQ(CFDictionaryGetCount(dictionary), 2) << "a repeated key keeps its first value";
  const uint64_t objects_with_dictionary = desktop_sim_cf_objects();
  CFRelease(key);
  CFRelease(value);
  EXPECT_EQ(desktop_sim_cf_objects(), objects_with_dictionary) << "the dictionary holds them";
  EXPECT_EQ(desktop_sim_cf_live(), 2) << "the dictionary and same_key are the caller's";
  EXPECT_EQ(CFDictionaryGetValue(dictionary, same_key), value) << "keys compare with CFEqual";
  EXPECT_EQ(CFDictionaryGetValue(dictionary, CFSTR("AXTrustedCheckOptionPrompt")), kCFBooleanTrue);
  EXPECT_EQ(CFDictionaryGetValue(dictionary, CFSTR("missing")), nullptr);
  CFRelease(dictionary);
  CFRelease(same_key);
  ExpectBalanced();
  EXPECT_EQ(desktop_sim_cf_objects(), objects_before);
}

TEST_F(PermissionsTest, WithoutCallbacksADictionaryKeepsPlainPointers) {
  static int a = 1;
  static int b = 2;
  const void* keys[] = {&a};
  const void* values[] = {&b};
  CFDictionaryRef dictionary = CFDictionaryCreate(nullptr, keys, values, 1, nullptr, nullptr);
  ASSERT_NE(dictionary, nullptr);
  EXPECT_EQ(CFDictionaryGetValue(dictionary, &a), &b);
  EXPECT_EQ(CFDictionaryGetValue(dictionary, &b), nullptr);
  CFRelease(dictionary);
  ExpectBalanced();
}

TEST_F(PermissionsTest, DictionaryMisuseIsRecordedAndCreatesNothing) {
  const CFDictionaryKeyCallBacks own_keys = kCFTypeDictionaryKeyCallBacks;  // a copy
  static int not_an_object = 0;
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {&not_an_object};
  struct Case {
    const char* name;
    const CFDictionaryKeyCallBacks* key_callbacks;
    const void** values;
    CFIndex count;
    const char* misuse;
  };
  const Case cases[] = {
      {"callbacks of its own", &own_keys, values, 1, "not modelled"},
      {"a value that is no object", &kCFTypeDictionaryKeyCallBacks, values, 1,
       "no object of this desktop"},
      {"a negative count", &kCFTypeDictionaryKeyCallBacks, values, -1, "-1 pairs"},
      {"no arrays", &kCFTypeDictionaryKeyCallBacks, nullptr, 1, "1 pairs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop_sim_reset();
    EXPECT_EQ(CFDictionaryCreate(nullptr, c.values ? keys : nullptr, c.values, c.count,
                                 c.key_callbacks, &kCFTypeDictionaryValueCallBacks),
              nullptr);
    EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
    EXPECT_NE(LastMisuse().find(c.misuse), std::string::npos) << LastMisuse();
    EXPECT_EQ(desktop_sim_cf_live(), 0);
  }
  desktop_sim_reset();
  EXPECT_TRUE(AXIsProcessTrustedWithOptions(reinterpret_cast<CFDictionaryRef>(CFSTR("x"))));
  EXPECT_NE(LastMisuse().find("not a CFDictionary"), std::string::npos) << LastMisuse();
}

TEST_F(PermissionsTest, TapCreationAsksForTheAccessOfItsKind) {
  struct Case {
    const char* name;
    std::vector<desktop_sim_permission> withdrawn;
    CGEventTapOptions options;
    CGEventMask mask;
    bool created;
    CGEventMask granted_mask;
  };
  const CGEventMask both = kKeyTypes | kButtonTypes;
  const Case cases[] = {
      {"active, all granted", {}, kCGEventTapOptionDefault, both, true, both},
      {"active without accessibility",
       {kAccessibility},
       kCGEventTapOptionDefault,
       kButtonTypes,
       false,
       0},
      {"active without post events",
       {kPostEvents},
       kCGEventTapOptionDefault,
       kButtonTypes,
       false,
       0},
      {"active without input monitoring",
       {kInputMonitoring},
       kCGEventTapOptionDefault,
       both,
       true,
       both},
      {"listening, accessibility alone",
       {kInputMonitoring},
       kCGEventTapOptionListenOnly,
       both,
       true,
       both},
      {"listening, input monitoring alone",
       {kAccessibility},
       kCGEventTapOptionListenOnly,
       both,
       true,
       both},
      {"listening without either: key types cleared",
       {kAccessibility, kInputMonitoring},
       kCGEventTapOptionListenOnly,
       both,
       true,
       kButtonTypes},
      {"listening without either, keys only: empty mask, no tap",
       {kAccessibility, kInputMonitoring},
       kCGEventTapOptionListenOnly,
       kKeyTypes,
       false,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop_sim_reset();
    for (desktop_sim_permission p : c.withdrawn) desktop_sim_set_permission(p, false);
    CFMachPortRef port = CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, c.options, c.mask,
                                          PassThrough, nullptr);
    EXPECT_EQ(port != nullptr, c.created);
    if (port == nullptr) continue;
    ASSERT_EQ(Taps().size(), 1u);
    EXPECT_EQ(Taps()[0].mask, c.granted_mask);
    CFRelease(port);
  }
  ExpectBalanced();
}

TEST_F(PermissionsTest, AListeningTapLosesKeyEventsWithItsAccess) {
  ProbeOptions options;
  options.options = kCGEventTapOptionListenOnly;
  options.mask = kKeyTypes | kButtonTypes;
  ProbeTap probe(options);
  ASSERT_TRUE(probe.Start());
  desktop_sim_set_permission(kAccessibility, false);
  desktop_sim_set_permission(kInputMonitoring, false);
  const desktop_sim_event key = Button(kCGEventKeyDown, 0);
  const desktop_sim_event button = Button(kCGEventOtherMouseDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&key));
  EXPECT_TRUE(desktop_sim_hid_send(&button));
  desktop_sim_set_permission(kInputMonitoring, true);
  EXPECT_TRUE(desktop_sim_hid_send(&key));
  const auto calls = probe.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].type, static_cast<uint32_t>(kCGEventOtherMouseDown));
  EXPECT_EQ(calls[1].type, static_cast<uint32_t>(kCGEventKeyDown));
  EXPECT_EQ(desktop_sim_held_back(), 0u) << "a listening tap holds nothing back";
  probe.Stop();
  ExpectBalanced();
}

TEST_F(PermissionsTest, AnActiveTapThatLosesItsAccessHoldsInputBackUntilTheSystemDisablesIt) {
  for (desktop_sim_permission withdrawn : {kAccessibility, kPostEvents}) {
    SCOPED_TRACE(withdrawn);
    desktop_sim_reset();
    ProbeOptions options;
    options.location = kCGHIDEventTap;
    options.reenable = false;
    ProbeTap probe(options);
    ASSERT_TRUE(probe.Start());
    const desktop_sim_event press = Button(kCGEventOtherMouseDown, 3);
    EXPECT_TRUE(desktop_sim_hid_send(&press));
    desktop_sim_set_revocation_delay_ms(kBound * 10);  // long enough to look at the starving tap
    desktop_sim_set_permission(withdrawn, false);
    EXPECT_FALSE(desktop_sim_hid_send(&press)) << "held back";
    EXPECT_EQ(desktop_sim_hid_send_many(&press, 3), 0u);
    EXPECT_EQ(desktop_sim_held_back(), 4u);
    EXPECT_EQ(probe.CallCount(), 1u) << "the starving tap is handed nothing";
    EXPECT_EQ(desktop_sim_app_event_count(), 1u);
    EXPECT_TRUE(Taps()[0].enabled);

    desktop_sim_set_revocation_delay_ms(20);
    ASSERT_TRUE(probe.WaitCalls(2, kBound)) << "the timeout notification";
    EXPECT_EQ(probe.Calls()[1].type, static_cast<uint32_t>(kCGEventTapDisabledByTimeout));
    EXPECT_FALSE(Taps()[0].enabled);
    EXPECT_TRUE(desktop_sim_hid_send(&press)) << "a disabled tap holds nothing back";
    EXPECT_EQ(desktop_sim_held_back(), 4u);
    EXPECT_EQ(probe.CallCount(), 2u);
    probe.Stop();
    ExpectBalanced();
  }
}

TEST_F(PermissionsTest, ATapReenabledWithoutAccessStarvesAgain) {
  desktop_sim_set_revocation_delay_ms(5);
  ProbeOptions options;
  options.location = kCGHIDEventTap;
  options.reenable = true;  // what a callback that always re-enables does
  ProbeTap probe(options);
  ASSERT_TRUE(probe.Start());
  desktop_sim_set_permission(kAccessibility, false);
  ASSERT_TRUE(probe.WaitCalls(3, kBound)) << "disabled, re-enabled, disabled again";
  for (const auto& call : probe.Calls()) {
    EXPECT_EQ(call.type, static_cast<uint32_t>(kCGEventTapDisabledByTimeout));
  }
  const desktop_sim_event press = Button(kCGEventOtherMouseDown, 3);
  ASSERT_TRUE(Eventually([&] {
    desktop_sim_hid_send(&press);
    return desktop_sim_held_back() > 0;
  })) << "each re-enabling holds input back again";
  desktop_sim_set_permission(kAccessibility, true);
  ASSERT_TRUE(Eventually([&] { return Taps()[0].enabled; }));
  EXPECT_TRUE(desktop_sim_hid_send(&press));
  probe.Stop();
  ExpectBalanced();
}

TEST_F(PermissionsTest, PostingWithoutAccessDropsTheEventSilently) {
  for (desktop_sim_permission withdrawn : {kAccessibility, kPostEvents}) {
    SCOPED_TRACE(withdrawn);
    desktop_sim_reset();
    ProbeOptions options;
    options.options = kCGEventTapOptionListenOnly;  // a listening tap needs no post access
    options.mask = kKeyTypes;
    ProbeTap probe(options);
    ASSERT_TRUE(probe.Start());
    desktop_sim_set_permission(withdrawn, false);
    CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 4, true);
    CGEventPost(kCGHIDEventTap, key);
    desktop_sim_set_permission(withdrawn, true);
    CGEventPost(kCGHIDEventTap, key);
    CFRelease(key);

    const auto posted = Posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_TRUE(posted[0].dropped);
    EXPECT_EQ(posted[0].keycode, 4);
    EXPECT_FALSE(posted[1].dropped);
    EXPECT_EQ(desktop_sim_posted_count(), 2u);
    EXPECT_EQ(desktop_sim_app_event_count(), 1u) << "the dropped event reached no application";
    EXPECT_EQ(probe.CallCount(), 1u) << "and no tap";
    EXPECT_EQ(desktop_sim_cf_misuse(), 0u) << "silently";
    probe.Stop();
    ExpectBalanced();
  }
}

TEST_F(PermissionsTest, ResetRestoresTheSwitchesTheDelayAndTheCounts) {
  for (desktop_sim_permission p : kAll) desktop_sim_set_permission(p, false);
  desktop_sim_set_revocation_delay_ms(7);
  CGRequestListenEventAccess();
  desktop_sim_reset();
  for (desktop_sim_permission p : kAll) {
    EXPECT_TRUE(desktop_sim_permission_granted(p));
    EXPECT_EQ(desktop_sim_prompts(p), 0u);
  }
  EXPECT_EQ(desktop_sim_revocation_delay_ms(),
            static_cast<uint32_t>(DESKTOP_SIM_DEFAULT_REVOCATION_DELAY_MS));
  EXPECT_EQ(desktop_sim_held_back(), 0u);
  EXPECT_FALSE(desktop_sim_permission_granted(static_cast<desktop_sim_permission>(3)));
}

}  // namespace
}  // namespace desktop_sim_test
