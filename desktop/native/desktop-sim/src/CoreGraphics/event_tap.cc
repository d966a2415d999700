// Event taps and events: tap creation and order, the callback's verdict, servicing of queued
// deliveries inside run-loop runs, and the system disabling a tap that keeps an event too long.
#include "world/internal.h"

#include <algorithm>

namespace desktop_sim {
namespace {

bool Wants(const Tap& tap, CGEventType type) {
  return static_cast<uint32_t>(type) < 64 && ((tap.mask >> static_cast<uint32_t>(type)) & 1u);
}

CGEventTimestamp NowNanoseconds() {
  return static_cast<CGEventTimestamp>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
          .count());
}

FieldSlot* FindField(__CGEvent* event, uint32_t field) {
  for (int i = 0; i < event->field_count; ++i) {
    if (event->fields[i].field == field) return &event->fields[i];
  }
  if (event->more_fields != nullptr) {
    for (FieldSlot& slot : *event->more_fields) {
      if (slot.field == field) return &slot;
    }
  }
  return nullptr;
}

// The verdict of an active tap's callback: the event itself passes, NULL removes it, and another
// event the callback owns replaces it (the system takes over the callback's reference).
__CGEvent* AdoptVerdict(const Tap& tap, __CGEvent* original, CGEventRef result,
                        std::vector<__CGEvent*>* adopted) {
  if (tap.options == kCGEventTapOptionListenOnly) return original;
  if (result == nullptr) return nullptr;
  if (result == original) return original;
  auto* replacement = UseAs<__CGEvent>(result, kEventTypeId, "event tap callback result");
  if (replacement == nullptr) return original;
  if (replacement->program_refs == 0) {
    RecordMisuse(Misuse::kCallbackResult, "event tap callback result",
                 "returned event %p holds no reference of the callback's (return the event "
                 "passed in, NULL, or an event the callback created)",
                 static_cast<void*>(replacement));
    return original;
  }
  TakeOverProgramRef(replacement);
  adopted->push_back(replacement);
  return replacement;
}

__CFRunLoop* InlineLoopFor(const Tap& tap) {
  __CFRunLoop* mine = CurrentLoopIfAny();
  if (mine == nullptr || tap.port == nullptr || tap.port->source == nullptr) return nullptr;
  return LoopHoldsSource(mine, tap.port->source) ? mine : nullptr;
}

void WakeTapLoops(const Tap& tap) {
  if (tap.port != nullptr && tap.port->source != nullptr) WakeLoopsHolding(tap.port->source);
}

std::shared_ptr<Work> NewWork(const std::shared_ptr<Tap>& tap) {
  auto work = std::make_shared<Work>();
  work->notification = false;
  work->notify_type = kCGEventNull;
  work->tap = tap;
  work->next = 0;
  work->state = WorkState::kQueued;
  work->in_callback = false;
  work->queued_at = Clock::now();
  return work;
}

void Enqueue(const std::shared_ptr<Tap>& tap, const std::shared_ptr<Work>& work) {
  tap->pending.push_back(work);
  S().outstanding_work++;
  S().activity_cv.notify_all();
  WakeTapLoops(*tap);
}

void CallNotificationInline(Lock& lock, Tap* tap, CGEventType type) {
  __CGEvent* event = NewEvent(type, false);
  CGEventRef ignored = nullptr;
  RunCallback(lock, tap, type, event, &ignored);
  DropSystemRef(event, "event tap notification");  // the callback's hold
  DropSystemRef(event, "event tap notification");  // the system's own
}

// Calls the tap's callback for each wanted event on this very thread: the sender is the thread
// whose run loop holds the tap, and waiting for that loop would wait for ourselves.
std::vector<__CGEvent*> DeliverInline(Lock& lock, Tap* tap, const std::vector<__CGEvent*>& events,
                                      std::vector<__CGEvent*>* owned) {
  std::vector<__CGEvent*> verdicts;
  verdicts.reserve(events.size());
  for (__CGEvent* event : events) {
    if (!tap->alive || !tap->enabled) {
      verdicts.push_back(event);
      continue;
    }
    CGEventRef result = nullptr;
    RunCallback(lock, tap, event->event_type, event, &result);
    verdicts.push_back(tap->alive ? AdoptVerdict(*tap, event, result, owned) : event);
    DropSystemRef(event, "event tap delivery");
  }
  return verdicts;
}

// Queues the events for the tap's run loop and waits for the verdicts. Past the tap timeout
// (counted from queuing, or from the start of the callback now running) the system disables the
// tap and lets the remaining events pass, as the window server does with a slow tap.
std::vector<__CGEvent*> DeliverQueued(Lock& lock, const std::shared_ptr<Tap>& tap,
                                      const std::vector<__CGEvent*>& events,
                                      std::vector<__CGEvent*>* owned) {
  std::shared_ptr<Work> work = NewWork(tap);
  work->events = events;
  work->verdicts.reserve(events.size());
  Enqueue(tap, work);
  while (work->state == WorkState::kQueued || work->state == WorkState::kRunning) {
    const auto timeout = std::chrono::milliseconds(S().tap_timeout_ms);
    const Clock::time_point deadline =
        (work->in_callback ? work->callback_started_at : work->queued_at) + timeout;
    if (Clock::now() >= deadline) {
      FinishWork(work.get(), WorkState::kDropped);
      DisableByTimeout(tap);
      break;
    }
    work->done_cv.wait_until(lock, deadline);
  }
  std::vector<__CGEvent*> verdicts = work->verdicts;
  for (size_t i = verdicts.size(); i < events.size(); ++i) verdicts.push_back(events[i]);
  owned->insert(owned->end(), work->adopted.begin(), work->adopted.end());
  work->adopted.clear();
  return verdicts;
}

Serviced ServiceNotification(Lock& lock, Work* work) {
  Tap* tap = work->tap.get();
  __CGEvent* event = NewEvent(work->notify_type, false);
  work->in_callback = true;
  work->callback_started_at = Clock::now();
  CGEventRef ignored = nullptr;
  RunCallback(lock, tap, work->notify_type, event, &ignored);
  work->in_callback = false;
  DropSystemRef(event, "event tap notification");
  DropSystemRef(event, "event tap notification");
  FinishWork(work, WorkState::kDone);
  return Serviced::kHandled;
}

// Hands queued events to the callback one by one. A stop, a return-after-source run, or the
// source leaving this mode puts the rest back in the queue for a later run.
Serviced ServiceDelivery(__CFRunLoop* loop, const std::u16string& mode, Lock& lock, Work* work,
                         bool return_after_source_handled) {
  Tap* tap = work->tap.get();
  bool handled = false;
  while (work->state == WorkState::kRunning && work->next < work->events.size()) {
    if (!tap->alive) {
      FinishWork(work, WorkState::kDropped);
      break;
    }
    const bool still_here = tap->port != nullptr && tap->port->source != nullptr &&
                            LoopHasSourceInMode(loop, tap->port->source, mode);
    if (!still_here || (handled && (return_after_source_handled || loop->stop_pending))) {
      work->state = WorkState::kQueued;
      work->queued_at = Clock::now();
      break;
    }
    __CGEvent* event = work->events[work->next];
    if (!tap->enabled || !Wants(*tap, event->event_type)) {
      work->verdicts.push_back(event);
      work->next++;
      continue;
    }
    work->in_callback = true;
    work->callback_started_at = Clock::now();
    CGEventRef result = nullptr;
    RunCallback(lock, tap, event->event_type, event, &result);
    work->in_callback = false;
    handled = true;
    if (work->state != WorkState::kRunning) {
      // The sender gave up meanwhile and the event has passed; a replacement is discarded.
      std::vector<__CGEvent*> discarded;
      if (tap->alive) AdoptVerdict(*tap, event, result, &discarded);
      for (__CGEvent* replacement : discarded) DropSystemRef(replacement, "event tap delivery");
      DropSystemRef(event, "event tap delivery");
      break;
    }
    work->verdicts.push_back(AdoptVerdict(*tap, event, result, &work->adopted));
    work->next++;
    DropSystemRef(event, "event tap delivery");
  }
  if (work->state == WorkState::kRunning && work->next == work->events.size()) {
    FinishWork(work, WorkState::kDone);
  }
  return handled ? Serviced::kHandled : Serviced::kNoCallback;
}

bool EntryHasWork(const RunLoopEntry& entry, const __CFRunLoop* loop, const std::u16string& mode,
                  Tap** tap_out) {
  const __CFRunLoopSource* source = entry.source;
  if (!source->valid || source->port == nullptr || !source->port->tap) return false;
  Tap* tap = source->port->tap.get();
  if (!tap->alive || tap->servicing || tap->pending.empty()) return false;
  if (tap->pending.front()->state != WorkState::kQueued) return false;
  if (!LoopHasSourceInMode(loop, source, mode)) return false;
  *tap_out = tap;
  return true;
}

}  // namespace

