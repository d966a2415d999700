// Floor for the synthetic input benchmark: the same events the addon posts, created, posted
// and released by a plain native loop in the same process, with no script values in between.
// Also measures the peak of the malloc heap while a script function runs, and reads the calling
// thread's CPU clock, so that time taken by other work on a shared machine does not count.
#include <ApplicationServices/ApplicationServices.h>
#include <node_api.h>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace {

constexpr size_t kSliceUnits = 16;

void PostAndRelease(CGEventRef event) {
  CGEventPost(kCGHIDEventTap, event);
  CFRelease(event);
}

// One left click at (x, y): a move, then a down and an up with click state 1.
void Click(CGPoint point) {
  if (CGEventRef move =
          CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, point, kCGMouseButtonLeft)) {
    PostAndRelease(move);
  }
  CGEventRef down =
      CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, point, kCGMouseButtonLeft);
  CGEventRef up = CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, point, kCGMouseButtonLeft);
  for (CGEventRef event : {down, up}) {
    if (event == nullptr) continue;
    CGEventSetIntegerValueField(event, kCGMouseEventClickState, 1);
    PostAndRelease(event);
  }
}

// One key press as postKey posts it: a down and an up with the flags set.
void Press(CGKeyCode code, CGEventFlags flags) {
  CGEventRef down = CGEventCreateKeyboardEvent(nullptr, code, true);
  CGEventRef up = CGEventCreateKeyboardEvent(nullptr, code, false);
  for (CGEventRef event : {down, up}) {
    if (event == nullptr) continue;
    CGEventSetFlags(event, flags);
    PostAndRelease(event);
  }
}

void TypeSlices(const std::u16string& text) {
  for (size_t offset = 0; offset < text.size();) {
    size_t count = std::min(kSliceUnits, text.size() - offset);
    if (count == kSliceUnits && offset + count < text.size()) {
      const char16_t last = text[offset + count - 1];
      const char16_t next = text[offset + count];
      if (last >= 0xD800 && last <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) count--;
    }
    const auto* units = reinterpret_cast<const UniChar*>(text.data() + offset);
    CGEventRef down = CGEventCreateKeyboardEvent(nullptr, 0, true);
    CGEventRef up = CGEventCreateKeyboardEvent(nullptr, 0, false);
    for (CGEventRef event : {down, up}) {
      if (event == nullptr) continue;
      CGEventKeyboardSetUnicodeString(event, count, units);
      PostAndRelease(event);
    }
    offset += count;
  }
}

napi_value Number(napi_env env, double value) {
  napi_value result;
  napi_create_double(env, value, &result);
  return result;
}

// clicks(count, x, y): count left clicks, as postClick(x, y) posts them.
napi_value Clicks(napi_env env, napi_callback_info info) {
  size_t argc = 3;
  napi_value argv[3];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  int64_t count = 0;
  double x = 0;
  double y = 0;
  napi_get_value_int64(env, argv[0], &count);
  napi_get_value_double(env, argv[1], &x);
  napi_get_value_double(env, argv[2], &y);
  for (int64_t i = 0; i < count; ++i) Click(CGPointMake(x, y));
  return Number(env, static_cast<double>(count));
}

// keys(count, code, flags): count presses of the key, as postKey posts them.
napi_value Keys(napi_env env, napi_callback_info info) {
  size_t argc = 3;
  napi_value argv[3];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  int64_t count = 0;
  uint32_t code = 0;
  int64_t flags = 0;
  napi_get_value_int64(env, argv[0], &count);
  napi_get_value_uint32(env, argv[1], &code);
  napi_get_value_int64(env, argv[2], &flags);
  for (int64_t i = 0; i < count; ++i) {
    Press(static_cast<CGKeyCode>(code), static_cast<CGEventFlags>(flags));
  }
  return Number(env, static_cast<double>(count));
}

// type(text): the text's key events, sliced as postType slices it.
napi_value Type(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value text;
  napi_get_cb_info(env, info, &argc, &text, nullptr, nullptr);
  size_t length = 0;
  napi_get_value_string_utf16(env, text, nullptr, 0, &length);
  std::u16string units(length, u'\0');
  napi_get_value_string_utf16(env, text, &units[0], length + 1, nullptr);
  TypeSlices(units);
  return Number(env, static_cast<double>(length));
}

// threadCpuNs(): the CPU time the calling thread has used, in nanoseconds.
napi_value ThreadCpuNs(napi_env env, napi_callback_info) {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return Number(env, static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec));
}

size_t HeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// peakHeapDuring(fn): calls fn while a sampler thread watches the malloc heap; answers the
// peak bytes in use above those in use just before the call.
napi_value PeakHeapDuring(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value fn;
  napi_get_cb_info(env, info, &argc, &fn, nullptr, nullptr);
  napi_value undefined;
  napi_get_undefined(env, &undefined);
  const size_t before = HeapBytes();
  std::atomic<bool> running{true};
  std::atomic<size_t> peak{before};
  std::thread sampler([&] {
    while (running.load(std::memory_order_relaxed)) {
      const size_t now = HeapBytes();
      if (now > peak.load(std::memory_order_relaxed)) peak.store(now, std::memory_order_relaxed);
    }
  });
  napi_call_function(env, undefined, fn, 0, nullptr, nullptr);
  running.store(false);
  sampler.join();
  return Number(env, static_cast<double>(peak.load() - before));
}

}  // namespace

NAPI_MODULE_INIT() {
  struct Entry {
    const char* name;
    napi_callback callback;
  };
  const Entry entries[] = {{"clicks", Clicks},
                           {"keys", Keys},
                           {"type", Type},
                           {"peakHeapDuring", PeakHeapDuring},
                           {"threadCpuNs", ThreadCpuNs}};
  for (const Entry& entry : entries) {
    napi_value fn;
    napi_create_function(env, nullptr, 0, entry.callback, nullptr, &fn);
    napi_set_named_property(env, exports, entry.name, fn);
  }
  return exports;
}
