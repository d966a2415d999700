// The control surface: what tests use to play the user and the system.
#include "world/internal.h"

#include <algorithm>
#include <cstring>

using desktop_sim::Lock;
using desktop_sim::S;

void desktop_sim_reset(void) {
  Lock lock(S().mu);
  desktop_sim::State& s = S();
  // The old desktop's taps die and their ports turn invalid. Their run-loop sources stay in
  // whatever loops hold them (never firing), so a thread running such a loop keeps waiting
  // rather than finding its mode empty and spinning.
  const std::vector<std::shared_ptr<desktop_sim::Tap>> taps = s.taps;
  for (const std::shared_ptr<desktop_sim::Tap>& tap : taps) {
    if (tap->port != nullptr) tap->port->valid = false;
    desktop_sim::KillTap(tap.get());
  }
  s.refuse_taps = false;
  s.tap_create_calls = 0;
  s.tap_timeout_ms = DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS;
  s.epoch++;
  s.live_refs = 0;
  s.misuse_baseline = s.misuse_total;
  s.misuse_log.clear();
  s.app_events.clear();
  s.app_event_count = 0;
  s.posted.clear();
  s.posted_count = 0;
  s.posted_limit = 0;
  s.fail_event_every = 0;
  s.event_create_calls = 0;
  s.callback_times = desktop_sim::CallbackTimes();
  desktop_sim::ResetKeyboard();
  desktop_sim::ResetAccessibility();
  desktop_sim::ResetPermissions();
  desktop_sim::ResetKeyboardLayouts();
}

bool desktop_sim_hid_send(const desktop_sim_event* event) {
  if (event == nullptr) return false;
  return desktop_sim::SendEvents(*event, 1) == 1;
}

uint64_t desktop_sim_hid_send_many(const desktop_sim_event* event, uint64_t count) {
  if (event == nullptr) return 0;
  return desktop_sim::SendEvents(*event, count);
}

size_t desktop_sim_hid_disable_taps(desktop_sim_disable_reason reason) {
  return desktop_sim::DisableTaps(reason);
}

size_t desktop_sim_taps(desktop_sim_tap_info* out, size_t capacity) {
  Lock lock(S().mu);
  const auto& taps = S().taps;
  for (size_t i = 0; i < taps.size() && i < capacity && out != nullptr; ++i) {
    out[i].enabled = taps[i]->enabled;
    out[i].location = taps[i]->location;
    out[i].placement = taps[i]->placement;
    out[i].options = taps[i]->options;
    out[i].mask = taps[i]->mask;
  }
  return taps.size();
}

void desktop_sim_refuse_taps(bool refuse) {
  Lock lock(S().mu);
  S().refuse_taps = refuse;
}

bool desktop_sim_taps_refused(void) {
  Lock lock(S().mu);
  return S().refuse_taps;
}

void desktop_sim_set_tap_timeout_ms(uint32_t ms) {
  Lock lock(S().mu);
  S().tap_timeout_ms = ms;
}

uint32_t desktop_sim_tap_timeout_ms(void) {
  Lock lock(S().mu);
  return S().tap_timeout_ms;
}

bool desktop_sim_settle(uint32_t timeout_ms) {
  Lock lock(S().mu);
  desktop_sim::State& s = S();
  return s.activity_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return s.outstanding_work == 0 && s.callbacks_running == 0;
  });
}

bool desktop_sim_wait_queued(size_t count, uint32_t timeout_ms) {
  Lock lock(S().mu);
  desktop_sim::State& s = S();
  return s.activity_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [&] { return s.outstanding_work >= count; });
}

int64_t desktop_sim_cf_live(void) {
  Lock lock(S().mu);
  return S().live_refs;
}

uint64_t desktop_sim_cf_misuse(void) {
  Lock lock(S().mu);
  return S().misuse_total - S().misuse_baseline;
}

size_t desktop_sim_cf_misuse_text(size_t index, char* buffer, size_t capacity) {
  Lock lock(S().mu);
  const auto& log = S().misuse_log;
  if (index >= log.size()) return 0;
  const std::string& text = log[index];
  if (buffer != nullptr && capacity > 0) {
    const size_t n = std::min(capacity - 1, text.size());
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size();
}

uint64_t desktop_sim_cf_objects(void) {
  Lock lock(S().mu);
  return S().live_objects;
}

uint64_t desktop_sim_app_event_count(void) {
  Lock lock(S().mu);
  return S().app_event_count;
}

size_t desktop_sim_app_events(desktop_sim_event* out, size_t capacity) {
  Lock lock(S().mu);
  const auto& log = S().app_events;
  for (size_t i = 0; i < log.size() && i < capacity && out != nullptr; ++i) out[i] = log[i];
  return log.size();
}

void desktop_sim_callback_stats_get(desktop_sim_callback_stats* out) {
  if (out == nullptr) return;
  Lock lock(S().mu);
  const desktop_sim::CallbackTimes& times = S().callback_times;
  out->count = times.count;
  out->median_ns = times.Percentile(0.5);
  out->p99_ns = times.Percentile(0.99);
  out->max_ns = times.max_ns;
  out->mean_ns = times.count ? static_cast<double>(times.total_ns / times.count) : 0.0;
}

void desktop_sim_callback_stats_reset(void) {
  Lock lock(S().mu);
  S().callback_times = desktop_sim::CallbackTimes();
}

uint64_t desktop_sim_posted_count(void) {
  Lock lock(S().mu);
  return S().posted_count;
}

size_t desktop_sim_posted(desktop_sim_posted_event* out, size_t capacity) {
  Lock lock(S().mu);
  const auto& log = S().posted;
  for (size_t i = 0; i < log.size() && i < capacity && out != nullptr; ++i) out[i] = log[i].record;
  return log.size();
}

size_t desktop_sim_posted_text(size_t index, uint16_t* buffer, size_t capacity) {
  Lock lock(S().mu);
  const auto& log = S().posted;
  if (index >= log.size()) return 0;
  const std::u16string& text = log[index].text;
  if (buffer != nullptr)
    std::memcpy(buffer, text.data(), sizeof(uint16_t) * std::min(capacity, text.size()));
  return text.size();
}

void desktop_sim_clear_posted(void) {
  Lock lock(S().mu);
  S().posted.clear();
  S().posted_count = 0;
}

void desktop_sim_set_posted_limit(size_t limit) {
  Lock lock(S().mu);
  auto& log = S().posted;
  S().posted_limit = limit;
  while (limit != 0 && log.size() > limit) log.pop_front();
}

void desktop_sim_fail_event_creation(uint32_t every) {
  Lock lock(S().mu);
  S().fail_event_every = every;
  S().event_create_calls = 0;
}