void DisableByTimeout(const std::shared_ptr<Tap>& tap) {
  if (!tap->alive || !tap->enabled) return;
  tap->enabled = false;
  QueueNotification(tap, kCGEventTapDisabledByTimeout, nullptr);
}

namespace {

size_t BucketOf(uint64_t ns) {
  if (ns < CallbackTimes::kExact) return static_cast<size_t>(ns);
  const int octave = 63 - __builtin_clzll(ns);  // 10 or more here
  const uint64_t sub = (ns >> (octave - 6)) & (CallbackTimes::kPerOctave - 1);
  return CallbackTimes::kExact + (octave - 10) * CallbackTimes::kPerOctave + sub;
}

uint64_t BucketFloor(size_t bucket) {
  if (bucket < CallbackTimes::kExact) return bucket;
  const size_t octave = (bucket - CallbackTimes::kExact) / CallbackTimes::kPerOctave + 10;
  const uint64_t sub = (bucket - CallbackTimes::kExact) % CallbackTimes::kPerOctave;
  return (1ull << octave) + (sub << (octave - 6));
}

}  // namespace

void CallbackTimes::Add(uint64_t ns) {
  buckets[BucketOf(ns)]++;
  count++;
  total_ns += ns;
  if (ns > max_ns) max_ns = ns;
}

