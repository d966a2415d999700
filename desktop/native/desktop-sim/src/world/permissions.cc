// The privacy switches of the process and what the system does with them: the preflight and
// request calls, the accessibility trust check with its prompt option, and the watch that
// disables an active tap whose process lost the access it needs.
//
// On macOS 10.15 and later an active (filtering) tap and posting events need the access that
// CGPreflightPostEventAccess reports, which the user grants in the Accessibility list; a
// listen-only tap needs Input Monitoring for key events. A tap that loses its access stays
// installed and enabled but is handed nothing, and the window server holds input back for it
// until it disables the tap by timeout.
//
// The preflight calls can go on answering what they answered before the user changed the
// switch (stale, desktop_sim_set_preflight_stale); tap creation and posting never do.
#include "world/values.h"

#include <algorithm>
#include <thread>

namespace desktop_sim {
namespace {

constexpr uint32_t kKeyEventTypes[] = {kCGEventKeyDown, kCGEventKeyUp, kCGEventFlagsChanged};

bool EnabledActiveTap(const Tap& tap) {
  return tap.alive && tap.enabled && tap.options == kCGEventTapOptionDefault;
}

// The window server's side of a revocation: every enabled active tap that has gone without
// access for the revocation delay (counted from the loss, or from its last enabling) is disabled
// by timeout. Runs on a thread of its own, started with the first loss, for the life of the
// process; it sleeps on the condition variable while there is nothing to time.
void RevocationWatch() {
  State& s = S();
  Lock lock(s.mu);
  for (;;) {
    Clock::time_point next = Clock::time_point::max();
    if (!PostEventAccess()) {
      const Clock::time_point now = Clock::now();
      const auto delay = std::chrono::milliseconds(s.revocation_delay_ms);
      const std::vector<std::shared_ptr<Tap>> chain = s.taps;
      for (const std::shared_ptr<Tap>& tap : chain) {
        if (!EnabledActiveTap(*tap)) continue;
        const Clock::time_point due = std::max(s.post_access_lost_at, tap->enabled_at) + delay;
        if (due <= now) {
          DisableByTimeout(tap);
        } else {
          next = std::min(next, due);
        }
      }
    }
    if (next == Clock::time_point::max()) {
      s.revocation_cv.wait(lock);
    } else {
      s.revocation_cv.wait_until(lock, next);
    }
  }
}

bool InRange(desktop_sim_permission permission) {
  return static_cast<int>(permission) >= 0 &&
         static_cast<int>(permission) < DESKTOP_SIM_PERMISSION_COUNT;
}

// The post-event access as the preflight call reports it.
bool PreflightPostEventAccess() {
  return PreflightGranted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY) &&
         PreflightGranted(DESKTOP_SIM_PERMISSION_POST_EVENTS);
}

// A request while the access is missing shows the system's prompt (counted); the answer comes
// later, so the result is the access as it is now.
bool Request(desktop_sim_permission permission, bool granted) {
  if (!granted) S().prompts[permission]++;
  return granted;
}

}  // namespace

bool Granted(desktop_sim_permission permission) {
  return S().permissions[permission];
}

bool PreflightGranted(desktop_sim_permission permission) {
  const State& s = S();
  return s.preflight_stale[permission] ? s.preflight_frozen[permission] : s.permissions[permission];
}

void SetGranted(desktop_sim_permission permission, bool on) {
  State& s = S();
  if (!InRange(permission)) return;
  const bool had_access = PostEventAccess();
  s.permissions[permission] = on;
  if (had_access && !PostEventAccess()) {
    s.post_access_lost_at = Clock::now();
    if (!s.revocation_watch_running) {
      s.revocation_watch_running = true;
      std::thread(RevocationWatch).detach();
    }
  }
  WakeRevocationWatch();
}

bool PostEventAccess() {
  return S().permissions[DESKTOP_SIM_PERMISSION_ACCESSIBILITY] &&
         S().permissions[DESKTOP_SIM_PERMISSION_POST_EVENTS];
}

bool ListenEventAccess() {
  return S().permissions[DESKTOP_SIM_PERMISSION_INPUT_MONITORING] ||
         S().permissions[DESKTOP_SIM_PERMISSION_ACCESSIBILITY];
}

bool InputHeldBack() {
  if (PostEventAccess()) return false;
  for (const std::shared_ptr<Tap>& tap : S().taps) {
    if (EnabledActiveTap(*tap)) return true;
  }
  return false;
}

