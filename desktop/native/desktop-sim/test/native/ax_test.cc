// The accessibility desktop driven through the C API: values of every kind, element identity,
// arrays and their borrowed items, permission, replaced desktops, logs and latency.
#include <desktop_sim/running_application.h>

#include <string>
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

  // An application (pid 7) whose root has one child "field", focused.
  void LoadSmallDesktop(bool trusted = true) {
    desktop_sim_ax_begin();
    root_ = desktop_sim_ax_add_element("root");
    field_ = desktop_sim_ax_add_element("field");
    SetString(root_, "AXRole", u"AXApplication");
    SetString(field_, "AXRole", u"AXTextField");
    ASSERT_TRUE(desktop_sim_ax_add_child(root_, field_));
    ASSERT_TRUE(desktop_sim_ax_add_application(7, "Seven", nullptr, true, root_, field_, -1));
    ASSERT_TRUE(desktop_sim_ax_commit(trusted, 7, -1));
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

}  // namespace
}  // namespace desktop_sim_test
