// The accessibility desktop driven through the C API: values of every kind, element identity,
// arrays and their borrowed items, permission, replaced desktops, logs and latency.
#include <desktop_sim/running_application.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

class AxTest : public SimTest {
 protected:
  static desktop_sim_ax_value Value(desktop_sim_ax_kind kind) {
    desktop_sim_ax_value value{};
    value.kind = kind;
    return value;
  }
  static void SetString(int32_t element, const char* name, const std::u16string& text) {
    desktop_sim_ax_value value = Value(DESKTOP_SIM_AX_STRING);
    value.units = reinterpret_cast<const uint16_t*>(text.data());
    value.length = text.size();
    ASSERT_TRUE(desktop_sim_ax_set_attribute(element, name, &value));
  }
  static void Set(int32_t element, const char* name, desktop_sim_ax_value value) {
    ASSERT_TRUE(desktop_sim_ax_set_attribute(element, name, &value));
  }

  // An application (pid 7 unless told) whose root has one child "field", focused.
  void LoadSmallDesktop(bool trusted = true, pid_t pid = 7) {
    desktop_sim_ax_begin();
    root_ = desktop_sim_ax_add_element("root");
    field_ = desktop_sim_ax_add_element("field");
    SetString(root_, "AXRole", u"AXApplication");
    SetString(field_, "AXRole", u"AXTextField");
    ASSERT_TRUE(desktop_sim_ax_add_child(root_, field_));
    ASSERT_TRUE(desktop_sim_ax_add_application(pid, "Seven", nullptr, true, root_, field_, -1));
    ASSERT_TRUE(desktop_sim_ax_commit(trusted, pid, -1));
  }

  // The focused application, owned.
  static AXUIElementRef FocusedApplication() {
    AXUIElementRef system = AXUIElementCreateSystemWide();
    CFTypeRef app = nullptr;
    EXPECT_EQ(AXUIElementCopyAttributeValue(system, CFSTR("AXFocusedApplication"), &app),
              kAXErrorSuccess);
    CFRelease(system);
    return static_cast<AXUIElementRef>(app);
  }

  static std::string Utf8(CFStringRef s) {
    std::string out(64, '\0');
    CFIndex used = 0;
    CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8*>(&out[0]), 64, &used);
    out.resize(used);
    return out;
  }

  int32_t root_ = -1;
  int32_t field_ = -1;
};

TEST_F(AxTest, EveryCopyIsANewObjectEqualToTheOthers) {
  LoadSmallDesktop();
  AXUIElementRef a = FocusedApplication();
  AXUIElementRef b = FocusedApplication();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b);
  EXPECT_TRUE(CFEqual(a, b));
  EXPECT_EQ(CFHash(a), CFHash(b));
  EXPECT_EQ(CFGetTypeID(a), AXUIElementGetTypeID());
  CFTypeRef focused = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(a, CFSTR("AXFocusedUIElement"), &focused),
            kAXErrorSuccess);
  EXPECT_FALSE(CFEqual(a, focused));
  pid_t pid = 0;
  EXPECT_EQ(AXUIElementGetPid(static_cast<AXUIElementRef>(focused), &pid), kAXErrorSuccess);
  EXPECT_EQ(pid, 7);
  for (CFTypeRef owned : {static_cast<CFTypeRef>(a), static_cast<CFTypeRef>(b), focused}) {
    CFRelease(owned);
  }
  ExpectBalanced();
}