uint64_t CallbackTimes::Percentile(double fraction) const {
  if (count == 0) return 0;
  const uint64_t rank = static_cast<uint64_t>(fraction * static_cast<double>(count - 1));
  uint64_t seen = 0;
  for (size_t b = 0; b < kBuckets; ++b) {
    seen += buckets[b];
    if (seen > rank) return BucketFloor(b);
  }
  return max_ns;
}

void RecordAppEvent(__CGEvent* event) {
  State& s = S();
  desktop_sim_event record;
  record.type = event->event_type;
  const FieldSlot* button = FindField(event, kCGMouseEventButtonNumber);
  const FieldSlot* keycode = FindField(event, kCGKeyboardEventKeycode);
  record.button = button ? button->value : 0;
  record.keycode = keycode ? keycode->value : 0;
  record.flags = event->flags;
  record.x = event->location.x;
  record.y = event->location.y;
  s.app_events.push_back(record);
  if (s.app_events.size() > DESKTOP_SIM_APP_EVENT_LOG) s.app_events.pop_front();
  s.app_event_count++;
}

void RunCallback(Lock& lock, Tap* tap, CGEventType type, __CGEvent* event, CGEventRef* result) {
  State& s = S();
  const CGEventTapCallBack callback = tap->callback;
  void* const user_info = tap->user_info;
  auto* proxy = reinterpret_cast<CGEventTapProxy>(tap);
  event->system_refs++;  // the event stays valid for the callback whatever the sender does
  s.callbacks_running++;
  lock.unlock();
  const Clock::time_point start = Clock::now();
  *result = callback(proxy, type, event, user_info);
  const Clock::time_point end = Clock::now();
  lock.lock();
  s.callback_times.Add(static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()));
  s.callbacks_running--;
  s.activity_cv.notify_all();
}

