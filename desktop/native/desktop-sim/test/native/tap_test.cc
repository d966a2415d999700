// Event taps: delivery on the thread whose loop holds the tap, tap order and verdicts, the
// system disabling taps, and taps going away while an event waits for them.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "probe_tap.h"
#include "sim_test_util.h"

namespace desktop_sim_test {
namespace {

using desktop_sim_fixture::ProbeOptions;
using desktop_sim_fixture::ProbeTap;
using desktop_sim_fixture::Verdict;

constexpr int kBound = 10000;  // generous bound of every wait, in ms

constexpr uint32_t kDown = kCGEventOtherMouseDown;
constexpr uint32_t kUp = kCGEventOtherMouseUp;

class TapTest : public SimTest {
 protected:
  std::unique_ptr<ProbeTap> StartProbe(ProbeOptions options = {}) {
    auto probe = std::make_unique<ProbeTap>(options);
    EXPECT_TRUE(probe->Start());
    return probe;
  }
};

TEST_F(TapTest, EventsReachTheCallbackOnTheTapThreadWithTheirFields) {
  auto probe = StartProbe();
  desktop_sim_event event{};
  event.type = kDown;
  event.button = 3;
  event.flags = kCGEventFlagMaskSecondaryFn;
  event.keycode = 54;
  event.x = 12.5;
  event.y = -3;
  EXPECT_TRUE(desktop_sim_hid_send(&event));
  const auto calls = probe->Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].type, kDown);
  EXPECT_EQ(calls[0].button, 3);
  EXPECT_EQ(calls[0].keycode, 54);
  EXPECT_EQ(calls[0].flags, kCGEventFlagMaskSecondaryFn);
  EXPECT_EQ(calls[0].x, 12.5);
  EXPECT_EQ(calls[0].y, -3);
  EXPECT_TRUE(calls[0].on_probe_thread);
  probe->Stop();
  ExpectBalanced();
}

TEST_F(TapTest, TheMaskChoosesWhatTheTapSees) {
  auto probe = StartProbe();  // other-mouse down and up only
  const desktop_sim_event unwanted[] = {Button(kCGEventLeftMouseDown, 0),
                                        Button(kCGEventFlagsChanged, 0),
                                        Button(kCGEventOtherMouseDragged, 3)};
  for (const desktop_sim_event& event : unwanted) EXPECT_TRUE(desktop_sim_hid_send(&event));
  EXPECT_TRUE(probe->Calls().empty());
  EXPECT_EQ(desktop_sim_app_event_count(), 3u);
}

struct OrderCase {
  const char* name;
  CGEventTapLocation first_location;
  CGEventTapPlacement first_placement;
  CGEventTapLocation second_location;
  CGEventTapPlacement second_placement;
  bool second_sees_first;  // expected order: the second-made tap comes first
};

TEST_F(TapTest, TapOrderFollowsLocationAndPlacement) {
  const OrderCase cases[] = {
      {"head insert goes in front", kCGSessionEventTap, kCGHeadInsertEventTap, kCGSessionEventTap,
       kCGHeadInsertEventTap, true},
      {"tail append goes behind", kCGSessionEventTap, kCGHeadInsertEventTap, kCGSessionEventTap,
       kCGTailAppendEventTap, false},
      {"nearer the hardware first", kCGSessionEventTap, kCGHeadInsertEventTap, kCGHIDEventTap,
       kCGTailAppendEventTap, true},
      {"later location behind", kCGHIDEventTap, kCGTailAppendEventTap, kCGSessionEventTap,
       kCGHeadInsertEventTap, false},
  };
  for (const OrderCase& c : cases) {
    desktop_sim_reset();
    ProbeOptions first_options;
    first_options.location = c.first_location;
    first_options.placement = c.first_placement;
    first_options.verdict = Verdict::kRemove;
    ProbeOptions second_options = first_options;
    second_options.location = c.second_location;
    second_options.placement = c.second_placement;
    auto first = StartProbe(first_options);
    auto second = StartProbe(second_options);
    const auto taps = Taps();
    ASSERT_EQ(taps.size(), 2u);
    EXPECT_EQ(taps[0].location, c.second_sees_first ? c.second_location : c.first_location)
        << c.name;
    // The front tap removes the event: the one behind never sees it.
    const desktop_sim_event event = Button(kDown, 3);
    EXPECT_FALSE(desktop_sim_hid_send(&event)) << c.name;
    EXPECT_EQ(second->Calls().size(), c.second_sees_first ? 1u : 0u) << c.name;
    EXPECT_EQ(first->Calls().size(), c.second_sees_first ? 0u : 1u) << c.name;
  }
}