TEST_F(AxTest, AttributeKindsAndTheirCfTypes) {
  LoadSmallDesktop();
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element(nullptr);
  desktop_sim_ax_value number = Value(DESKTOP_SIM_AX_NUMBER);
  number.number = 2.5;
  number.number_type = kCFNumberDoubleType;
  Set(root, "AXDouble", number);
  number.number = 300;
  number.number_type = kCFNumberSInt64Type;
  Set(root, "AXInteger", number);
  desktop_sim_ax_value truth = Value(DESKTOP_SIM_AX_BOOLEAN);
  truth.boolean = true;
  Set(root, "AXBool", truth);
  desktop_sim_ax_value point = Value(DESKTOP_SIM_AX_POINT);
  point.pair[0] = 3;
  point.pair[1] = 4;
  Set(root, "AXPosition", point);
  desktop_sim_ax_value error = Value(DESKTOP_SIM_AX_ERROR);
  error.error = kAXErrorCannotComplete;
  Set(root, "AXBroken", error);
  Set(root, "AXNothing", Value(DESKTOP_SIM_AX_NULL));
  Set(root, "AXOther", Value(DESKTOP_SIM_AX_OTHER));
  SetString(root, "AXLone",
            u"a\xD800"
            u"b");
  ASSERT_TRUE(desktop_sim_ax_add_application(9, nullptr, nullptr, true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_commit(true, 9, -1));
  AXUIElementRef app = FocusedApplication();

  auto copy = [&](CFStringRef name, AXError expected) {
    CFTypeRef value = nullptr;
    EXPECT_EQ(AXUIElementCopyAttributeValue(app, name, &value), expected);
    return value;
  };
  CFTypeRef d = copy(CFSTR("AXDouble"), kAXErrorSuccess);
  EXPECT_EQ(CFGetTypeID(d), CFNumberGetTypeID());
  EXPECT_EQ(CFNumberGetType(static_cast<CFNumberRef>(d)), kCFNumberDoubleType);
  int32_t truncated = 0;
  EXPECT_FALSE(CFNumberGetValue(static_cast<CFNumberRef>(d), kCFNumberSInt32Type, &truncated))
      << "2.5 as an integer is lossy";
  EXPECT_EQ(truncated, 2);
  CFTypeRef i = copy(CFSTR("AXInteger"), kAXErrorSuccess);
  double as_double = 0;
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(i), kCFNumberDoubleType, &as_double));
  EXPECT_EQ(as_double, 300);
  int8_t small = 0;
  EXPECT_FALSE(CFNumberGetValue(static_cast<CFNumberRef>(i), kCFNumberSInt8Type, &small));
  EXPECT_EQ(copy(CFSTR("AXBool"), kAXErrorSuccess), kCFBooleanTrue);
  CFTypeRef p = copy(CFSTR("AXPosition"), kAXErrorSuccess);
  CGPoint got = CGPointZero;
  EXPECT_TRUE(AXValueGetValue(static_cast<AXValueRef>(p), kAXValueTypeCGPoint, &got));
  EXPECT_EQ(got.x, 3);
  EXPECT_EQ(got.y, 4);
  CGSize untouched = CGSizeMake(-1, -1);
  EXPECT_FALSE(AXValueGetValue(static_cast<AXValueRef>(p), kAXValueTypeCGSize, &untouched));
  EXPECT_EQ(untouched.width, -1) << "a value of another type writes nothing";
  EXPECT_EQ(copy(CFSTR("AXBroken"), kAXErrorCannotComplete), nullptr);
  EXPECT_EQ(copy(CFSTR("AXNothing"), kAXErrorSuccess), nullptr);
  EXPECT_EQ(copy(CFSTR("AXMissing"), kAXErrorAttributeUnsupported), nullptr);
  CFTypeRef other = copy(CFSTR("AXOther"), kAXErrorSuccess);
  EXPECT_EQ(CFGetTypeID(other), AXValueGetTypeID());
  EXPECT_EQ(AXValueGetType(static_cast<AXValueRef>(other)), kAXValueTypeCFRange);
  CFTypeRef lone = copy(CFSTR("AXLone"), kAXErrorSuccess);
  EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(lone)), 3);
  EXPECT_EQ(Utf8(static_cast<CFStringRef>(lone)), "a")
      << "the string keeps its lone surrogate, where a UTF-8 conversion stops";
  for (CFTypeRef owned : {d, i, p, other, lone, static_cast<CFTypeRef>(app)}) CFRelease(owned);
  EXPECT_EQ(desktop_sim_cf_live(), 1) << "the boolean copied is counted though a constant";
  CFRelease(kCFBooleanTrue);
  ExpectBalanced();
}

TEST_F(AxTest, ChildrenAreBorrowedFromTheirArray) {
  LoadSmallDesktop();
  AXUIElementRef app = FocusedApplication();
  const uint64_t objects_before = desktop_sim_cf_objects();
  CFTypeRef children = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXChildren"), &children), kAXErrorSuccess);
  ASSERT_EQ(CFGetTypeID(children), CFArrayGetTypeID());
  auto array = static_cast<CFArrayRef>(children);
  ASSERT_EQ(CFArrayGetCount(array), 1);
  const void* item = CFArrayGetValueAtIndex(array, 0);
  EXPECT_EQ(CFGetTypeID(item), AXUIElementGetTypeID());
  EXPECT_EQ(desktop_sim_cf_live(), 2) << "the application and the array; the item is not ours";
  CFRelease(children);
  EXPECT_EQ(desktop_sim_cf_objects(), objects_before) << "the array took its item with it";
  CFRelease(app);
  ExpectBalanced();

  app = FocusedApplication();
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXChildren"), &children), kAXErrorSuccess);
  CFRelease(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(children), 0));
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << "releasing a borrowed item is an over-release";
  EXPECT_NE(LastMisuse().find("over-release"), std::string::npos) << LastMisuse();
  CFRelease(children);
  CFRelease(app);
}

TEST_F(AxTest, WithoutPermissionOnlyTheSystemWideElementIsMade) {
  LoadSmallDesktop(false);
  AXUIElementRef system = AXUIElementCreateSystemWide();
  ASSERT_NE(system, nullptr);
  CFTypeRef value = nullptr;
  Boolean settable = true;
  CFArrayRef names = nullptr;
  pid_t pid = -1;
  EXPECT_EQ(AXUIElementCopyAttributeValue(system, CFSTR("AXFocusedApplication"), &value),
            kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementIsAttributeSettable(system, CFSTR("AXRole"), &settable),
            kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementSetAttributeValue(system, CFSTR("AXRole"), kCFBooleanTrue),
            kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementCopyActionNames(system, &names), kAXErrorAPIDisabled);
  EXPECT_EQ(AXUIElementGetPid(system, &pid), kAXErrorAPIDisabled);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(names, nullptr);
  EXPECT_EQ(pid, -1);
  EXPECT_TRUE(settable) << "outputs are left as the caller preset them";
  EXPECT_FALSE(AXIsProcessTrusted());
  CFRelease(system);
  ExpectBalanced();
}

