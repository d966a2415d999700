// Run loops: results of a run, stops between and during runs, signalled sources, sources per
// mode.
#include <chrono>
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

// A version-0 source that counts its performs and, when asked, stops the loop it runs in.
struct Signalled {
  int performs = 0;
  bool stop_inside = false;
  std::mutex mu;
  std::condition_variable cv;
  static void Perform(void* info) {
    auto* self = static_cast<Signalled*>(info);
    if (self->stop_inside) CFRunLoopStop(CFRunLoopGetCurrent());
    std::lock_guard<std::mutex> lock(self->mu);
    self->performs++;
    self->cv.notify_all();
  }
  CFRunLoopSourceRef Create(CFIndex order = 0) {
    CFRunLoopSourceContext context{};
    context.info = this;
    context.perform = Perform;
    return CFRunLoopSourceCreate(kCFAllocatorDefault, order, &context);
  }
  int Performs() {
    std::lock_guard<std::mutex> lock(mu);
    return performs;
  }
  bool WaitPerforms(int count) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return performs >= count; });
  }
};

TEST_F(RunLoopTest, AStopBetweenRunsIsLostAndAnEmptyModeFinishesAtOnce) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  EXPECT_EQ(CFRunLoopGetCurrent(), loop) << "one loop per thread";
  CFRunLoopStop(loop);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  SourceFixture fixture;
  CFRunLoopAddSource(loop, fixture.source, kCFRunLoopDefaultMode);
  CFRunLoopStop(loop);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut)
      << "no run was in progress, so the stop did nothing";
  CFRunLoopSourceSignal(fixture.source);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut)
      << "a tap's source is no version-0 source: a signal has nothing to perform";
  CFRunLoopRemoveSource(loop, fixture.source, kCFRunLoopDefaultMode);
}

TEST_F(RunLoopTest, ASignalWaitsForARunAndPerformCanStopThatRun) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  Signalled signalled;
  CFRunLoopSourceRef source = signalled.Create();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(CFGetTypeID(source), CFRunLoopSourceGetTypeID());
  CFRunLoopSourceSignal(source);  // before the source is in any loop: still pending
  CFRunLoopAddSource(loop, source, kCFRunLoopCommonModes);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunHandledSource);
  EXPECT_EQ(signalled.Performs(), 1);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true), kCFRunLoopRunTimedOut)
      << "one signal, one perform";

  signalled.stop_inside = true;
  CFRunLoopSourceSignal(source);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 60, false), kCFRunLoopRunStopped);
  EXPECT_EQ(signalled.Performs(), 2);

  CFRunLoopSourceSignal(source);
  CFRunLoopSourceInvalidate(source);
  EXPECT_FALSE(CFRunLoopSourceIsValid(source));
  EXPECT_FALSE(CFRunLoopContainsSource(loop, source, kCFRunLoopCommonModes));
  EXPECT_EQ(signalled.Performs(), 2) << "an invalidated source is never performed";
  CFRelease(source);
  ExpectBalanced();
}

TEST_F(RunLoopTest, ASignalAndWakeUpFromAnotherThreadReachARunInEveryInterleaving) {
  // The runner runs short slices back to back, so the signal lands inside a wait, inside a run
  // or between two runs; perform stops the run it finds itself in each time.
  constexpr int kRounds = 200;
  Signalled signalled;
  signalled.stop_inside = true;
  CFRunLoopSourceRef source = signalled.Create();
  std::mutex mu;
  std::condition_variable cv;
  CFRunLoopRef loop = nullptr;
  int stopped_runs = 0;
  bool done = false;
  std::thread runner([&] {
    CFRunLoopRef mine = CFRunLoopGetCurrent();
    CFRunLoopAddSource(mine, source, kCFRunLoopDefaultMode);
    CFRetain(mine);
    {
      std::lock_guard<std::mutex> lock(mu);
      loop = mine;
    }
    cv.notify_all();
    for (;;) {
      const CFRunLoopRunResult result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.002, false);
      std::lock_guard<std::mutex> lock(mu);
      if (result == kCFRunLoopRunStopped) stopped_runs++;
      if (done) break;
    }
    CFRunLoopRemoveSource(mine, source, kCFRunLoopDefaultMode);
  });
  {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return loop != nullptr; });
  }
  for (int round = 1; round <= kRounds; ++round) {
    CFRunLoopSourceSignal(source);
    CFRunLoopWakeUp(loop);
    ASSERT_TRUE(signalled.WaitPerforms(round)) << "signal " << round << " was lost";
  }
  {
    std::lock_guard<std::mutex> lock(mu);
    done = true;
  }
  runner.join();
  EXPECT_EQ(signalled.Performs(), kRounds);
  EXPECT_EQ(stopped_runs, kRounds) << "each perform stopped exactly the run it ran in";
  CFRelease(loop);
  CFRelease(source);
  ExpectBalanced();
}

TEST_F(RunLoopTest, SourceCreationRefusesWhatIsNotModelled) {
  EXPECT_EQ(CFRunLoopSourceCreate(kCFAllocatorDefault, 0, nullptr), nullptr);
  CFRunLoopSourceContext version1{};
  version1.version = 1;
  EXPECT_EQ(CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &version1), nullptr);
  EXPECT_NE(LastMisuse().find("version 1"), std::string::npos) << LastMisuse();
  EXPECT_EQ(desktop_sim_cf_misuse(), 2u);
  EXPECT_EQ(desktop_sim_cf_live(), 0);
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