Serviced ServiceOne(__CFRunLoop* loop, const std::u16string& mode, Lock& lock,
                    bool return_after_source_handled) {
  Tap* chosen = nullptr;
  for (const RunLoopEntry& entry : loop->entries) {
    Tap* tap = nullptr;
    if (!EntryHasWork(entry, loop, mode, &tap)) continue;
    if (chosen == nullptr || tap->pending.front()->queued_at < chosen->pending.front()->queued_at) {
      chosen = tap;
    }
  }
  if (chosen == nullptr) return Serviced::kNothing;
  std::shared_ptr<Tap> keep = chosen->port->tap;
  std::shared_ptr<Work> work = chosen->pending.front();
  work->state = WorkState::kRunning;
  chosen->servicing = true;
  const Serviced serviced = work->notification ? ServiceNotification(lock, work.get())
                                               : ServiceDelivery(loop, mode, lock, work.get(),
                                                                 return_after_source_handled);
  chosen->servicing = false;
  if (!chosen->pending.empty()) WakeTapLoops(*chosen);
  return serviced;
}

void FinishWork(Work* work, WorkState state) {
  if (work->state == WorkState::kDone || work->state == WorkState::kDropped) return;
  work->state = state;
  auto& pending = work->tap->pending;
  auto found = std::find_if(pending.begin(), pending.end(),
                            [&](const std::shared_ptr<Work>& w) { return w.get() == work; });
  if (found != pending.end()) pending.erase(found);
  S().outstanding_work--;
  work->done_cv.notify_all();
  S().activity_cv.notify_all();
}

void DropTapWork(Tap* tap) {
  std::vector<std::shared_ptr<Work>> pending(tap->pending.begin(), tap->pending.end());
  for (const std::shared_ptr<Work>& work : pending) FinishWork(work.get(), WorkState::kDropped);
}

void KillTap(Tap* tap) {
  if (!tap->alive) return;
  tap->alive = false;
  tap->enabled = false;
  auto& taps = S().taps;
  taps.erase(std::remove_if(taps.begin(), taps.end(),
                            [&](const std::shared_ptr<Tap>& t) { return t.get() == tap; }),
             taps.end());
  DropTapWork(tap);
}

void QueueNotification(const std::shared_ptr<Tap>& tap, CGEventType type,
                       std::vector<std::shared_ptr<Work>>* waiters) {
  if (!tap->alive) return;
  std::shared_ptr<Work> work = NewWork(tap);
  work->notification = true;
  work->notify_type = type;
  Enqueue(tap, work);
  if (waiters != nullptr) waiters->push_back(work);
}

__CGEvent* NewEvent(CGEventType type, bool program_owned) {
  auto* event = new __CGEvent();
  event->event_type = type;
  event->flags = 0;
  event->location = CGPointMake(0, 0);
  event->timestamp = NowNanoseconds();
  event->field_count = 0;
  event->more_fields = nullptr;
  event->unicode = nullptr;
  InitObject(event, kEventTypeId, program_owned);
  return event;
}

void FreeEventPayload(__CGEvent* event) {
  delete event->more_fields;
  event->more_fields = nullptr;
  event->field_count = 0;
  delete event->unicode;
  event->unicode = nullptr;
}

void SetField(__CGEvent* event, uint32_t field, int64_t value) {
  if (FieldSlot* slot = FindField(event, field)) {
    slot->value = value;
  } else if (event->field_count < kInlineFields) {
    event->fields[event->field_count++] = FieldSlot{field, value};
  } else {
    if (event->more_fields == nullptr) event->more_fields = new std::vector<FieldSlot>();
    event->more_fields->push_back(FieldSlot{field, value});
  }
}

int64_t GetField(__CGEvent* event, uint32_t field) {
  const FieldSlot* slot = FindField(event, field);
  return slot ? slot->value : 0;
}

