// The reference ledger: owned and borrowed references, immortal constants, and every kind of
// misuse being counted and explained.
#include <cstring>
#include <functional>
#include <thread>

#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

class LedgerTest : public SimTest {};

TEST_F(LedgerTest, CreateRetainAndReleaseMoveTheLedger) {
  const uint64_t objects = desktop_sim_cf_objects();
  CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "ledger", kCFStringEncodingUTF8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(desktop_sim_cf_live(), 1);
  EXPECT_EQ(desktop_sim_cf_objects(), objects + 1);
  EXPECT_EQ(CFRetain(s), s);
  EXPECT_EQ(desktop_sim_cf_live(), 2);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  CFRelease(s);
  EXPECT_EQ(desktop_sim_cf_objects(), objects);
  ExpectBalanced();
}

TEST_F(LedgerTest, ALeakedRetainOfTheBorrowedRunLoopShowsAsOne) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  EXPECT_EQ(desktop_sim_cf_live(), 0) << "CFRunLoopGetCurrent is borrowed";
  CFRetain(loop);
  EXPECT_EQ(desktop_sim_cf_live(), 1);
  CFRelease(loop);
  ExpectBalanced();
}

TEST_F(LedgerTest, ConstantsAreImmortalAndUncounted) {
  CFStringRef a = CFSTR("constant text");
  EXPECT_EQ(a, CFSTR("constant text")) << "interned by content";
  CFTypeRef immortals[] = {a,
                           kCFBooleanTrue,
                           kCFBooleanFalse,
                           kCFAllocatorDefault,
                           kCFRunLoopDefaultMode,
                           kCFRunLoopCommonModes};
  for (CFTypeRef object : immortals) {
    for (int i = 0; i < 3; ++i) CFRetain(object);
    for (int i = 0; i < 3; ++i) CFRelease(object);
  }
  EXPECT_EQ(CFStringGetLength(a), 13);
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
  EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
  ExpectBalanced();
}

TEST_F(LedgerTest, TypeIdsAreDistinct) {
  CFMachPortRef port = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                        kCGEventTapOptionDefault, 1u << 25, PassThrough, nullptr);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  const CFTypeID ids[] = {
      CFGetTypeID(CFSTR("x")), CFGetTypeID(kCFBooleanTrue), CFGetTypeID(CFRunLoopGetCurrent()),
      CFGetTypeID(source),     CFGetTypeID(port),           CFGetTypeID(kCFAllocatorDefault)};
  EXPECT_EQ(ids[0], CFStringGetTypeID());
  EXPECT_EQ(ids[2], CFRunLoopGetTypeID());
  EXPECT_EQ(ids[3], CFRunLoopSourceGetTypeID());
  EXPECT_EQ(ids[4], CFMachPortGetTypeID());
  for (size_t i = 0; i < std::size(ids); ++i) {
    EXPECT_NE(ids[i], 0u);
    for (size_t j = i + 1; j < std::size(ids); ++j) EXPECT_NE(ids[i], ids[j]) << i << " " << j;
  }
  CFRelease(source);
  CFRelease(port);
  ExpectBalanced();
}

struct MisuseCase {
  const char* name;
  std::function<void()> misuse;
  const char* log_contains;
};

TEST_F(LedgerTest, EveryMisuseIsCountedAndExplained) {
  static int not_an_object = 0;
  const MisuseCase cases[] = {
      {"release of NULL", [] { CFRelease(nullptr); }, "CFRelease: NULL"},
      {"retain of NULL", [] { CFRetain(nullptr); }, "CFRetain: NULL"},
      {"release of a freed object",
       [] {
         CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
         CFRelease(s);
         CFRelease(s);
       },
       "already freed by CFRelease"},
      {"retain of a freed object",
       [] {
         CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
         CFRelease(s);
         CFRetain(s);
       },
       "CFRetain"},
      {"over-release of the borrowed run loop", [] { CFRelease(CFRunLoopGetCurrent()); },
       "over-release"},
      {"use after free",
       [] {
         CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
         CFRelease(s);
         CFStringGetLength(s);
       },
       "CFStringGetLength"},
      {"a pointer that is no object", [] { CFRelease(&not_an_object); }, "no object"},
      {"an object of the wrong type",
       [] { CFRunLoopStop(reinterpret_cast<CFRunLoopRef>(const_cast<__CFString*>(CFSTR("x")))); },
       "not a CFRunLoop"},
      {"running the common modes", [] { CFRunLoopRunInMode(kCFRunLoopCommonModes, 0, false); },
       "kCFRunLoopCommonModes"},
      {"a tap without callback",
       [] {
         CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                          1u << 25, nullptr, nullptr);
       },
       "NULL callback"},
  };
  for (const MisuseCase& c : cases) {
    desktop_sim_reset();
    c.misuse();
    EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << c.name << "\n" << MisuseLog();
    EXPECT_NE(LastMisuse().find(c.log_contains), std::string::npos)
        << c.name << ": " << LastMisuse();
    EXPECT_EQ(desktop_sim_cf_live(), 0) << c.name;
  }
}

TEST_F(LedgerTest, AnOverReleaseDoesNotFreeWhatTheSystemHolds) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFRelease(loop);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  CFRunLoopWakeUp(loop);  // still this thread's loop
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false), kCFRunLoopRunFinished);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << MisuseLog();
  EXPECT_EQ(CFGetTypeID(loop), CFRunLoopGetTypeID());
}

TEST_F(LedgerTest, AThreadsRunLoopDiesWithTheThreadUnlessRetained) {
  CFRunLoopRef orphan = nullptr;
  CFRunLoopRef kept = nullptr;
  std::thread([&] { orphan = CFRunLoopGetCurrent(); }).join();
  std::thread([&] {
    kept = static_cast<CFRunLoopRef>(const_cast<void*>(CFRetain(CFRunLoopGetCurrent())));
  }).join();
  CFRunLoopStop(kept);  // alive: the program still holds it
  EXPECT_EQ(desktop_sim_cf_misuse(), 0u) << MisuseLog();
  CFRelease(kept);
  CFRunLoopStop(orphan);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  EXPECT_NE(LastMisuse().find("freed by thread exit"), std::string::npos) << LastMisuse();
  CFRunLoopStop(kept);
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u);
  EXPECT_NE(LastMisuse().find("freed by CFRelease"), std::string::npos) << LastMisuse();
  EXPECT_EQ(desktop_sim_cf_live(), 0);
}

TEST_F(LedgerTest, ResetTakesANewBaseline) {
  CFStringRef leaked = CFStringCreateWithCString(nullptr, "leak", kCFStringEncodingUTF8);
  CFRelease(nullptr);
  EXPECT_EQ(desktop_sim_cf_live(), 1);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  desktop_sim_reset();
  ExpectBalanced();
  CFRetain(leaked);
  EXPECT_EQ(desktop_sim_cf_live(), 1) << "taken after the reset";
  CFRelease(leaked);
  CFRelease(leaked);  // the reference from before the reset: not this ledger's
  ExpectBalanced();
  CFRelease(leaked);
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u) << "freed now";
}

}  // namespace
}  // namespace desktop_sim_test