TEST_F(TapTest, VerdictsPassOrRemoveAndChangesReachTheApplications) {
  ProbeOptions options;
  options.stamp = 77;
  auto probe = StartProbe(options);
  const desktop_sim_event down = Button(kDown, 4);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  probe->SetVerdict(Verdict::kRemove);
  EXPECT_FALSE(desktop_sim_hid_send(&down));
  EXPECT_EQ(desktop_sim_hid_send_many(&down, 1000), 0u);
  probe->SetVerdict(Verdict::kPass);
  EXPECT_EQ(desktop_sim_hid_send_many(&down, 5000), 5000u);
  EXPECT_EQ(probe->Calls().size(), 1u + 1u + 1000u + 5000u);
  EXPECT_EQ(desktop_sim_app_event_count(), 5001u);
  probe->Stop();
  ExpectBalanced();
}

TEST_F(TapTest, ListenOnlyTapsSeeEventsButCannotRemoveThem) {
  ProbeOptions options;
  options.options = kCGEventTapOptionListenOnly;
  options.verdict = Verdict::kRemove;
  auto probe = StartProbe(options);
  const desktop_sim_event down = Button(kDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  EXPECT_EQ(probe->Calls().size(), 1u);
}

TEST_F(TapTest, ARefusedTapIsNullAndResetEndsTheRefusal) {
  desktop_sim_refuse_taps(true);
  EXPECT_EQ(CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             CGEventMaskBit(25), PassThrough, nullptr),
            nullptr);
  ProbeTap probe{ProbeOptions{}};
  EXPECT_FALSE(probe.Start());
  EXPECT_TRUE(Taps().empty());
  ExpectBalanced();
  desktop_sim_reset();
  EXPECT_FALSE(desktop_sim_taps_refused());
  CFMachPortRef port =
      CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(25), PassThrough, nullptr);
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(CGEventTapIsEnabled(port)) << "a new tap is enabled";
  CFRelease(port);
  ExpectBalanced();
}

TEST_F(TapTest, ASlowCallbackGetsTheTapDisabledAndIsToldSo) {
  desktop_sim_set_tap_timeout_ms(50);
  ProbeOptions options;
  options.verdict = Verdict::kBlock;
  options.reenable = false;
  auto probe = StartProbe(options);
  const desktop_sim_event down = Button(kDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down)) << "the event passes when the tap times out";
  EXPECT_FALSE(Taps()[0].enabled);
  EXPECT_TRUE(desktop_sim_hid_send(&down)) << "a disabled tap is skipped";
  probe->SetVerdict(Verdict::kPass);
  probe->Unblock();
  ASSERT_TRUE(probe->WaitCalls(2, kBound));
  const auto calls = probe->Calls();
  EXPECT_EQ(calls[1].type, kCGEventTapDisabledByTimeout);
  EXPECT_TRUE(calls[1].on_probe_thread);
  EXPECT_FALSE(Taps()[0].enabled);
  EXPECT_EQ(calls.size(), 2u);
  probe->Stop();
  ExpectBalanced();
}

