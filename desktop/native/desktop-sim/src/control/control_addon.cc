// The control module's native half: thin bindings of the control surface for index.js, which
// validates every argument before it gets here.
#include <napi.h>

#include <desktop_sim/control.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t kMaxSafeInteger = (1ull << 53) - 1;

Napi::Value Unsigned64(Napi::Env env, uint64_t value) {
  if (value <= kMaxSafeInteger) return Napi::Number::New(env, static_cast<double>(value));
  return Napi::BigInt::New(env, value);
}

bool ThrowType(Napi::Env env, const char* message) {
  Napi::TypeError::New(env, message).ThrowAsJavaScriptException();
  return false;
}

bool ReadEvent(const Napi::CallbackInfo& info, desktop_sim_event* event) {
  if (info.Length() < 6 || !info[0].IsNumber() || !info[1].IsNumber() || !info[2].IsBigInt() ||
      !info[3].IsNumber() || !info[4].IsNumber() || !info[5].IsNumber()) {
    return ThrowType(info.Env(), "internal: (type, button, flags: bigint, keycode, x, y)");
  }
  bool lossless = true;
  event->type = info[0].As<Napi::Number>().Uint32Value();
  event->button = info[1].As<Napi::Number>().Int64Value();
  event->flags = info[2].As<Napi::BigInt>().Uint64Value(&lossless);
  event->keycode = info[3].As<Napi::Number>().Int64Value();
  event->x = info[4].As<Napi::Number>().DoubleValue();
  event->y = info[5].As<Napi::Number>().DoubleValue();
  return true;
}

Napi::Value Reset(const Napi::CallbackInfo& info) {
  desktop_sim_reset();
  return info.Env().Undefined();
}

Napi::Value HidSend(const Napi::CallbackInfo& info) {
  desktop_sim_event event;
  if (!ReadEvent(info, &event)) return info.Env().Null();
  return Napi::Boolean::New(info.Env(), desktop_sim_hid_send(&event));
}

Napi::Value HidSendMany(const Napi::CallbackInfo& info) {
  desktop_sim_event event;
  if (!ReadEvent(info, &event)) return info.Env().Null();
  if (info.Length() < 7 || !info[6].IsNumber()) {
    ThrowType(info.Env(), "internal: count");
    return info.Env().Null();
  }
  const int64_t count = info[6].As<Napi::Number>().Int64Value();
  const uint64_t reached = desktop_sim_hid_send_many(&event, count > 0 ? count : 0);
  return Napi::Number::New(info.Env(), static_cast<double>(reached));
}

// Answers the result code of desktop_sim_hid_key; index.js turns the refusals into errors.
Napi::Value HidKey(const Napi::CallbackInfo& info) {
  if (info.Length() < 2 || !info[0].IsNumber() || !info[1].IsBoolean()) {
    ThrowType(info.Env(), "internal: (keycode, down)");
    return info.Env().Null();
  }
  const auto keycode = static_cast<uint16_t>(info[0].As<Napi::Number>().Uint32Value());
  return Napi::Number::New(info.Env(),
                           desktop_sim_hid_key(keycode, info[1].As<Napi::Boolean>().Value()));
}

Napi::Value KeysDown(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::vector<uint16_t> keys(desktop_sim_keys_down(nullptr, 0) + 8);
  keys.resize(std::min(keys.size(), desktop_sim_keys_down(keys.data(), keys.size())));
  Napi::Array result = Napi::Array::New(env, keys.size());
  for (size_t i = 0; i < keys.size(); ++i) result.Set(i, Napi::Number::New(env, keys[i]));
  return result;
}

Napi::Value KeyboardFlags(const Napi::CallbackInfo& info) {
  return Unsigned64(info.Env(), desktop_sim_keyboard_flags());
}

Napi::Value HidDisableTaps(const Napi::CallbackInfo& info) {
  const bool user_input = info.Length() > 0 && info[0].ToBoolean().Value();
  const size_t disabled = desktop_sim_hid_disable_taps(user_input ? DESKTOP_SIM_DISABLE_USER_INPUT
                                                                  : DESKTOP_SIM_DISABLE_TIMEOUT);
  return Napi::Number::New(info.Env(), static_cast<double>(disabled));
}