CGEventMask PermittedMask(CGEventTapOptions options, CGEventMask mask) {
  if (options != kCGEventTapOptionListenOnly || ListenEventAccess()) return mask;
  for (uint32_t type : kKeyEventTypes) mask &= ~CGEventMaskBit(type);
  return mask;
}

void WakeRevocationWatch() {
  S().revocation_cv.notify_all();
}

void ResetPermissions() {
  State& s = S();
  for (bool& granted : s.permissions) granted = true;
  for (uint64_t& count : s.prompts) count = 0;
  for (bool& stale : s.preflight_stale) stale = false;
  s.revocation_delay_ms = DESKTOP_SIM_DEFAULT_REVOCATION_DELAY_MS;
  s.held_back = 0;
  WakeRevocationWatch();
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::S;

bool CGPreflightListenEventAccess(void) {
  Lock lock(S().mu);
  return desktop_sim::PreflightGranted(DESKTOP_SIM_PERMISSION_INPUT_MONITORING);
}

bool CGRequestListenEventAccess(void) {
  Lock lock(S().mu);
  return desktop_sim::Request(
      DESKTOP_SIM_PERMISSION_INPUT_MONITORING,
      desktop_sim::PreflightGranted(DESKTOP_SIM_PERMISSION_INPUT_MONITORING));
}

bool CGPreflightPostEventAccess(void) {
  Lock lock(S().mu);
  return desktop_sim::PreflightPostEventAccess();
}

bool CGRequestPostEventAccess(void) {
  Lock lock(S().mu);
  return desktop_sim::Request(DESKTOP_SIM_PERMISSION_POST_EVENTS,
                              desktop_sim::PreflightPostEventAccess());
}

CFStringRef kAXTrustedCheckOptionPrompt = &desktop_sim::g_trusted_check_prompt;

Boolean AXIsProcessTrusted(void) {
  Lock lock(S().mu);
  return desktop_sim::PreflightGranted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY);
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options) {
  Lock lock(S().mu);
  const bool trusted = desktop_sim::PreflightGranted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY);
  if (options == nullptr) return trusted;
  auto* dictionary = desktop_sim::UseAs<__CFDictionary>(options, desktop_sim::kDictionaryTypeId,
                                                        "AXIsProcessTrustedWithOptions");
  if (dictionary == nullptr) return trusted;
  // Only a true boolean asks; the prompt is shown to an untrusted process and answers later.
  const void* prompt = nullptr;
  for (const auto& entry : dictionary->entries) {
    const auto* key = desktop_sim::Use(entry.first, desktop_sim::kStringTypeId,
                                       "AXIsProcessTrustedWithOptions (key)");
    if (key != nullptr && desktop_sim::ObjectsEqual(key, &desktop_sim::g_trusted_check_prompt)) {
      prompt = entry.second;
    }
  }
  if (prompt == kCFBooleanTrue) desktop_sim::Request(DESKTOP_SIM_PERMISSION_ACCESSIBILITY, trusted);
  return trusted;
}

void desktop_sim_set_permission(desktop_sim_permission permission, bool on) {
  Lock lock(S().mu);
  desktop_sim::SetGranted(permission, on);
}

bool desktop_sim_permission_granted(desktop_sim_permission permission) {
  Lock lock(S().mu);
  return desktop_sim::InRange(permission) && desktop_sim::Granted(permission);
}

uint64_t desktop_sim_prompts(desktop_sim_permission permission) {
  Lock lock(S().mu);
  return desktop_sim::InRange(permission) ? S().prompts[permission] : 0;
}

void desktop_sim_set_revocation_delay_ms(uint32_t ms) {
  Lock lock(S().mu);
  S().revocation_delay_ms = ms;
  desktop_sim::WakeRevocationWatch();
}

uint32_t desktop_sim_revocation_delay_ms(void) {
  Lock lock(S().mu);
  return S().revocation_delay_ms;
}

uint64_t desktop_sim_held_back(void) {
  Lock lock(S().mu);
  return S().held_back;
}

void desktop_sim_set_preflight_stale(desktop_sim_permission permission, bool on) {
  Lock lock(S().mu);
  desktop_sim::State& s = S();
  if (!desktop_sim::InRange(permission)) return;
  if (on && !s.preflight_stale[permission])
    s.preflight_frozen[permission] = s.permissions[permission];
  s.preflight_stale[permission] = on;
}

bool desktop_sim_preflight_stale(desktop_sim_permission permission) {
  Lock lock(S().mu);
  return desktop_sim::InRange(permission) && S().preflight_stale[permission];
}