TEST_F(AxTest, ElementsOfAReplacedDesktopAreInvalid) {
  LoadSmallDesktop();
  AXUIElementRef app = FocusedApplication();
  LoadSmallDesktop();
  CFTypeRef value = nullptr;
  EXPECT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value), kAXErrorInvalidUIElement);
  AXUIElementRef fresh = FocusedApplication();
  EXPECT_FALSE(CFEqual(app, fresh));
  CFRelease(fresh);
  CFRelease(app);
  desktop_sim_reset();
  AXUIElementRef system = AXUIElementCreateSystemWide();
  EXPECT_EQ(AXUIElementCopyAttributeValue(system, CFSTR("AXFocusedApplication"), &value),
            kAXErrorNoValue)
      << "reset leaves no application";
  CFRelease(system);
  ExpectBalanced();
}

TEST_F(AxTest, SettingAttributesAndActionNames) {
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  ASSERT_TRUE(desktop_sim_ax_add_settable(root, "AXValue"));
  const std::u16string raise = u"AXRaise";
  ASSERT_TRUE(desktop_sim_ax_add_action(root, reinterpret_cast<const uint16_t*>(raise.data()),
                                        raise.size()));
  ASSERT_TRUE(desktop_sim_ax_add_application(5, "Five", "com.example.five", true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_commit(true, 5, -1));
  AXUIElementRef app = FocusedApplication();
  Boolean settable = false;
  EXPECT_EQ(AXUIElementIsAttributeSettable(app, CFSTR("AXValue"), &settable), kAXErrorSuccess);
  EXPECT_TRUE(settable);
  EXPECT_EQ(AXUIElementSetAttributeValue(app, CFSTR("AXValue"), kCFBooleanFalse), kAXErrorSuccess);
  EXPECT_EQ(AXUIElementSetAttributeValue(app, CFSTR("AXTitle"), kCFBooleanTrue),
            kAXErrorAttributeUnsupported);
  CFTypeRef value = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXValue"), &value), kAXErrorSuccess);
  EXPECT_EQ(value, kCFBooleanFalse) << "the application took the written value";
  CFRelease(value);
  std::vector<std::string> writes;
  desktop_sim_ax_writes(
      [](void* context, const desktop_sim_ax_write* write) {
        static_cast<std::vector<std::string>*>(context)->push_back(
            std::string(write->element) + " " + write->attribute + " " +
            (write->value.boolean ? "true" : "false"));
      },
      &writes);
  EXPECT_EQ(writes, (std::vector<std::string>{"root AXValue false", "root AXTitle true"}));
  CFArrayRef names = nullptr;
  ASSERT_EQ(AXUIElementCopyActionNames(app, &names), kAXErrorSuccess);
  ASSERT_EQ(CFArrayGetCount(names), 1);
  EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(names, 0))), "AXRaise");
  CFRelease(names);
  CFRelease(app);
  size_t length = 0;
  char name[8] = {};
  EXPECT_TRUE(desktop_sim_running_application_property(5, DESKTOP_SIM_APP_LOCALIZED_NAME, name,
                                                       sizeof name, &length));
  EXPECT_EQ(std::string(name, length), "Five");
  EXPECT_FALSE(desktop_sim_running_application_property(6, DESKTOP_SIM_APP_LOCALIZED_NAME, name,
                                                        sizeof name, &length));
  ExpectBalanced();
}

TEST_F(AxTest, ArgumentMistakesAreMisuseAndIllegalArguments) {
  LoadSmallDesktop();
  AXUIElementRef app = FocusedApplication();
  EXPECT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), nullptr), kAXErrorIllegalArgument);
  CFTypeRef value = nullptr;
  EXPECT_EQ(AXUIElementCopyAttributeValue(nullptr, CFSTR("AXRole"), &value),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyAttributeValue(reinterpret_cast<AXUIElementRef>(CFSTR("AXRole")),
                                          CFSTR("AXRole"), &value),
            kAXErrorIllegalArgument);
  EXPECT_EQ(desktop_sim_cf_misuse(), 3u) << MisuseLog();
  CFRelease(app);
}

TEST_F(AxTest, LatencyIsPaidPerRequestAndAccounted) {
  LoadSmallDesktop();
  desktop_sim_ax_set_latency_us(300);
  AXUIElementRef app = FocusedApplication();
  CFTypeRef value = nullptr;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value), kAXErrorSuccess);
    CFRelease(value);
  }
  desktop_sim_ax_stats stats{};
  desktop_sim_ax_stats_get(&stats);
  EXPECT_EQ(stats.requests, 4u) << "the focused application, then three roles";
  EXPECT_GE(stats.answer_ns, 4u * 300u * 1000u) << "a busy wait never ends early";
  EXPECT_EQ(stats.latency_us, 300u);
  CFRelease(app);
  ExpectBalanced();
}

// The names of a batched request, owned.
CFArrayRef Names(std::initializer_list<CFStringRef> names) {
  std::vector<const void*> values(names.begin(), names.end());
  return CFArrayCreate(kCFAllocatorDefault, values.data(), static_cast<CFIndex>(values.size()),
                       &kCFTypeArrayCallBacks);
}

struct LoggedRequest {
  std::string call;
  std::string attribute;
  int32_t result;
  double timeout;
};