Napi::Value Taps(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::vector<desktop_sim_tap_info> taps(desktop_sim_taps(nullptr, 0) + 8);
  taps.resize(std::min(taps.size(), desktop_sim_taps(taps.data(), taps.size())));
  Napi::Array result = Napi::Array::New(env, taps.size());
  for (size_t i = 0; i < taps.size(); ++i) {
    Napi::Object tap = Napi::Object::New(env);
    tap.Set("enabled", Napi::Boolean::New(env, taps[i].enabled));
    tap.Set("location", Napi::Number::New(env, taps[i].location));
    tap.Set("placement", Napi::Number::New(env, taps[i].placement));
    tap.Set("options", Napi::Number::New(env, taps[i].options));
    tap.Set("mask", Unsigned64(env, taps[i].mask));
    result.Set(static_cast<uint32_t>(i), tap);
  }
  return result;
}

Napi::Value RefuseTaps(const Napi::CallbackInfo& info) {
  desktop_sim_refuse_taps(info.Length() > 0 && info[0].ToBoolean().Value());
  return info.Env().Undefined();
}

Napi::Value TapsRefused(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), desktop_sim_taps_refused());
}

Napi::Value SetTapTimeout(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsNumber()) {
    ThrowType(info.Env(), "internal: ms");
    return info.Env().Null();
  }
  desktop_sim_set_tap_timeout_ms(info[0].As<Napi::Number>().Uint32Value());
  return info.Env().Undefined();
}

Napi::Value TapTimeout(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), desktop_sim_tap_timeout_ms());
}

Napi::Value Settle(const Napi::CallbackInfo& info) {
  const uint32_t ms = info.Length() > 0 && info[0].IsNumber()
                          ? info[0].As<Napi::Number>().Uint32Value()
                          : DESKTOP_SIM_DEFAULT_TAP_TIMEOUT_MS * 5;
  return Napi::Boolean::New(info.Env(), desktop_sim_settle(ms));
}

Napi::Value CfLive(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_cf_live()));
}

Napi::Value CfMisuse(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_cf_misuse()));
}

Napi::Value CfMisuseLog(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  Napi::Array result = Napi::Array::New(env);
  for (size_t i = 0;; ++i) {
    const size_t length = desktop_sim_cf_misuse_text(i, nullptr, 0);
    if (length == 0) break;
    std::string text(length + 1, '\0');
    desktop_sim_cf_misuse_text(i, &text[0], text.size());
    text.resize(length);
    result.Set(static_cast<uint32_t>(i), Napi::String::New(env, text));
  }
  return result;
}

Napi::Value CfObjects(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_cf_objects()));
}

Napi::Value AppEvents(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::vector<desktop_sim_event> events(DESKTOP_SIM_APP_EVENT_LOG);
  events.resize(std::min(events.size(), desktop_sim_app_events(events.data(), events.size())));
  Napi::Array result = Napi::Array::New(env, events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    Napi::Object event = Napi::Object::New(env);
    event.Set("type", Napi::Number::New(env, events[i].type));
    event.Set("button", Napi::Number::New(env, static_cast<double>(events[i].button)));
    event.Set("flags", Unsigned64(env, events[i].flags));
    event.Set("keycode", Napi::Number::New(env, static_cast<double>(events[i].keycode)));
    event.Set("x", Napi::Number::New(env, events[i].x));
    event.Set("y", Napi::Number::New(env, events[i].y));
    result.Set(static_cast<uint32_t>(i), event);
  }
  return result;
}

Napi::Value AppEventCount(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_app_event_count()));
}

Napi::Value CallbackStats(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  desktop_sim_callback_stats stats;
  desktop_sim_callback_stats_get(&stats);
  Napi::Object result = Napi::Object::New(env);
  result.Set("count", Napi::Number::New(env, static_cast<double>(stats.count)));
  result.Set("medianNs", Napi::Number::New(env, static_cast<double>(stats.median_ns)));
  result.Set("p99Ns", Napi::Number::New(env, static_cast<double>(stats.p99_ns)));
  result.Set("maxNs", Napi::Number::New(env, static_cast<double>(stats.max_ns)));
  result.Set("meanNs", Napi::Number::New(env, stats.mean_ns));
  return result;
}