TEST_F(TapTest, ALoopNobodyRunsTimesOutAndTheTapReenablesItself) {
  desktop_sim_set_tap_timeout_ms(50);
  auto probe = StartProbe();  // re-enables on notification
  probe->Pause(true);
  const desktop_sim_event down = Button(kDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  EXPECT_FALSE(Taps()[0].enabled);
  EXPECT_TRUE(probe->Calls().empty());
  probe->Pause(false);
  ASSERT_TRUE(probe->WaitCalls(1, kBound));
  EXPECT_EQ(probe->Calls()[0].type, kCGEventTapDisabledByTimeout);
  ASSERT_TRUE(desktop_sim_settle(kBound));
  EXPECT_TRUE(Taps()[0].enabled);
  desktop_sim_set_tap_timeout_ms(DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  EXPECT_EQ(probe->Calls().size(), 2u);
  EXPECT_EQ(probe->Calls()[1].type, kDown);
}

TEST_F(TapTest, DisableTapsNotifiesEveryEnabledTapBeforeReturning) {
  struct Reason {
    desktop_sim_disable_reason reason;
    uint32_t type;
  };
  const Reason reasons[] = {{DESKTOP_SIM_DISABLE_TIMEOUT, kCGEventTapDisabledByTimeout},
                            {DESKTOP_SIM_DISABLE_USER_INPUT, kCGEventTapDisabledByUserInput}};
  for (const Reason& r : reasons) {
    desktop_sim_reset();
    auto reenabling = StartProbe();
    ProbeOptions stays_off;
    stays_off.reenable = false;
    auto passive = StartProbe(stays_off);
    EXPECT_EQ(desktop_sim_hid_disable_taps(r.reason), 2u);
    ASSERT_EQ(reenabling->Calls().size(), 1u);
    EXPECT_EQ(reenabling->Calls()[0].type, r.type);
    ASSERT_EQ(passive->Calls().size(), 1u);
    EXPECT_EQ(passive->Calls()[0].type, r.type);
    const auto taps = Taps();  // passive was made last, so it is in front
    EXPECT_FALSE(taps[0].enabled);
    EXPECT_TRUE(taps[1].enabled);
    EXPECT_EQ(desktop_sim_hid_disable_taps(r.reason), 1u) << "only enabled taps are disabled";
  }
}

// A tap made on this thread, its source in the loop of a thread that never runs it: whatever is
// sent to it waits until the tap goes away.
class UnservicedTap {
 public:
  UnservicedTap() {
    port_ = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             CGEventMaskBit(kDown), PassThrough, nullptr);
    source_ = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port_, 0);
    std::promise<CFRunLoopRef> loop;
    idle_ = std::thread([&] {
      CFRunLoopRef mine = CFRunLoopGetCurrent();
      CFRetain(mine);
      loop.set_value(mine);
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return done_; });
    });
    loop_ = loop.get_future().get();
    CFRunLoopAddSource(loop_, source_, kCFRunLoopCommonModes);
  }
  ~UnservicedTap() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      done_ = true;
    }
    cv_.notify_all();
    idle_.join();
    CFRelease(loop_);
  }
  CFMachPortRef port_;
  CFRunLoopSourceRef source_;
  CFRunLoopRef loop_;

 private:
  std::thread idle_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
};

TEST_F(TapTest, ATapThatGoesAwayWhileAnEventWaitsLetsItPass) {
  desktop_sim_set_tap_timeout_ms(600000);  // only the tap's end can release the sender
  enum class Ending { kRemoveSource, kInvalidatePort, kReleaseAll, kReset };
  for (Ending ending :
       {Ending::kRemoveSource, Ending::kInvalidatePort, Ending::kReleaseAll, Ending::kReset}) {
    desktop_sim_reset();
    desktop_sim_set_tap_timeout_ms(600000);
    auto tap = std::make_unique<UnservicedTap>();
    auto sent = std::async(std::launch::async, [] {
      const desktop_sim_event down = Button(kDown, 3);
      return desktop_sim_hid_send(&down);
    });
    ASSERT_TRUE(desktop_sim_wait_queued(1, kBound));
    switch (ending) {
      case Ending::kRemoveSource:
        CFRunLoopRemoveSource(tap->loop_, tap->source_, kCFRunLoopCommonModes);
        break;
      case Ending::kInvalidatePort:
        CFMachPortInvalidate(tap->port_);
        break;
      case Ending::kReleaseAll:
        CFRunLoopRemoveSource(tap->loop_, tap->source_, kCFRunLoopCommonModes);
        CFRelease(tap->source_);
        CFRelease(tap->port_);
        break;
      case Ending::kReset:
        desktop_sim_reset();
        break;
    }
    ASSERT_EQ(sent.wait_for(std::chrono::milliseconds(kBound)), std::future_status::ready);
    EXPECT_TRUE(sent.get());
    if (ending != Ending::kReleaseAll) {
      CFRunLoopRemoveSource(tap->loop_, tap->source_, kCFRunLoopCommonModes);
      CFRelease(tap->source_);
      CFRelease(tap->port_);
    }
    tap.reset();
    EXPECT_TRUE(Taps().empty());
    EXPECT_EQ(desktop_sim_cf_misuse(), 0u) << MisuseLog();
    EXPECT_TRUE(desktop_sim_settle(kBound));
  }
}

