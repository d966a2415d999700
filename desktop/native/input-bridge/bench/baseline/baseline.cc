// Baseline for the tap benchmark: the least a native thread can do to hand records to a
// script callback through a thread-safe function, one small heap payload per record.
#include <node_api.h>

#include <malloc.h>

#include <cstdint>
#include <thread>

namespace {

struct Payload {
  int32_t value;
};

napi_value Undefined(napi_env env) {
  napi_value undefined;
  napi_get_undefined(env, &undefined);
  return undefined;
}

// The payload as a bare number: the least any delivery can do.
void CallJsNumber(napi_env env, napi_value callback, void* /*context*/, void* data) {
  auto* payload = static_cast<Payload*>(data);
  if (env != nullptr) {
    napi_value argument;
    napi_create_double(env, payload->value, &argument);
    napi_call_function(env, Undefined(env), callback, 1, &argument, nullptr);
  }
  delete payload;
}

// The same record the tap delivers for a button, {button, phase, suppressed}, built with the
// plain C calls and nothing else.
void CallJsRecord(napi_env env, napi_value callback, void* /*context*/, void* data) {
  auto* payload = static_cast<Payload*>(data);
  if (env != nullptr) {
    napi_value record;
    napi_value button;
    napi_value phase;
    napi_value suppressed;
    napi_create_object(env, &record);
    napi_create_double(env, 4, &button);
    napi_create_string_utf8(env, (payload->value & 1) ? "up" : "down", NAPI_AUTO_LENGTH, &phase);
    napi_get_boolean(env, false, &suppressed);
    napi_set_named_property(env, record, "button", button);
    napi_set_named_property(env, record, "phase", phase);
    napi_set_named_property(env, record, "suppressed", suppressed);
    napi_call_function(env, Undefined(env), callback, 1, &record, nullptr);
  }
  delete payload;
}

// queueAll(count, callback, asRecord): a native thread queues `count` payloads without blocking
// while this (script) thread waits for it, so every record is queued before any is delivered.
// Returns the number queued.
napi_value QueueAll(napi_env env, napi_callback_info info) {
  size_t argc = 3;
  napi_value argv[3];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  bool asRecord = false;
  napi_get_value_bool(env, argv[2], &asRecord);
  int64_t count = 0;
  napi_get_value_int64(env, argv[0], &count);
  napi_value name;
  napi_create_string_utf8(env, "baseline", NAPI_AUTO_LENGTH, &name);
  napi_threadsafe_function tsfn;
  if (napi_create_threadsafe_function(env, argv[1], nullptr, name, 0, 1, nullptr, nullptr, nullptr,
                                      asRecord ? CallJsRecord : CallJsNumber, &tsfn) != napi_ok) {
    return nullptr;
  }
  int64_t queued = 0;
  std::thread producer([&] {
    for (int64_t i = 0; i < count; i++) {
      auto* payload = new Payload{static_cast<int32_t>(i)};
      if (napi_call_threadsafe_function(tsfn, payload, napi_tsfn_nonblocking) == napi_ok) {
        queued++;
      } else {
        delete payload;
      }
    }
    napi_release_threadsafe_function(tsfn, napi_tsfn_release);
  });
  producer.join();
  napi_value result;
  napi_create_double(env, static_cast<double>(queued), &result);
  return result;
}

// heapInUse(): bytes currently allocated through malloc, for memory-per-record figures.
napi_value HeapInUse(napi_env env, napi_callback_info /*info*/) {
  const struct mallinfo2 info = mallinfo2();
  napi_value result;
  napi_create_double(env, static_cast<double>(info.uordblks + info.hblkhd), &result);
  return result;
}

}  // namespace

NAPI_MODULE_INIT() {
  napi_value fn;
  napi_create_function(env, nullptr, 0, QueueAll, nullptr, &fn);
  napi_set_named_property(env, exports, "queueAll", fn);
  napi_create_function(env, nullptr, 0, HeapInUse, nullptr, &fn);
  napi_set_named_property(env, exports, "heapInUse", fn);
  return exports;
}