Napi::Value ResetCallbackStats(const Napi::CallbackInfo& info) {
  desktop_sim_callback_stats_reset();
  return info.Env().Undefined();
}

// Only the fields that apply to the event's CGEventType: mouse events (1 to 7, 25 to 27) have
// a button and a click state, key events (10, 11) a key code, a direction and maybe a text,
// flags-changed events (12) a key code, scroll-wheel events (22) two wheels.
Napi::Object PostedObject(Napi::Env env, const desktop_sim_posted_event& event, size_t index) {
  const bool mouse = (event.type >= 1 && event.type <= 7) || (event.type >= 25 && event.type <= 27);
  const bool key = event.type == 10 || event.type == 11;
  Napi::Object object = Napi::Object::New(env);
  object.Set("type", Napi::Number::New(env, event.type));
  object.Set("x", Napi::Number::New(env, event.x));
  object.Set("y", Napi::Number::New(env, event.y));
  if (mouse) {
    object.Set("button", Napi::Number::New(env, static_cast<double>(event.button)));
    object.Set("clickState", Napi::Number::New(env, static_cast<double>(event.click_state)));
  }
  object.Set("flags", Unsigned64(env, event.flags));
  if (key || event.type == 12) {
    object.Set("keycode", Napi::Number::New(env, static_cast<double>(event.keycode)));
  }
  if (key) object.Set("keyDown", Napi::Boolean::New(env, event.key_down));
  if (event.has_text) {
    std::u16string text(event.text_length, u'\0');
    desktop_sim_posted_text(index, reinterpret_cast<uint16_t*>(&text[0]), text.size());
    // Set() would turn a Napi::String into UTF-8 and back, replacing unpaired surrogates; a
    // plain Napi::Value is set as it is.
    const Napi::Value value = Napi::String::New(env, text);
    object.Set("text", value);
  }
  if (event.type == 22) {
    object.Set("wheel1", Napi::Number::New(env, static_cast<double>(event.wheel1)));
    object.Set("wheel2", Napi::Number::New(env, static_cast<double>(event.wheel2)));
  }
  if (event.dropped) object.Set("dropped", Napi::Boolean::New(env, true));
  return object;
}

Napi::Value Posted(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::vector<desktop_sim_posted_event> events(desktop_sim_posted(nullptr, 0));
  events.resize(std::min(events.size(), desktop_sim_posted(events.data(), events.size())));
  Napi::Array result = Napi::Array::New(env, events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    result.Set(static_cast<uint32_t>(i), PostedObject(env, events[i], i));
  }
  return result;
}

Napi::Value PostedCount(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_posted_count()));
}

Napi::Value ClearPosted(const Napi::CallbackInfo& info) {
  desktop_sim_clear_posted();
  return info.Env().Undefined();
}

Napi::Value SetPostedLimit(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsNumber()) {
    ThrowType(info.Env(), "internal: limit");
    return info.Env().Undefined();
  }
  desktop_sim_set_posted_limit(static_cast<size_t>(info[0].As<Napi::Number>().DoubleValue()));
  return info.Env().Undefined();
}

Napi::Value FailEventCreation(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsNumber()) {
    ThrowType(info.Env(), "internal: every");
    return info.Env().Null();
  }
  desktop_sim_fail_event_creation(info[0].As<Napi::Number>().Uint32Value());
  return info.Env().Undefined();
}

// --- permissions ---

// The permission's number (desktop_sim_permission), checked by index.js.
desktop_sim_permission PermissionArg(const Napi::CallbackInfo& info) {
  return static_cast<desktop_sim_permission>(info.Length() > 0 ? info[0].ToNumber().Int32Value()
                                                               : -1);
}

Napi::Value SetPermission(const Napi::CallbackInfo& info) {
  desktop_sim_set_permission(PermissionArg(info), info.Length() > 1 && info[1].ToBoolean().Value());
  return info.Env().Undefined();
}