std::vector<LoggedRequest> Requests() {
  std::vector<LoggedRequest> out;
  desktop_sim_ax_requests(
      [](void* context, const desktop_sim_ax_request* r) {
        static_cast<std::vector<LoggedRequest>*>(context)->push_back(
            {r->call, r->attribute, r->result, r->timeout});
      },
      &out);
  return out;
}

AXError ErrorOf(const void* item) {
  AXError error = kAXErrorSuccess;
  EXPECT_EQ(CFGetTypeID(item), AXValueGetTypeID());
  EXPECT_EQ(AXValueGetType(static_cast<AXValueRef>(item)), kAXValueTypeAXError);
  EXPECT_TRUE(AXValueGetValue(static_cast<AXValueRef>(item), kAXValueTypeAXError, &error));
  return error;
}

TEST_F(AxTest, ABatchedRequestAnswersValuesErrorPlaceholdersAndNull) {
  LoadSmallDesktop();
  desktop_sim_ax_value no_value = Value(DESKTOP_SIM_AX_ERROR);
  no_value.error = kAXErrorNoValue;
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  const int32_t child = desktop_sim_ax_add_element("child");
  SetString(root, "AXRole", u"AXApplication");
  Set(root, "AXTitle", no_value);
  Set(root, "AXValue", Value(DESKTOP_SIM_AX_NULL));
  desktop_sim_ax_value yes = Value(DESKTOP_SIM_AX_BOOLEAN);
  yes.boolean = true;
  Set(root, "AXEnabled", yes);
  ASSERT_TRUE(desktop_sim_ax_add_child(root, child));
  ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_commit(true, 7, -1));
  AXUIElementRef app = FocusedApplication();
  CFArrayRef names = Names({CFSTR("AXRole"), CFSTR("AXTitle"), CFSTR("AXValue"), CFSTR("AXHelp"),
                            CFSTR("AXEnabled"), CFSTR("AXChildren")});
  ASSERT_NE(names, nullptr);

  CFArrayRef values = nullptr;
  ASSERT_EQ(AXUIElementCopyMultipleAttributeValues(app, names, 0, &values), kAXErrorSuccess);
  ASSERT_EQ(CFArrayGetCount(values), 6);
  EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(values, 0))), "AXApplication");
  EXPECT_EQ(ErrorOf(CFArrayGetValueAtIndex(values, 1)), kAXErrorNoValue);
  EXPECT_EQ(CFArrayGetValueAtIndex(values, 2), kCFNull);
  EXPECT_EQ(CFGetTypeID(kCFNull), CFNullGetTypeID());
  EXPECT_EQ(CFNullGetTypeID(), 16u) << "CoreFoundation's runtime id of CFNull";
  EXPECT_EQ(ErrorOf(CFArrayGetValueAtIndex(values, 3)), kAXErrorAttributeUnsupported);
  EXPECT_EQ(CFArrayGetValueAtIndex(values, 4), kCFBooleanTrue);
  const void* children = CFArrayGetValueAtIndex(values, 5);
  ASSERT_EQ(CFGetTypeID(children), CFArrayGetTypeID());
  EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(children)), 1);
  EXPECT_EQ(desktop_sim_cf_live(), 3) << "the application, the names and the answer";
  CFRelease(values);

  // Stopping at the first error answers that error and no array.
  values = nullptr;
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(
                app, names, kAXCopyMultipleAttributeOptionStopOnError, &values),
            kAXErrorNoValue);
  EXPECT_EQ(values, nullptr);
  const std::vector<LoggedRequest> log = Requests();
  ASSERT_EQ(log.size(), 3u) << "one request per batch";
  EXPECT_EQ(log[1].call, "AXUIElementCopyMultipleAttributeValues");
  EXPECT_EQ(log[1].attribute, "AXRole,AXTitle,AXValue,AXHelp,AXEnabled,AXChildren");
  EXPECT_EQ(log[2].result, kAXErrorNoValue);
  CFRelease(names);
  CFRelease(app);
  ExpectBalanced();
}

TEST_F(AxTest, BatchedRequestsRefusedOrMisused) {
  LoadSmallDesktop();
  AXUIElementRef app = FocusedApplication();
  CFArrayRef names = Names({CFSTR("AXRole")});
  CFArrayRef values = nullptr;
  // An array that is not of names, a name array that is no array, unknown options.
  const void* mixed_items[] = {CFSTR("AXRole"), kCFBooleanTrue};
  CFArrayRef mixed = CFArrayCreate(nullptr, mixed_items, 2, &kCFTypeArrayCallBacks);
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(app, mixed, 0, &values),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(
                app, reinterpret_cast<CFArrayRef>(CFSTR("AXRole")), 0, &values),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(app, names, 0x4, &values),
            kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(app, names, 0, nullptr),
            kAXErrorIllegalArgument);
  EXPECT_EQ(desktop_sim_cf_misuse(), 4u) << MisuseLog();
  EXPECT_EQ(values, nullptr);
  CFRelease(mixed);
  CFRelease(app);

  // An application that does not take batched requests.
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  SetString(root, "AXRole", u"AXApplication");
  ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_set_batch_error(7, kAXErrorNotImplemented));
  EXPECT_FALSE(desktop_sim_ax_set_batch_error(8, kAXErrorNotImplemented)) << "no such pid";
  ASSERT_TRUE(desktop_sim_ax_commit(true, 7, -1));
  app = FocusedApplication();
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(app, names, 0, &values), kAXErrorNotImplemented);
  EXPECT_EQ(values, nullptr);
  CFRelease(names);
  CFRelease(app);
}

