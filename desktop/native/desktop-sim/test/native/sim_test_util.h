// Helpers shared by the native suites.
#ifndef DESKTOP_SIM_TEST_NATIVE_SIM_TEST_UTIL_H_
#define DESKTOP_SIM_TEST_NATIVE_SIM_TEST_UTIL_H_

#include <ApplicationServices/ApplicationServices.h>
#include <desktop_sim/control.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace desktop_sim_test {

// Every test starts on a fresh desktop and must leave the ledger where it found it, unless it
// says otherwise.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { desktop_sim_reset(); }
  void ExpectBalanced() {
    EXPECT_EQ(desktop_sim_cf_live(), 0);
    EXPECT_EQ(desktop_sim_cf_misuse(), 0u) << MisuseLog();
  }
  static std::string MisuseLog() {
    std::string all;
    for (size_t i = 0;; ++i) {
      char text[1024];
      if (desktop_sim_cf_misuse_text(i, text, sizeof text) == 0) break;
      all += text;
      all += '\n';
    }
    return all;
  }
  static std::string LastMisuse() {
    std::string last;
    for (size_t i = 0;; ++i) {
      char text[1024];
      if (desktop_sim_cf_misuse_text(i, text, sizeof text) == 0) break;
      last = text;
    }
    return last;
  }
};

inline desktop_sim_event Button(uint32_t type, int64_t button) {
  desktop_sim_event event{};
  event.type = type;
  event.button = button;
  return event;
}

inline CGEventRef PassThrough(CGEventTapProxy, CGEventType, CGEventRef event, void*) {
  return event;
}

inline std::vector<desktop_sim_tap_info> Taps() {
  std::vector<desktop_sim_tap_info> taps(desktop_sim_taps(nullptr, 0));
  taps.resize(desktop_sim_taps(taps.data(), taps.size()));
  return taps;
}

}  // namespace desktop_sim_test

#endif  // DESKTOP_SIM_TEST_NATIVE_SIM_TEST_UTIL_H_