Napi::Value PermissionGranted(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), desktop_sim_permission_granted(PermissionArg(info)));
}

Napi::Value Prompts(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(),
                           static_cast<double>(desktop_sim_prompts(PermissionArg(info))));
}

Napi::Value SetRevocationDelay(const Napi::CallbackInfo& info) {
  desktop_sim_set_revocation_delay_ms(info.Length() > 0 ? info[0].ToNumber().Uint32Value() : 0);
  return info.Env().Undefined();
}

Napi::Value RevocationDelay(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), desktop_sim_revocation_delay_ms());
}

Napi::Value HeldBack(const Napi::CallbackInfo& info) {
  return Napi::Number::New(info.Env(), static_cast<double>(desktop_sim_held_back()));
}

// --- stale preflight answers, tap creations, the Fn latch ---

Napi::Value SetPreflightStale(const Napi::CallbackInfo& info) {
  desktop_sim_set_preflight_stale(PermissionArg(info),
                                  info.Length() > 1 && info[1].ToBoolean().Value());
  return info.Env().Undefined();
}

Napi::Value PreflightStale(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), desktop_sim_preflight_stale(PermissionArg(info)));
}

Napi::Value TapCreateCalls(const Napi::CallbackInfo& info) {
  return Unsigned64(info.Env(), desktop_sim_tap_create_calls());
}

Napi::Value SetFnLatch(const Napi::CallbackInfo& info) {
  desktop_sim_set_fn_latch(info.Length() > 0 && info[0].ToBoolean().Value());
  return info.Env().Undefined();
}

Napi::Value FnLatch(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), desktop_sim_fn_latch());
}

// --- accessibility ---

// Reads the desktop that index.js validated and flattened (elements by number, refs resolved):
// {trusted, focusedPid, systemFocused, elements: [{id, attributes: [[name, kind, a, b]],
// settable, actions, actionsError, children}], apps: [{pid, name, bundleId, running, root,
// focusedElement, focusedWindow, batchError}]}.
std::string Utf8Or(const Napi::Value& value, bool* present) {
  *present = value.IsString();
  return *present ? value.As<Napi::String>().Utf8Value() : std::string();
}

int32_t Int32Of(const Napi::Object& object, const char* key) {
  return object.Get(key).ToNumber().Int32Value();
}

bool LoadAttribute(int32_t element, const Napi::Array& row) {
  const std::string name = row.Get(0u).As<Napi::String>().Utf8Value();
  desktop_sim_ax_value value{};
  value.kind = static_cast<desktop_sim_ax_kind>(row.Get(1u).ToNumber().Int32Value());
  const Napi::Value a = row.Get(2u);
  const Napi::Value b = row.Get(3u);
  std::u16string text;
  switch (value.kind) {
    case DESKTOP_SIM_AX_STRING:
      text = a.As<Napi::String>().Utf16Value();
      value.units = reinterpret_cast<const uint16_t*>(text.data());
      value.length = text.size();
      break;
    case DESKTOP_SIM_AX_BOOLEAN:
      value.boolean = a.ToBoolean().Value();
      break;
    case DESKTOP_SIM_AX_NUMBER:
      value.number = a.ToNumber().DoubleValue();
      value.number_type = b.ToNumber().Int32Value();
      break;
    case DESKTOP_SIM_AX_POINT:
    case DESKTOP_SIM_AX_SIZE:
      value.pair[0] = a.ToNumber().DoubleValue();
      value.pair[1] = b.ToNumber().DoubleValue();
      break;
    case DESKTOP_SIM_AX_ERROR:
      value.error = a.ToNumber().Int32Value();
      break;
    default:
      break;
  }
  return desktop_sim_ax_set_attribute(element, name.c_str(), &value);
}