std::vector<__CGEvent*> PassThroughTaps(Lock& lock, std::vector<__CGEvent*> flow,
                                        CGEventTapLocation from, std::vector<__CGEvent*>* owned) {
  const std::vector<std::shared_ptr<Tap>> chain = S().taps;
  for (const std::shared_ptr<Tap>& tap : chain) {
    if (flow.empty()) break;
    if (!tap->alive || !tap->enabled || tap->location < from) continue;
    // A listen-only tap that lost input monitoring is handed no more key events.
    const CGEventMask mask = PermittedMask(tap->options, tap->mask);
    std::vector<__CGEvent*> wanted;
    for (__CGEvent* event : flow) {
      const auto type = static_cast<uint32_t>(event->event_type);
      if (type < 64 && ((mask >> type) & 1u)) wanted.push_back(event);
    }
    if (wanted.empty()) continue;
    const std::vector<__CGEvent*> verdicts = InlineLoopFor(*tap)
                                                 ? DeliverInline(lock, tap.get(), wanted, owned)
                                                 : DeliverQueued(lock, tap, wanted, owned);
    std::vector<__CGEvent*> next;
    next.reserve(flow.size());
    size_t k = 0;
    for (__CGEvent* event : flow) {
      if (k < wanted.size() && wanted[k] == event) {
        if (verdicts[k] != nullptr) next.push_back(verdicts[k]);
        ++k;
      } else {
        next.push_back(event);
      }
    }
    flow.swap(next);
  }
  return flow;
}

// The HID system's delivery of a run of identical hardware events, in chunks so that a long
// run holds little memory and crosses threads once per chunk rather than once per event.
uint64_t SendEvents(const desktop_sim_event& hardware, uint64_t count) {
  constexpr uint64_t kChunk = 512;
  uint64_t reached = 0;
  while (count > 0) {
    const uint64_t n = std::min(count, kChunk);
    count -= n;
    Lock lock(S().mu);
    if (InputHeldBack()) {
      // A starving active tap holds the whole stream: nothing reaches a tap or an application.
      S().held_back += n;
      continue;
    }
    std::vector<__CGEvent*> owned;
    owned.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
      __CGEvent* event = NewEvent(static_cast<CGEventType>(hardware.type), false);
      event->flags = hardware.flags;
      event->location = CGPointMake(hardware.x, hardware.y);
      SetField(event, kCGMouseEventButtonNumber, hardware.button);
      SetField(event, kCGKeyboardEventKeycode, hardware.keycode);
      owned.push_back(event);
    }
    const std::vector<__CGEvent*> flow = PassThroughTaps(lock, owned, kCGHIDEventTap, &owned);
    reached += flow.size();
    for (__CGEvent* event : flow) RecordAppEvent(event);
    for (__CGEvent* event : owned) DropSystemRef(event, "HID event delivered");
  }
  return reached;
}