TEST_F(AxTest, CreatedArraysHoldTheirValuesOrNot) {
  CFStringRef text = CFStringCreateWithCString(nullptr, "held", kCFStringEncodingUTF8);
  const void* items[] = {text, kCFNull, kCFBooleanFalse};
  CFArrayRef holding = CFArrayCreate(nullptr, items, 3, &kCFTypeArrayCallBacks);
  CFArrayCallBacks copied = kCFTypeArrayCallBacks;  // a copy of the callbacks works the same
  CFArrayRef also_holding = CFArrayCreate(nullptr, items, 1, &copied);
  CFArrayRef not_holding = CFArrayCreate(nullptr, items, 1, nullptr);
  CFRelease(text);
  EXPECT_EQ(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(holding, 0))), "held");
  EXPECT_EQ(CFArrayGetValueAtIndex(holding, 1), kCFNull);
  const void* got[3] = {};
  CFArrayGetValues(holding, CFRangeMake(1, 2), got);
  EXPECT_EQ(got[0], kCFNull);
  EXPECT_EQ(got[1], kCFBooleanFalse);
  EXPECT_EQ(got[2], nullptr) << "nothing beyond the range";
  CFArrayGetValues(holding, CFRangeMake(2, 2), got);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << "a range beyond the array";
  CFRelease(holding);
  CFRelease(also_holding);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << MisuseLog();
  // The string is gone with the arrays that held it; the one that did not hold it now points at
  // a freed object.
  EXPECT_EQ(CFGetTypeID(CFArrayGetValueAtIndex(not_holding, 0)), 0u);
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u);
  CFRelease(not_holding);
  CFArrayCallBacks own = kCFTypeArrayCallBacks;
  own.copyDescription = nullptr;
  EXPECT_EQ(CFArrayCreate(nullptr, items, 1, &own), nullptr) << "callbacks of the program's own";
  EXPECT_EQ(desktop_sim_cf_live(), 0);
}

TEST_F(AxTest, MessagingTimeoutsPerObjectAndProcessWide) {
  LoadSmallDesktop();
  AXUIElementRef system = AXUIElementCreateSystemWide();
  AXUIElementRef a = FocusedApplication();
  AXUIElementRef b = FocusedApplication();  // the same element, another object
  const auto timeout_of_next_request = [](AXUIElementRef element) {
    CFTypeRef value = nullptr;
    AXUIElementCopyAttributeValue(element, CFSTR("AXRole"), &value);
    if (value != nullptr) CFRelease(value);
    return Requests().back().timeout;
  };
  EXPECT_EQ(timeout_of_next_request(a), 6.0) << "the system's default";
  ASSERT_EQ(AXUIElementSetMessagingTimeout(a, 0.25f), kAXErrorSuccess);
  EXPECT_EQ(timeout_of_next_request(a), 0.25);
  EXPECT_EQ(timeout_of_next_request(b), 6.0) << "only the object it was set on";
  ASSERT_EQ(AXUIElementSetMessagingTimeout(system, 2.0f), kAXErrorSuccess);
  EXPECT_EQ(timeout_of_next_request(b), 2.0) << "the process-wide timeout";
  EXPECT_EQ(timeout_of_next_request(a), 0.25);
  ASSERT_EQ(AXUIElementSetMessagingTimeout(a, 0), kAXErrorSuccess);
  EXPECT_EQ(timeout_of_next_request(a), 2.0) << "0 on an element: the process-wide one again";
  ASSERT_EQ(AXUIElementSetMessagingTimeout(system, 0), kAXErrorSuccess);
  EXPECT_EQ(timeout_of_next_request(a), 6.0) << "0 on the system-wide element: the default";
  EXPECT_EQ(AXUIElementSetMessagingTimeout(a, -1.0f), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(a, __builtin_nanf("")), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(nullptr, 1.0f), kAXErrorIllegalArgument);
  const size_t requests = Requests().size();
  ASSERT_EQ(AXUIElementSetMessagingTimeout(a, 1.0f), kAXErrorSuccess);
  EXPECT_EQ(Requests().size(), requests) << "answered locally: no request";
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << MisuseLog();
  CFRelease(a);
  CFRelease(b);
  CFRelease(system);
}

TEST_F(AxTest, AHungApplicationAnswersCannotCompleteAfterTheTimeout) {
  LoadSmallDesktop();
  AXUIElementRef app = FocusedApplication();
  ASSERT_EQ(AXUIElementSetMessagingTimeout(app, 0.05f), kAXErrorSuccess);
  desktop_sim_ax_set_hung(7, true, 1);
  CFTypeRef value = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value), kAXErrorSuccess)
      << "one more request is answered";
  CFRelease(value);
  const auto started = std::chrono::steady_clock::now();
  value = nullptr;
  EXPECT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value), kAXErrorCannotComplete);
  EXPECT_EQ(value, nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
  pid_t pid = 0;
  EXPECT_EQ(AXUIElementGetPid(app, &pid), kAXErrorSuccess) << "answered locally, never hung";
  desktop_sim_ax_set_hung(7, false, 0);
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value), kAXErrorSuccess);
  CFRelease(value);
  CFRelease(app);
  ExpectBalanced();
}