bool LoadElement(const Napi::Object& described) {
  bool has_id = false;
  const std::string id = Utf8Or(described.Get("id"), &has_id);
  const int32_t element = desktop_sim_ax_add_element(has_id ? id.c_str() : nullptr);
  bool ok = true;
  const Napi::Array attributes = described.Get("attributes").As<Napi::Array>();
  for (uint32_t i = 0; i < attributes.Length(); ++i) {
    ok = LoadAttribute(element, attributes.Get(i).As<Napi::Array>()) && ok;
  }
  const Napi::Array settable = described.Get("settable").As<Napi::Array>();
  for (uint32_t i = 0; i < settable.Length(); ++i) {
    const std::string name = settable.Get(i).As<Napi::String>().Utf8Value();
    ok = desktop_sim_ax_add_settable(element, name.c_str()) && ok;
  }
  const Napi::Array actions = described.Get("actions").As<Napi::Array>();
  for (uint32_t i = 0; i < actions.Length(); ++i) {
    const std::u16string name = actions.Get(i).As<Napi::String>().Utf16Value();
    ok = desktop_sim_ax_add_action(element, reinterpret_cast<const uint16_t*>(name.data()),
                                   name.size()) &&
         ok;
  }
  const int32_t actions_error = Int32Of(described, "actionsError");
  if (actions_error != 0) ok = desktop_sim_ax_set_actions_error(element, actions_error) && ok;
  return ok;
}

bool LoadApplication(const Napi::Object& app) {
  bool has_name = false;
  bool has_bundle = false;
  const std::string name = Utf8Or(app.Get("name"), &has_name);
  const std::string bundle = Utf8Or(app.Get("bundleId"), &has_bundle);
  const int32_t pid = Int32Of(app, "pid");
  const bool added = desktop_sim_ax_add_application(
      pid, has_name ? name.c_str() : nullptr, has_bundle ? bundle.c_str() : nullptr,
      app.Get("running").ToBoolean().Value(), Int32Of(app, "root"), Int32Of(app, "focusedElement"),
      Int32Of(app, "focusedWindow"));
  const int32_t batch_error = Int32Of(app, "batchError");
  const double web_content_delay = app.Get("webContentDelayMs").ToNumber().DoubleValue();
  return added && (batch_error == 0 || desktop_sim_ax_set_batch_error(pid, batch_error)) &&
         (web_content_delay < 0 ||
          desktop_sim_ax_set_web_content_delay(pid, static_cast<int64_t>(web_content_delay)));
}

Napi::Value AxLoad(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsObject()) {
    ThrowType(env, "internal: flattened desktop");
    return env.Null();
  }
  const Napi::Object desktop = info[0].As<Napi::Object>();
  desktop_sim_ax_begin();
  bool ok = true;
  const Napi::Array elements = desktop.Get("elements").As<Napi::Array>();
  for (uint32_t i = 0; i < elements.Length(); ++i) {
    ok = LoadElement(elements.Get(i).As<Napi::Object>()) && ok;
  }
  for (uint32_t i = 0; i < elements.Length(); ++i) {
    const Napi::Array children =
        elements.Get(i).As<Napi::Object>().Get("children").As<Napi::Array>();
    for (uint32_t k = 0; k < children.Length(); ++k) {
      ok = desktop_sim_ax_add_child(static_cast<int32_t>(i),
                                    children.Get(k).ToNumber().Int32Value()) &&
           ok;
    }
  }
  const Napi::Array apps = desktop.Get("apps").As<Napi::Array>();
  for (uint32_t i = 0; i < apps.Length(); ++i) {
    ok = LoadApplication(apps.Get(i).As<Napi::Object>()) && ok;
  }
  if (!ok) return Napi::Boolean::New(env, false);  // the old desktop stays
  return Napi::Boolean::New(env, desktop_sim_ax_commit(desktop.Get("trusted").ToBoolean().Value(),
                                                       Int32Of(desktop, "focusedPid"),
                                                       Int32Of(desktop, "systemFocused")));
}

Napi::Value AxSetTrusted(const Napi::CallbackInfo& info) {
  desktop_sim_ax_set_trusted(info.Length() > 0 && info[0].ToBoolean().Value());
  return info.Env().Undefined();
}

Napi::Value AxTrusted(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), desktop_sim_ax_trusted());
}