TEST_F(TapTest, ResetKillsTapsAndLeavesTheirPortsHarmless) {
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(kDown), PassThrough, nullptr);
  desktop_sim_refuse_taps(true);
  desktop_sim_set_tap_timeout_ms(5);
  desktop_sim_reset();
  EXPECT_TRUE(Taps().empty());
  EXPECT_FALSE(desktop_sim_taps_refused());
  EXPECT_EQ(desktop_sim_tap_timeout_ms(),
            static_cast<uint32_t>(DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS));
  EXPECT_FALSE(CFMachPortIsValid(port));
  CGEventTapEnable(port, true);
  EXPECT_FALSE(CGEventTapIsEnabled(port));
  CFRelease(port);
  EXPECT_EQ(desktop_sim_cf_misuse(), 0u) << MisuseLog();
}

CGEventRef SendFromInside(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
  auto* depth = static_cast<int*>(info);
  if (type == kCGEventOtherMouseDown && ++*depth == 1) {
    const desktop_sim_event nested = Button(kCGEventOtherMouseUp, 3);
    EXPECT_FALSE(desktop_sim_hid_send(&nested)) << "the up event is removed, inline";
  }
  return type == kCGEventOtherMouseUp ? nullptr : event;
}

TEST_F(TapTest, ASendOnTheTapsOwnThreadCallsTheCallbackInline) {
  int depth = 0;
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(kDown) | CGEventMaskBit(kUp), SendFromInside, &depth);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  CFRunLoopAddSource(loop, source, kCFRunLoopCommonModes);
  const desktop_sim_event down = Button(kDown, 3);
  const desktop_sim_event up = Button(kUp, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  EXPECT_FALSE(desktop_sim_hid_send(&up));
  EXPECT_EQ(depth, 1);
  EXPECT_EQ(desktop_sim_hid_disable_taps(DESKTOP_SIM_DISABLE_USER_INPUT), 1u);
  CFRunLoopRemoveSource(loop, source, kCFRunLoopCommonModes);
  CFRelease(source);
  CFRelease(port);
  ExpectBalanced();
}

CGEventRef ReturnsAString(CGEventTapProxy, CGEventType, CGEventRef, void*) {
  return reinterpret_cast<CGEventRef>(const_cast<__CFString*>(CFSTR("not an event")));
}

TEST_F(TapTest, ACallbackReturningANonEventIsMisuseAndTheEventPasses) {
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       CGEventMaskBit(kDown), ReturnsAString, nullptr);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  CFRunLoopAddSource(loop, source, kCFRunLoopDefaultMode);
  const desktop_sim_event down = Button(kDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  EXPECT_EQ(desktop_sim_cf_misuse(), 1u);
  EXPECT_NE(LastMisuse().find("not a CGEvent"), std::string::npos) << LastMisuse();
  CFRunLoopRemoveSource(loop, source, kCFRunLoopDefaultMode);
  CFRelease(source);
  CFRelease(port);
}

TEST_F(TapTest, ARunThatReturnsAfterASourceHandlesOneEvent) {
  std::promise<CFRunLoopRunResult> result;
  std::atomic<bool> ready{false};
  std::thread runner([&] {
    int calls = 0;
    CFMachPortRef port = CGEventTapCreate(
        kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, CGEventMaskBit(kDown),
        [](CGEventTapProxy, CGEventType, CGEventRef event, void* info) {
          ++*static_cast<int*>(info);
          return event;
        },
        &calls);
    CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
    ready = true;
    result.set_value(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kBound / 1000.0, true));
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
    CFRelease(source);
    CFRelease(port);
    EXPECT_EQ(calls, 1);
  });
  while (!ready) std::this_thread::yield();
  const desktop_sim_event down = Button(kDown, 3);
  EXPECT_TRUE(desktop_sim_hid_send(&down));
  auto future = result.get_future();
  EXPECT_EQ(future.get(), kCFRunLoopRunHandledSource);
  runner.join();
  ExpectBalanced();
}

TEST_F(TapTest, AStreamOfEventsCostsNoMemoryOnceDelivered) {
  auto probe = StartProbe();
  const desktop_sim_event down = Button(kDown, 3);
  desktop_sim_hid_send_many(&down, 2000);  // fills the small quarantine of the HID's events
  const uint64_t objects = desktop_sim_cf_objects();
  EXPECT_EQ(desktop_sim_hid_send_many(&down, 100000), 100000u);
  EXPECT_EQ(desktop_sim_cf_objects(), objects);
  probe->Stop();
  ExpectBalanced();
}