TEST_F(AxTest, AWaitForAHungApplicationEndsWhenItAnswersAgainOrTheDesktopIsReset) {
  // Default timeouts (6 s): each wait ends only because the hang ends.
  const struct {
    const char* name;
    bool reset;
    AXError expected;
  } cases[] = {{"answers again", false, kAXErrorSuccess},
               {"reset", true, kAXErrorInvalidUIElement}};
  for (const auto& c : cases) {
    desktop_sim_reset();
    LoadSmallDesktop();
    AXUIElementRef app = FocusedApplication();
    desktop_sim_ax_set_hung(7, true, 0);
    AXError result = kAXErrorSuccess;
    const auto started = std::chrono::steady_clock::now();
    std::thread asker([&] {
      CFTypeRef value = nullptr;
      result = AXUIElementCopyAttributeValue(app, CFSTR("AXRole"), &value);
      if (value != nullptr) CFRelease(value);
    });
    desktop_sim_ax_stats stats{};
    for (int i = 0; i < 1000000 && stats.waiting == 0; ++i) {
      std::this_thread::yield();
      desktop_sim_ax_stats_get(&stats);
    }
    EXPECT_EQ(stats.waiting, 1u) << c.name;
    if (c.reset) {
      desktop_sim_reset();
    } else {
      desktop_sim_ax_set_hung(7, false, 0);
    }
    asker.join();
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << c.name;
    CFRelease(app);
  }
}

// --- the system-wide element, this process, large answers, Chromium-like applications ---

using Elapsed = std::chrono::steady_clock::duration;

// Runs one copy and answers its result and how long it took; releases what it was handed.
AXError TimedCopy(AXUIElementRef element, CFStringRef attribute, Elapsed* took) {
  const auto started = std::chrono::steady_clock::now();
  CFTypeRef value = nullptr;
  const AXError result = AXUIElementCopyAttributeValue(element, attribute, &value);
  *took = std::chrono::steady_clock::now() - started;
  if (value != nullptr) CFRelease(value);
  return result;
}

TEST_F(AxTest, TheSystemWideFocusAttributesWaitForAHungFocusedApplication) {
  LoadSmallDesktop();
  AXUIElementRef system = AXUIElementCreateSystemWide();
  // A fresh system-wide object takes no timeout of its own: this one is the process's.
  AXUIElementRef fresh = AXUIElementCreateSystemWide();
  ASSERT_EQ(AXUIElementSetMessagingTimeout(fresh, 0.05f), kAXErrorSuccess);
  CFRelease(fresh);
  desktop_sim_ax_set_hung(7, true, 0);
  Elapsed took{};
  for (CFStringRef attribute : {CFSTR("AXFocusedApplication"), CFSTR("AXFocusedUIElement")}) {
    EXPECT_EQ(TimedCopy(system, attribute, &took), kAXErrorCannotComplete);
    EXPECT_GE(took, std::chrono::milliseconds(50)) << "the process-wide timeout in force";
    EXPECT_EQ(Requests().back().timeout, static_cast<double>(0.05f));
  }
  EXPECT_EQ(TimedCopy(system, CFSTR("AXRole"), &took), kAXErrorSuccess)
      << "the system-wide element's own attributes are the system's";
  desktop_sim_ax_set_hung(7, false, 0);
  EXPECT_EQ(TimedCopy(system, CFSTR("AXFocusedApplication"), &took), kAXErrorSuccess);
  CFRelease(system);
  ExpectBalanced();
}

TEST_F(AxTest, APromptRefusalIsAnsweredAtOnceAHangAfterTheTimeout) {
  LoadSmallDesktop();
  desktop_sim_ax_value refused = Value(DESKTOP_SIM_AX_ERROR);
  refused.error = kAXErrorCannotComplete;
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  Set(root, "AXHelp", refused);
  ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_commit(true, 7, -1));
  AXUIElementRef app = FocusedApplication();
  Elapsed took{};
  EXPECT_EQ(TimedCopy(app, CFSTR("AXHelp"), &took), kAXErrorCannotComplete);
  EXPECT_LT(took, std::chrono::seconds(3)) << "refused, not waited out (6 s timeout)";
  ASSERT_EQ(AXUIElementSetMessagingTimeout(app, 0.05f), kAXErrorSuccess);
  desktop_sim_ax_set_hung(7, true, 0);
  EXPECT_EQ(TimedCopy(app, CFSTR("AXRole"), &took), kAXErrorCannotComplete);
  EXPECT_GE(took, std::chrono::milliseconds(50));
  CFRelease(app);
  ExpectBalanced();
}