// (pid, on, answersFirst), checked by index.js.
Napi::Value AxSetHung(const Napi::CallbackInfo& info) {
  desktop_sim_ax_set_hung(info[0].ToNumber().Int32Value(), info[1].ToBoolean().Value(),
                          static_cast<uint64_t>(info[2].ToNumber().DoubleValue()));
  return info.Env().Undefined();
}

Napi::Value AxSetLatency(const Napi::CallbackInfo& info) {
  desktop_sim_ax_set_latency_us(info.Length() > 0 ? info[0].ToNumber().Uint32Value() : 0);
  return info.Env().Undefined();
}

struct Collected {
  Napi::Env env;
  Napi::Array array;
  uint32_t next;
};

Napi::Value OrNull(Napi::Env env, const char* text) {
  if (text == nullptr || text[0] == '\0') return env.Null();
  return Napi::String::New(env, text);
}

Napi::Value ScriptValueOf(Napi::Env env, const desktop_sim_ax_value& value) {
  switch (value.kind) {
    case DESKTOP_SIM_AX_STRING:
      return Napi::String::New(env, reinterpret_cast<const char16_t*>(value.units), value.length);
    case DESKTOP_SIM_AX_BOOLEAN:
      return Napi::Boolean::New(env, value.boolean);
    case DESKTOP_SIM_AX_NUMBER:
      return Napi::Number::New(env, value.number);
    case DESKTOP_SIM_AX_POINT: {
      Napi::Object point = Napi::Object::New(env);
      point.Set("point", Napi::Array::New(env, 2));
      point.Get("point").As<Napi::Array>().Set(0u, value.pair[0]);
      point.Get("point").As<Napi::Array>().Set(1u, value.pair[1]);
      return point;
    }
    case DESKTOP_SIM_AX_SIZE: {
      Napi::Object size = Napi::Object::New(env);
      size.Set("size", Napi::Array::New(env, 2));
      size.Get("size").As<Napi::Array>().Set(0u, value.pair[0]);
      size.Get("size").As<Napi::Array>().Set(1u, value.pair[1]);
      return size;
    }
    case DESKTOP_SIM_AX_NULL:
      return env.Null();
    default: {
      Napi::Object other = Napi::Object::New(env);
      other.Set("other", Napi::Boolean::New(env, true));
      return other;
    }
  }
}

void CollectRequest(void* context, const desktop_sim_ax_request* request) {
  auto* out = static_cast<Collected*>(context);
  Napi::Object row = Napi::Object::New(out->env);
  row.Set("call", Napi::String::New(out->env, request->call));
  row.Set("pid", Napi::Number::New(out->env, request->pid));
  row.Set("element", OrNull(out->env, request->element));
  row.Set("attribute", OrNull(out->env, request->attribute));
  row.Set("result", Napi::Number::New(out->env, request->result));
  row.Set("timeout", Napi::Number::New(out->env, request->timeout));
  out->array.Set(out->next++, row);
}

void CollectWrite(void* context, const desktop_sim_ax_write* write) {
  auto* out = static_cast<Collected*>(context);
  Napi::Object row = Napi::Object::New(out->env);
  row.Set("pid", Napi::Number::New(out->env, write->pid));
  row.Set("element", OrNull(out->env, write->element));
  row.Set("attribute", Napi::String::New(out->env, write->attribute));
  row.Set("value", ScriptValueOf(out->env, write->value));
  out->array.Set(out->next++, row);
}

Napi::Value AxRequests(const Napi::CallbackInfo& info) {
  Collected out{info.Env(), Napi::Array::New(info.Env()), 0};
  desktop_sim_ax_requests(CollectRequest, &out);
  return out.array;
}

Napi::Value AxWrites(const Napi::CallbackInfo& info) {
  Collected out{info.Env(), Napi::Array::New(info.Env()), 0};
  desktop_sim_ax_writes(CollectWrite, &out);
  return out.array;
}

