// Run loops: results of a run, stops before and during a run, sources per mode.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

// A tap's port and source, the only kind of source there is.
struct SourceFixture {
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(25), PassThrough, nullptr);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  ~SourceFixture() {
    CFRelease(source);
    CFRelease(port);
  }
};

class RunLoopTest : public SimTest {};

TEST_F(RunLoopTest, AnEmptyModeFinishesAtOnceAndKeepsAPendingStop) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  EXPECT_EQ(CFRunLoopGetCurrent(), loop) << "one loop per thread";
  CFRunLoopStop(loop);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  SourceFixture fixture;
  CFRunLoopAddSource(loop, fixture.source, kCFRunLoopDefaultMode);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunStopped)
      << "the stop that arrived before the run";
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut);
  CFRunLoopRemoveSource(loop, fixture.source, kCFRunLoopDefaultMode);
}

TEST_F(RunLoopTest, AStopFromAnotherThreadEndsTheRun) {
  std::mutex mu;
  std::condition_variable cv;
  CFRunLoopRef loop = nullptr;
  CFRunLoopRunResult result = kCFRunLoopRunFinished;
  bool running = false;
  std::thread runner([&] {
    SourceFixture fixture;
    CFRunLoopRef mine = CFRunLoopGetCurrent();
    CFRunLoopAddSource(mine, fixture.source, kCFRunLoopCommonModes);
    CFRetain(mine);
    {
      std::lock_guard<std::mutex> lock(mu);
      loop = mine;
      running = true;
    }
    cv.notify_all();
    result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 60, false);
    CFRunLoopRemoveSource(mine, fixture.source, kCFRunLoopCommonModes);
  });
  {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return running; });
  }
  // Whether the stop lands before or inside the run, that run returns Stopped.
  CFRunLoopStop(loop);
  runner.join();
  EXPECT_EQ(result, kCFRunLoopRunStopped);
  CFRelease(loop);
  ExpectBalanced();
}

TEST_F(RunLoopTest, SourcesBelongToModesAndCommonModesIncludeTheDefault) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFStringRef custom = CFSTR("custom-mode");
  SourceFixture fixture;
  CFRunLoopAddSource(loop, fixture.source, custom);
  EXPECT_TRUE(CFRunLoopContainsSource(loop, fixture.source, custom));
  EXPECT_FALSE(CFRunLoopContainsSource(loop, fixture.source, kCFRunLoopDefaultMode));
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  EXPECT_EQ(CFRunLoopRunInMode(custom, 0.01, false), kCFRunLoopRunTimedOut);

  CFRunLoopAddSource(loop, fixture.source, kCFRunLoopCommonModes);
  EXPECT_TRUE(CFRunLoopContainsSource(loop, fixture.source, kCFRunLoopCommonModes));
  EXPECT_TRUE(CFRunLoopContainsSource(loop, fixture.source, kCFRunLoopDefaultMode));
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut);

  // Removing the default mode does not undo an addition to the common modes.
  CFRunLoopRemoveSource(loop, fixture.source, kCFRunLoopDefaultMode);
  EXPECT_TRUE(CFRunLoopContainsSource(loop, fixture.source, kCFRunLoopDefaultMode));
  CFRunLoopRemoveSource(loop, fixture.source, kCFRunLoopCommonModes);
  CFRunLoopRemoveSource(loop, fixture.source, custom);
  EXPECT_FALSE(CFRunLoopContainsSource(loop, fixture.source, custom));
  EXPECT_EQ(CFRunLoopRunInMode(custom, 10, false), kCFRunLoopRunFinished);
}

TEST_F(RunLoopTest, ALoopHoldsItsSourceAndASourceItsPort) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  const uint64_t objects = desktop_sim_cf_objects();
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(25), PassThrough, nullptr);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  EXPECT_EQ(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0), source)
      << "one source per port, handed out again";
  CFRelease(source);
  CFRunLoopAddSource(loop, source, kCFRunLoopCommonModes);
  CFRelease(source);
  CFRelease(port);
  EXPECT_EQ(desktop_sim_cf_live(), 0);
  EXPECT_EQ(Taps().size(), 1u) << "the tap lives while the loop holds its source";
  EXPECT_TRUE(CFMachPortIsValid(port));
  CFRunLoopRemoveSource(loop, source, kCFRunLoopCommonModes);
  EXPECT_EQ(Taps().size(), 0u);
  EXPECT_EQ(desktop_sim_cf_objects(), objects);
  ExpectBalanced();
}

TEST_F(RunLoopTest, InvalidatingThePortTakesItsSourceOutOfEveryLoop) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  SourceFixture fixture;
  CFRunLoopAddSource(loop, fixture.source, kCFRunLoopCommonModes);
  CFMachPortInvalidate(fixture.port);
  EXPECT_FALSE(CFMachPortIsValid(fixture.port));
  EXPECT_FALSE(CFRunLoopSourceIsValid(fixture.source));
  EXPECT_FALSE(CFRunLoopContainsSource(loop, fixture.source, kCFRunLoopCommonModes));
  EXPECT_EQ(Taps().size(), 0u);
  CFRunLoopRemoveSource(loop, fixture.source, kCFRunLoopCommonModes);  // harmless now
  EXPECT_EQ(desktop_sim_cf_misuse(), 0u);
}

}  // namespace
}  // namespace desktop_sim_test