TEST_F(AxTest, ThisProcessIsAnsweredOnItsMainThreadOnly) {
  LoadSmallDesktop(true, getpid());
  ASSERT_TRUE(desktop_sim_running_application_active(getpid()));
  AXUIElementRef system = AXUIElementCreateSystemWide();
  AXUIElementRef app = FocusedApplication();
  ASSERT_NE(app, nullptr);
  Elapsed took{};
  EXPECT_EQ(TimedCopy(app, CFSTR("AXRole"), &took), kAXErrorSuccess) << "on the main thread";
  ASSERT_EQ(AXUIElementSetMessagingTimeout(app, 0.05f), kAXErrorSuccess);
  ASSERT_EQ(AXUIElementSetMessagingTimeout(system, 0.05f), kAXErrorSuccess);
  AXError own = kAXErrorSuccess;
  AXError through_system_wide = kAXErrorSuccess;
  AXError pid_result = kAXErrorFailure;
  std::thread worker([&] {
    Elapsed worker_took{};
    own = TimedCopy(app, CFSTR("AXRole"), &worker_took);
    EXPECT_GE(worker_took, std::chrono::milliseconds(50)) << "a deadlock the timeout ends";
    through_system_wide = TimedCopy(system, CFSTR("AXFocusedUIElement"), &worker_took);
    pid_t pid = 0;
    pid_result = AXUIElementGetPid(app, &pid);  // answered locally: no request to anyone
  });
  worker.join();
  EXPECT_EQ(own, kAXErrorCannotComplete);
  EXPECT_EQ(through_system_wide, kAXErrorCannotComplete)
      << "the focused application, this process, answers it";
  EXPECT_EQ(pid_result, kAXErrorSuccess);
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u) << MisuseLog();
  EXPECT_NE(LastMisuse().find("off its main thread"), std::string::npos) << LastMisuse();
  ASSERT_EQ(AXUIElementSetMessagingTimeout(system, 0), kAXErrorSuccess);
  CFRelease(app);
  CFRelease(system);
  EXPECT_EQ(desktop_sim_cf_live(), 0);
  LoadSmallDesktop();
  EXPECT_FALSE(desktop_sim_running_application_active(getpid()));
  EXPECT_TRUE(desktop_sim_running_application_active(7));
  desktop_sim_ax_begin();
  ASSERT_TRUE(desktop_sim_ax_commit(true, -1, -1));
  EXPECT_FALSE(desktop_sim_running_application_active(7)) << "nothing has the focus";
}

// A root with count button children, focused; answers the root's element number.
int32_t LoadWideDesktop(size_t count) {
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  for (size_t i = 0; i < count; ++i) {
    const int32_t child = desktop_sim_ax_add_element(("c" + std::to_string(i)).c_str());
    EXPECT_TRUE(desktop_sim_ax_add_child(root, child));
  }
  EXPECT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
  EXPECT_TRUE(desktop_sim_ax_commit(true, 7, -1));
  return root;
}

TEST_F(AxTest, CountsAndRangesOfAnArrayAttribute) {
  LoadWideDesktop(5);
  AXUIElementRef app = FocusedApplication();
  CFIndex count = -1;
  ASSERT_EQ(AXUIElementGetAttributeValueCount(app, CFSTR("AXChildren"), &count), kAXErrorSuccess);
  EXPECT_EQ(count, 5);
  CFTypeRef whole = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXChildren"), &whole), kAXErrorSuccess);
  const struct {
    CFIndex index;
    CFIndex max;
    AXError result;
    CFIndex got;
  } cases[] = {
      {0, 2, kAXErrorSuccess, 2},          {3, 10, kAXErrorSuccess, 2},
      {5, 1, kAXErrorSuccess, 0},          {6, 1, kAXErrorIllegalArgument, 0},
      {-1, 1, kAXErrorIllegalArgument, 0}, {0, 0, kAXErrorIllegalArgument, 0},
  };
  for (const auto& c : cases) {
    CFArrayRef values = nullptr;
    EXPECT_EQ(AXUIElementCopyAttributeValues(app, CFSTR("AXChildren"), c.index, c.max, &values),
              c.result)
        << c.index << "," << c.max;
    if (values == nullptr) continue;
    ASSERT_EQ(CFArrayGetCount(values), c.got);
    for (CFIndex i = 0; i < c.got; ++i) {
      EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(values, i),
                          CFArrayGetValueAtIndex(static_cast<CFArrayRef>(whole), c.index + i)));
    }
    CFRelease(values);  // and with it the borrowed items
  }
  CFRelease(whole);
  // Only an array can be counted or read in part.
  desktop_sim_ax_value no_value = Value(DESKTOP_SIM_AX_NULL);
  desktop_sim_ax_value failing = Value(DESKTOP_SIM_AX_ERROR);
  failing.error = kAXErrorFailure;
  desktop_sim_ax_begin();
  const int32_t root = desktop_sim_ax_add_element("root");
  SetString(root, "AXRole", u"AXApplication");
  Set(root, "AXValue", no_value);
  Set(root, "AXHelp", failing);
  ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
  ASSERT_TRUE(desktop_sim_ax_commit(true, 7, -1));
  CFRelease(app);
  app = FocusedApplication();
  const struct {
    CFStringRef attribute;
    AXError result;
  } others[] = {{CFSTR("AXRole"), kAXErrorIllegalArgument},
                {CFSTR("AXValue"), kAXErrorNoValue},
                {CFSTR("AXHelp"), kAXErrorFailure},
                {CFSTR("AXChildren"), kAXErrorAttributeUnsupported}};
  for (const auto& other : others) {
    CFArrayRef values = nullptr;
    EXPECT_EQ(AXUIElementGetAttributeValueCount(app, other.attribute, &count), other.result);
    EXPECT_EQ(AXUIElementCopyAttributeValues(app, other.attribute, 0, 1, &values), other.result);
    EXPECT_EQ(values, nullptr);
  }
  EXPECT_EQ(AXUIElementGetAttributeValueCount(app, CFSTR("AXChildren"), nullptr),
            kAXErrorIllegalArgument);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << "a NULL count pointer: " << MisuseLog();
  desktop_sim_reset();
  CFRelease(app);
}