Napi::Value AxStats(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  desktop_sim_ax_stats stats;
  desktop_sim_ax_stats_get(&stats);
  Napi::Object result = Napi::Object::New(env);
  result.Set("requests", Napi::Number::New(env, static_cast<double>(stats.requests)));
  result.Set("answerNs", Napi::Number::New(env, static_cast<double>(stats.answer_ns)));
  result.Set("latencyUs", Napi::Number::New(env, stats.latency_us));
  result.Set("waiting", Napi::Number::New(env, static_cast<double>(stats.waiting)));
  result.Set("itemLatencyUs", Napi::Number::New(env, stats.item_latency_us));
  return result;
}

// --- accessibility: answers that grow with their size ---

Napi::Value AxSetItemLatency(const Napi::CallbackInfo& info) {
  desktop_sim_ax_set_item_latency_us(info.Length() > 0 ? info[0].ToNumber().Uint32Value() : 0);
  return info.Env().Undefined();
}

// --- keyboard layouts ---

Napi::Value SetKeyboardLayout(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) {
    ThrowType(info.Env(), "internal: id");
    return info.Env().Null();
  }
  const std::string id = info[0].As<Napi::String>().Utf8Value();
  return Napi::Boolean::New(info.Env(), desktop_sim_set_keyboard_layout(id.c_str()));
}

Napi::Value KeyboardLayout(const Napi::CallbackInfo& info) {
  return Napi::String::New(info.Env(), desktop_sim_keyboard_layout());
}

Napi::Value KeyboardLayoutIds(const Napi::CallbackInfo& info) {
  Napi::Array ids = Napi::Array::New(info.Env());
  for (uint32_t i = 0; i < desktop_sim_keyboard_layout_count(); ++i) {
    ids.Set(i, desktop_sim_keyboard_layout_id(i));
  }
  return ids;
}

struct Export {
  const char* name;
  Napi::Value (*function)(const Napi::CallbackInfo&);
};

constexpr Export kExports[] = {
    {"reset", Reset},
    {"hidSend", HidSend},
    {"hidSendMany", HidSendMany},
    {"hidKey", HidKey},
    {"keysDown", KeysDown},
    {"keyboardFlags", KeyboardFlags},
    {"hidDisableTaps", HidDisableTaps},
    {"taps", Taps},
    {"refuseTaps", RefuseTaps},
    {"tapsRefused", TapsRefused},
    {"setTapTimeout", SetTapTimeout},
    {"tapTimeout", TapTimeout},
    {"settle", Settle},
    {"cfLive", CfLive},
    {"cfMisuse", CfMisuse},
    {"cfMisuseLog", CfMisuseLog},
    {"cfObjects", CfObjects},
    {"appEvents", AppEvents},
    {"appEventCount", AppEventCount},
    {"callbackStats", CallbackStats},
    {"resetCallbackStats", ResetCallbackStats},
    {"posted", Posted},
    {"postedCount", PostedCount},
    {"clearPosted", ClearPosted},
    {"setPostedLimit", SetPostedLimit},
    {"failEventCreation", FailEventCreation},
    {"setPermission", SetPermission},
    {"permissionGranted", PermissionGranted},
    {"prompts", Prompts},
    {"setRevocationDelay", SetRevocationDelay},
    {"revocationDelay", RevocationDelay},
    {"heldBack", HeldBack},
    {"setPreflightStale", SetPreflightStale},
    {"preflightStale", PreflightStale},
    {"tapCreateCalls", TapCreateCalls},
    {"setFnLatch", SetFnLatch},
    {"fnLatch", FnLatch},
    {"axLoad", AxLoad},
    {"axSetTrusted", AxSetTrusted},
    {"axTrusted", AxTrusted},
    {"axSetLatency", AxSetLatency},
    {"axSetHung", AxSetHung},
    {"axRequests", AxRequests},
    {"axWrites", AxWrites},
    {"axStats", AxStats},
    {"axSetItemLatency", AxSetItemLatency},
    {"setKeyboardLayout", SetKeyboardLayout},
    {"keyboardLayout", KeyboardLayout},
    {"keyboardLayoutIds", KeyboardLayoutIds},
};

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  for (const Export& e : kExports)
    exports.Set(e.name, Napi::Function::New(env, e.function, e.name));
  return exports;
}

}  // namespace

NODE_API_MODULE(desktop_sim_control, Init)