namespace stop_tests {

struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  bool inside = false;
  bool release = false;
  int calls = 0;
};

CGEventRef HoldUntilReleased(CGEventTapProxy, CGEventType, CGEventRef event, void* info) {
  auto* gate = static_cast<Gate*>(info);
  std::unique_lock<std::mutex> lock(gate->mu);
  gate->calls++;
  gate->inside = true;
  gate->cv.notify_all();
  gate->cv.wait_for(lock, std::chrono::milliseconds(kBound), [&] { return gate->release; });
  return event;
}

CGEventRef StopOwnLoopAtFirst(CGEventTapProxy, CGEventType, CGEventRef event, void* info) {
  auto* gate = static_cast<Gate*>(info);
  if (++gate->calls == 1) CFRunLoopStop(CFRunLoopGetCurrent());
  return event;
}

// Runs body(loop) on a thread of its own with a tap whose callback is the given one.
template <typename Body>
void OnTapThread(CGEventTapCallBack callback, Gate* gate, CFRunLoopRef* loop_out, Body body) {
  std::promise<CFRunLoopRef> loop;
  std::thread runner([&] {
    CFMachPortRef port =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                         CGEventMaskBit(kDown), callback, gate);
    CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
    CFRunLoopRef mine = CFRunLoopGetCurrent();
    CFRetain(mine);
    CFRunLoopAddSource(mine, source, kCFRunLoopCommonModes);
    loop.set_value(mine);
    body(mine);
    CFRunLoopRemoveSource(mine, source, kCFRunLoopCommonModes);
    CFRelease(source);
    CFRelease(port);
  });
  *loop_out = loop.get_future().get();
  runner.join();
  CFRelease(*loop_out);
}

TEST_F(TapTest, AStopDuringACallbackEndsTheRunOnceTheCallbackReturns) {
  Gate gate;
  CFRunLoopRunResult result = kCFRunLoopRunFinished;
  std::future<bool> sent;
  CFRunLoopRef loop = nullptr;
  OnTapThread(HoldUntilReleased, &gate, &loop, [&](CFRunLoopRef mine) {
    sent = std::async(std::launch::async, [] {
      const desktop_sim_event down = Button(kDown, 3);
      return desktop_sim_hid_send(&down);
    });
    std::thread stopper([&] {
      // Once the callback runs, the run is certainly under way: stop it from here.
      std::unique_lock<std::mutex> lock(gate.mu);
      gate.cv.wait_for(lock, std::chrono::milliseconds(kBound), [&] { return gate.inside; });
      CFRunLoopStop(mine);
      gate.release = true;
      gate.cv.notify_all();
    });
    result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, kBound / 1000.0, false);
    stopper.join();
  });
  EXPECT_EQ(result, kCFRunLoopRunStopped);
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(gate.calls, 1);
  ExpectBalanced();
}

TEST_F(TapTest, EventsLeftWhenARunStopsWaitForTheNextRun) {
  Gate gate;
  CFRunLoopRunResult first = kCFRunLoopRunFinished;
  int calls_after_first = -1;
  uint64_t reached = 0;
  CFRunLoopRef loop = nullptr;
  OnTapThread(StopOwnLoopAtFirst, &gate, &loop, [&](CFRunLoopRef) {
    auto sent = std::async(std::launch::async, [] {
      const desktop_sim_event down = Button(kDown, 3);
      return desktop_sim_hid_send_many(&down, 10);
    });
    EXPECT_TRUE(desktop_sim_wait_queued(1, kBound));
    first = CFRunLoopRunInMode(kCFRunLoopDefaultMode, kBound / 1000.0, false);
    calls_after_first = gate.calls;
    while (gate.calls < 10) {
      if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, kBound / 1000.0, true) !=
          kCFRunLoopRunHandledSource) {
        break;
      }
    }
    reached = sent.get();
  });
  EXPECT_EQ(first, kCFRunLoopRunStopped);
  EXPECT_EQ(calls_after_first, 1) << "the stop ends the run after the event being handled";
  EXPECT_EQ(gate.calls, 10);
  EXPECT_EQ(reached, 10u);
  ExpectBalanced();
}

}  // namespace stop_tests

}  // namespace
}  // namespace desktop_sim_test