size_t DisableTaps(desktop_sim_disable_reason reason) {
  const CGEventType type = reason == DESKTOP_SIM_DISABLE_USER_INPUT ? kCGEventTapDisabledByUserInput
                                                                    : kCGEventTapDisabledByTimeout;
  Lock lock(S().mu);
  const std::vector<std::shared_ptr<Tap>> chain = S().taps;
  std::vector<std::shared_ptr<Work>> waiters;
  std::vector<std::shared_ptr<Tap>> inline_taps;
  size_t disabled = 0;
  for (const std::shared_ptr<Tap>& tap : chain) {
    if (!tap->alive || !tap->enabled) continue;
    tap->enabled = false;
    disabled++;
    if (InlineLoopFor(*tap)) {
      inline_taps.push_back(tap);
    } else {
      QueueNotification(tap, type, &waiters);
    }
  }
  for (const std::shared_ptr<Tap>& tap : inline_taps) {
    if (tap->alive) CallNotificationInline(lock, tap.get(), type);
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(S().tap_timeout_ms);
  for (const std::shared_ptr<Work>& work : waiters) {
    while ((work->state == WorkState::kQueued || work->state == WorkState::kRunning) &&
           Clock::now() < deadline) {
      work->done_cv.wait_until(lock, deadline);
    }
  }
  return disabled;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;
using desktop_sim::UseAs;

const CGPoint CGPointZero = {0, 0};
const CGSize CGSizeZero = {0, 0};
const CGRect CGRectZero = {{0, 0}, {0, 0}};

CFTypeID CGEventGetTypeID(void) {
  return desktop_sim::kEventTypeId;
}

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo) {
  Lock lock(S().mu);
  S().tap_create_calls++;
  if (callback == nullptr) {
    RecordMisuse(Misuse::kNullArgument, "CGEventTapCreate", "NULL callback");
    return nullptr;
  }
  if (tap > kCGAnnotatedSessionEventTap || place > kCGTailAppendEventTap ||
      options > kCGEventTapOptionListenOnly) {
    RecordMisuse(Misuse::kBadArgument, "CGEventTapCreate",
                 "location %u, placement %u or options %u out of range", static_cast<unsigned>(tap),
                 static_cast<unsigned>(place), static_cast<unsigned>(options));
    return nullptr;
  }
  // Refused as without the user's permission: an active tap needs post-event access, and a
  // listen-only one loses the key event types without input monitoring. An empty mask gives
  // no tap either.
  if (S().refuse_taps) return nullptr;
  if (options == kCGEventTapOptionDefault && !desktop_sim::PostEventAccess()) return nullptr;
  eventsOfInterest = desktop_sim::PermittedMask(options, eventsOfInterest);
  if (eventsOfInterest == 0) return nullptr;
  auto* port = new __CFMachPort();
  port->valid = true;
  port->source = nullptr;
  desktop_sim::InitObject(port, desktop_sim::kMachPortTypeId, true);
  auto record = std::make_shared<desktop_sim::Tap>();
  record->id = S().next_tap_id++;
  record->location = tap;
  record->placement = place;
  record->options = options;
  record->mask = eventsOfInterest;
  record->callback = callback;
  record->user_info = userInfo;
  record->enabled = true;  // a new tap is enabled, as on macOS
  record->enabled_at = desktop_sim::Clock::now();
  record->alive = true;
  record->servicing = false;
  record->port = port;
  port->tap = record;
  // Taps nearer the hardware come first; within a location, head insertion goes before the
  // taps already there, tail appending after them.
  auto& taps = S().taps;
  auto at = std::find_if(taps.begin(), taps.end(), [&](const std::shared_ptr<desktop_sim::Tap>& t) {
    return place == kCGHeadInsertEventTap ? t->location >= tap : t->location > tap;
  });
  taps.insert(at, record);
  return port;
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
  Lock lock(S().mu);
  auto* port = UseAs<__CFMachPort>(tap, desktop_sim::kMachPortTypeId, "CGEventTapEnable");
  if (port == nullptr || !port->tap || !port->tap->alive) return;
  if (enable && !port->tap->enabled) {
    port->tap->enabled_at = desktop_sim::Clock::now();
    desktop_sim::WakeRevocationWatch();  // re-enabled without access, it starves again
  }
  port->tap->enabled = enable;
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
  Lock lock(S().mu);
  auto* port = UseAs<__CFMachPort>(tap, desktop_sim::kMachPortTypeId, "CGEventTapIsEnabled");
  return port != nullptr && port->tap && port->tap->alive && port->tap->enabled;
}

CGEventType CGEventGetType(CGEventRef event) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventGetType");
  return e ? e->event_type : kCGEventNull;
}

void CGEventSetType(CGEventRef event, CGEventType type) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventSetType");
  if (e) e->event_type = type;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventGetFlags");
  return e ? e->flags : 0;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventSetFlags");
  if (e) e->flags = flags;
}

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventGetIntegerValueField");
  return e ? desktop_sim::GetField(e, field) : 0;
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventSetIntegerValueField");
  if (e) desktop_sim::SetField(e, field, value);
}

CGPoint CGEventGetLocation(CGEventRef event) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventGetLocation");
  return e ? e->location : CGPointMake(0, 0);
}

void CGEventSetLocation(CGEventRef event, CGPoint location) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventSetLocation");
  if (e) e->location = location;
}

CGEventTimestamp CGEventGetTimestamp(CGEventRef event) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventGetTimestamp");
  return e ? e->timestamp : 0;
}

uint64_t desktop_sim_tap_create_calls(void) {
  Lock lock(S().mu);
  return S().tap_create_calls;
}