TEST_F(AxTest, ALargeAnswerTakesLongerAndOneLongerThanTheTimeoutComesTooLate) {
  LoadWideDesktop(200);
  desktop_sim_ax_set_item_latency_us(10);
  AXUIElementRef app = FocusedApplication();
  desktop_sim_ax_stats before{};
  desktop_sim_ax_stats_get(&before);
  Elapsed took{};
  ASSERT_EQ(TimedCopy(app, CFSTR("AXChildren"), &took), kAXErrorSuccess);
  desktop_sim_ax_stats after{};
  desktop_sim_ax_stats_get(&after);
  EXPECT_GE(after.answer_ns - before.answer_ns, 200u * 10u * 1000u) << "10 µs per element";
  EXPECT_EQ(after.item_latency_us, 10u);
  // 2 ms of answer against a 1 ms timeout: the caller waits the timeout, the answer is lost.
  ASSERT_EQ(AXUIElementSetMessagingTimeout(app, 0.001f), kAXErrorSuccess);
  EXPECT_EQ(TimedCopy(app, CFSTR("AXChildren"), &took), kAXErrorCannotComplete);
  EXPECT_GE(took, std::chrono::milliseconds(1));
  CFArrayRef names = Names({CFSTR("AXRole"), CFSTR("AXChildren")});
  CFArrayRef values = nullptr;
  EXPECT_EQ(AXUIElementCopyMultipleAttributeValues(app, names, 0, &values), kAXErrorCannotComplete);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(AXUIElementCopyAttributeValues(app, CFSTR("AXChildren"), 0, 20, &values),
            kAXErrorSuccess)
      << "20 elements, 0.2 ms";
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(CFArrayGetCount(values), 20);
  CFRelease(values);
  CFRelease(names);
  CFRelease(app);
  ExpectBalanced();
}

TEST_F(AxTest, AChromiumLikeApplicationBuildsItsWebContentAfterTheSwitch) {
  const struct {
    const char* name;
    int64_t delay_ms;  // -1: a native application
  } cases[] = {{"chromium-like", 50}, {"native", -1}};
  for (const auto& c : cases) {
    desktop_sim_reset();
    desktop_sim_ax_begin();
    const int32_t root = desktop_sim_ax_add_element("root");
    const int32_t web = desktop_sim_ax_add_element("web");
    SetString(web, "AXRole", u"AXWebArea");
    ASSERT_TRUE(desktop_sim_ax_add_child(root, web));
    for (const char* id : {"p1", "p2"}) {
      ASSERT_TRUE(desktop_sim_ax_add_child(web, desktop_sim_ax_add_element(id)));
    }
    ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root, -1, -1));
    if (c.delay_ms >= 0) {
      ASSERT_TRUE(desktop_sim_ax_set_web_content_delay(7, c.delay_ms));
    }
    ASSERT_TRUE(desktop_sim_ax_commit(true, 7, -1));
    AXUIElementRef app = FocusedApplication();
    CFTypeRef children = nullptr;
    ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXChildren"), &children), kAXErrorSuccess);
    auto area = static_cast<AXUIElementRef>(
        CFRetain(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(children), 0)));
    CFRelease(children);
    const auto web_children = [&] {
      CFIndex count = -1;
      EXPECT_EQ(AXUIElementGetAttributeValueCount(area, CFSTR("AXChildren"), &count),
                kAXErrorSuccess);
      return count;
    };
    const bool chromium = c.delay_ms >= 0;
    EXPECT_EQ(web_children(), chromium ? 0 : 2) << c.name << ": before the switch";
    EXPECT_EQ(AXUIElementSetAttributeValue(app, CFSTR("AXEnhancedUserInterface"), kCFBooleanTrue),
              chromium ? kAXErrorSuccess : kAXErrorAttributeUnsupported)
        << c.name;
    EXPECT_EQ(web_children(), chromium ? 0 : 2) << c.name << ": only the manual switch counts";
    const auto switched = std::chrono::steady_clock::now();
    EXPECT_EQ(AXUIElementSetAttributeValue(app, CFSTR("AXManualAccessibility"), kCFBooleanTrue),
              chromium ? kAXErrorSuccess : kAXErrorAttributeUnsupported)
        << c.name;
    CFIndex count = web_children();
    while (count == 0 && std::chrono::steady_clock::now() - switched < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      count = web_children();
    }
    EXPECT_EQ(count, 2) << c.name;
    if (chromium) {
      EXPECT_GE(std::chrono::steady_clock::now() - switched, std::chrono::milliseconds(50));
      CFTypeRef flag = nullptr;
      ASSERT_EQ(AXUIElementCopyAttributeValue(app, CFSTR("AXManualAccessibility"), &flag),
                kAXErrorSuccess)
          << "the application keeps the value";
      EXPECT_EQ(flag, kCFBooleanTrue);
      CFRelease(flag);
    }
    CFRelease(area);
    CFRelease(app);
    ExpectBalanced();
  }
}

}  // namespace
}  // namespace desktop_sim_test
