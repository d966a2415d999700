// The accessibility desktop: applications with trees of elements and their attributes, loaded
// through the control surface (desktop_sim_ax_*), the permission switch, the latency of a round
// trip to an application, and the logs of requests and attribute writes. Also the
// running-application lookup by pid.
#include <desktop_sim/running_application.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "world/accessibility.h"

namespace desktop_sim {

std::shared_ptr<AxWorld> EmptyWorld() {
  auto world = std::make_shared<AxWorld>();
  world->nodes.emplace_back();
  AxNode& system = world->nodes[0];
  StoredValue role;
  role.kind = StoredKind::kString;
  role.text = u"AXSystemWide";
  system.attributes.emplace_back("AXRole", role);
  // Nothing has the focus until a desktop says so (a later setting of a name wins).
  StoredValue none;
  none.kind = StoredKind::kError;
  none.error = kAXErrorNoValue;
  system.attributes.emplace_back("AXFocusedApplication", none);
  system.attributes.emplace_back("AXFocusedUIElement", none);
  return world;
}

// Guarded by S().mu, like everything else; leaked with the rest of the desktop.
AxState& Ax() {
  static AxState* state = [] {
    auto* s = new AxState();
    s->world = EmptyWorld();
    return s;
  }();
  return *state;
}

const AxApp* AppOf(const AxWorld& world, pid_t pid) {
  for (const AxApp& app : world.apps) {
    if (app.pid == pid) return &app;
  }
  return nullptr;
}

const StoredValue* FindAttribute(const AxNode& node, const std::string& name) {
  for (auto it = node.attributes.rbegin(); it != node.attributes.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
}

AxApp* AppOf(AxWorld& world, pid_t pid) {
  for (AxApp& app : world.apps) {
    if (app.pid == pid) return &app;
  }
  return nullptr;
}

namespace {

AxNode* BuildingNode(int32_t element) {
  AxState& ax = Ax();
  if (!ax.building || element < 0) return nullptr;
  const size_t index = static_cast<size_t>(element) + 1;
  return index < ax.building->nodes.size() ? &ax.building->nodes[index] : nullptr;
}

StoredValue StoredFromControl(const desktop_sim_ax_value& value) {
  StoredValue stored;
  stored.kind = static_cast<StoredKind>(value.kind);
  if (value.units != nullptr) {
    stored.text.assign(reinterpret_cast<const char16_t*>(value.units), value.length);
  }
  stored.boolean = value.boolean;
  stored.number_type = value.number_type;
  stored.number = value.number;
  stored.pair[0] = value.pair[0];
  stored.pair[1] = value.pair[1];
  stored.error = value.error;
  return stored;
}

desktop_sim_ax_value ControlFromStored(const StoredValue& stored) {
  desktop_sim_ax_value value{};
  value.kind = stored.kind == StoredKind::kElement || stored.kind == StoredKind::kChildren
                   ? DESKTOP_SIM_AX_OTHER
                   : static_cast<desktop_sim_ax_kind>(stored.kind);
  value.units = reinterpret_cast<const uint16_t*>(stored.text.data());
  value.length = stored.text.size();
  value.boolean = stored.boolean;
  value.number_type = stored.number_type;
  value.number = stored.number;
  value.pair[0] = stored.pair[0];
  value.pair[1] = stored.pair[1];
  value.error = stored.error;
  return value;
}

StoredValue ElementValue(int32_t node) {
  StoredValue stored;
  stored.kind = StoredKind::kElement;
  stored.element = node;
  return stored;
}

StoredValue NoValue() {
  StoredValue stored;
  stored.kind = StoredKind::kError;
  stored.error = kAXErrorNoValue;
  return stored;
}

// Adds name unless the fixture gave the attribute itself.
void AddDerived(AxNode* node, const char* name, const StoredValue& value) {
  if (FindAttribute(*node, name) == nullptr) node->attributes.emplace_back(name, value);
}

void MarkApplication(AxWorld* world, int32_t node, pid_t pid) {
  // Every element reachable from an application's root belongs to it (the first one to reach
  // it, when trees share elements). An explicit stack: fixtures may be deep or cyclic.
  std::vector<int32_t> pending{node};
  std::vector<bool> seen(world->nodes.size(), false);
  while (!pending.empty()) {
    const int32_t current = pending.back();
    pending.pop_back();
    if (seen[current]) continue;
    seen[current] = true;
    if (world->nodes[current].pid == 0) world->nodes[current].pid = pid;
    for (int32_t child : world->nodes[current].children) pending.push_back(child);
  }
}

}  // namespace

void ResetAccessibility() {
  AxState& ax = Ax();
  ax.world = EmptyWorld();
  ax.building.reset();
  ax.latency_us = 0;
  ax.item_latency_us = 0;
  ax.requests.clear();
  ax.requests.shrink_to_fit();
  ax.writes.clear();
  ax.request_count = 0;
  ax.answer_ns = 0;
  ax.messaging_timeout = kDefaultMessagingTimeout;
  ax.hung.clear();
  ax.hang_generation++;
  ax.hang_cv.notify_all();
}

}  // namespace desktop_sim

using desktop_sim::Ax;
using desktop_sim::Lock;
using desktop_sim::S;

// --- control surface ---

void desktop_sim_ax_begin(void) {
  Lock lock(S().mu);
  Ax().building = desktop_sim::EmptyWorld();
}

int32_t desktop_sim_ax_add_element(const char* id) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) ax.building = desktop_sim::EmptyWorld();
  ax.building->nodes.emplace_back();
  if (id != nullptr) ax.building->nodes.back().id = id;
  return static_cast<int32_t>(ax.building->nodes.size() - 2);
}

bool desktop_sim_ax_set_attribute(int32_t element, const char* name,
                                  const desktop_sim_ax_value* value) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || name == nullptr || value == nullptr || value->kind < 0 ||
      value->kind > DESKTOP_SIM_AX_NULL) {
    return false;
  }
  node->attributes.emplace_back(name, desktop_sim::StoredFromControl(*value));
  return true;
}

bool desktop_sim_ax_add_settable(int32_t element, const char* name) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || name == nullptr) return false;
  node->settable.emplace_back(name);
  return true;
}

bool desktop_sim_ax_add_action(int32_t element, const uint16_t* units, size_t length) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || (units == nullptr && length > 0)) return false;
  node->actions.emplace_back(reinterpret_cast<const char16_t*>(units), length);
  return true;
}

bool desktop_sim_ax_set_actions_error(int32_t element, int32_t error) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr) return false;
  node->actions_error = error;
  return true;
}

bool desktop_sim_ax_add_child(int32_t element, int32_t child) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || desktop_sim::BuildingNode(child) == nullptr) return false;
  node->children.push_back(child + 1);
  node->has_children = true;
  return true;
}

bool desktop_sim_ax_add_application(int32_t pid, const char* name, const char* bundle_id,
                                    bool running, int32_t root, int32_t focused_element,
                                    int32_t focused_window) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  desktop_sim::AxNode* root_node = desktop_sim::BuildingNode(root);
  if (root_node == nullptr || pid <= 0 || desktop_sim::AppOf(*ax.building, pid) != nullptr) {
    return false;
  }
  if ((focused_element >= 0 && desktop_sim::BuildingNode(focused_element) == nullptr) ||
      (focused_window >= 0 && desktop_sim::BuildingNode(focused_window) == nullptr)) {
    return false;
  }
  desktop_sim::AxApp app;
  app.pid = pid;
  app.has_name = name != nullptr;
  app.name = name ? name : "";
  app.has_bundle_id = bundle_id != nullptr;
  app.bundle_id = bundle_id ? bundle_id : "";
  app.running = running;
  app.root = root + 1;
  ax.building->apps.push_back(app);
  desktop_sim::AddDerived(root_node, "AXFocusedUIElement",
                          focused_element >= 0 ? desktop_sim::ElementValue(focused_element + 1)
                                               : desktop_sim::NoValue());
  desktop_sim::AddDerived(
      root_node, "AXFocusedWindow",
      focused_window >= 0 ? desktop_sim::ElementValue(focused_window + 1) : desktop_sim::NoValue());
  return true;
}

bool desktop_sim_ax_commit(bool trusted, int32_t focused_pid, int32_t system_focused) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) ax.building = desktop_sim::EmptyWorld();
  desktop_sim::AxWorld& world = *ax.building;
  if (system_focused >= 0 && desktop_sim::BuildingNode(system_focused) == nullptr) return false;
  const desktop_sim::AxApp* focused = nullptr;
  if (focused_pid >= 0) {
    focused = desktop_sim::AppOf(world, focused_pid);
    if (focused == nullptr) return false;
  }
  for (const desktop_sim::AxApp& app : world.apps)
    desktop_sim::MarkApplication(&world, app.root, app.pid);
  for (desktop_sim::AxNode& node : world.nodes) {
    if (node.has_children) {
      desktop_sim::StoredValue children;
      children.kind = desktop_sim::StoredKind::kChildren;
      desktop_sim::AddDerived(&node, "AXChildren", children);
    }
  }
  desktop_sim::AxNode& system = world.nodes[desktop_sim::kSystemWideNode];
  system.attributes.emplace_back(
      "AXFocusedApplication",
      focused ? desktop_sim::ElementValue(focused->root) : desktop_sim::NoValue());
  desktop_sim::StoredValue system_focus = desktop_sim::NoValue();
  if (system_focused >= 0) {
    system_focus = desktop_sim::ElementValue(system_focused + 1);
  } else if (focused != nullptr) {
    const desktop_sim::StoredValue* app_focus =
        desktop_sim::FindAttribute(world.nodes[focused->root], "AXFocusedUIElement");
    if (app_focus != nullptr) system_focus = *app_focus;
  }
  system.attributes.emplace_back("AXFocusedUIElement", system_focus);
  world.focused_pid = focused != nullptr ? focused->pid : 0;
  ax.world = std::move(ax.building);
  desktop_sim::SetGranted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY, trusted);
  return true;
}

bool desktop_sim_ax_set_batch_error(int32_t pid, int32_t error) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) return false;
  for (desktop_sim::AxApp& app : ax.building->apps) {
    if (app.pid == pid) {
      app.batch_error = static_cast<AXError>(error);
      return true;
    }
  }
  return false;
}

bool desktop_sim_ax_set_web_content_delay(int32_t pid, int64_t milliseconds) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building || milliseconds < 0) return false;
  desktop_sim::AxApp* app = desktop_sim::AppOf(*ax.building, pid);
  if (app == nullptr) return false;
  app->web_content_delay_ms = milliseconds;
  return true;
}

void desktop_sim_ax_set_hung(int32_t pid, bool hung, uint64_t answers_first) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  auto& apps = ax.hung;
  apps.erase(std::remove_if(apps.begin(), apps.end(),
                            [pid](const desktop_sim::HungApp& app) { return app.pid == pid; }),
             apps.end());
  if (hung) apps.push_back(desktop_sim::HungApp{pid, answers_first});
  ax.hang_generation++;
  ax.hang_cv.notify_all();
}

void desktop_sim_ax_set_trusted(bool trusted) {
  desktop_sim_set_permission(DESKTOP_SIM_PERMISSION_ACCESSIBILITY, trusted);
}

bool desktop_sim_ax_trusted(void) {
  return desktop_sim_permission_granted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY);
}

void desktop_sim_ax_set_latency_us(uint32_t microseconds) {
  Lock lock(S().mu);
  Ax().latency_us = microseconds;
}

void desktop_sim_ax_set_item_latency_us(uint32_t microseconds) {
  Lock lock(S().mu);
  Ax().item_latency_us = microseconds;
}

namespace {

// Hands each entry of a log to the caller, from a copy taken under the lock so the callback may
// call back into the desktop; the record's pointers live until each returns.
template <typename Entry, typename Record, typename MakeRecord>
void ForEachLogged(std::vector<Entry> desktop_sim::AxState::*log,
                   void (*each)(void*, const Record*), void* context, MakeRecord make) {
  if (each == nullptr) return;
  std::vector<Entry> entries;
  {
    Lock lock(S().mu);
    entries = Ax().*log;
  }
  for (const Entry& entry : entries) {
    const Record record = make(entry);
    each(context, &record);
  }
}

}  // namespace

void desktop_sim_ax_requests(void (*each)(void*, const desktop_sim_ax_request*), void* context) {
  ForEachLogged(&desktop_sim::AxState::requests, each, context,
                [](const desktop_sim::AxRequestEntry& entry) {
                  return desktop_sim_ax_request{entry.call,
                                                entry.pid,
                                                entry.element.c_str(),
                                                entry.attribute.c_str(),
                                                entry.result,
                                                static_cast<double>(entry.timeout)};
                });
}

void desktop_sim_ax_writes(void (*each)(void*, const desktop_sim_ax_write*), void* context) {
  ForEachLogged(
      &desktop_sim::AxState::writes, each, context, [](const desktop_sim::AxWriteEntry& entry) {
        return desktop_sim_ax_write{entry.pid, entry.element.c_str(), entry.attribute.c_str(),
                                    desktop_sim::ControlFromStored(entry.value)};
      });
}

void desktop_sim_ax_stats_get(desktop_sim_ax_stats* out) {
  if (out == nullptr) return;
  Lock lock(S().mu);
  out->requests = Ax().request_count;
  out->answer_ns = Ax().answer_ns;
  out->latency_us = Ax().latency_us;
  out->waiting = Ax().waiting;
  out->item_latency_us = Ax().item_latency_us;
}

bool desktop_sim_running_application_active(pid_t pid) {
  Lock lock(S().mu);
  const desktop_sim::AxWorld& world = *Ax().world;
  const desktop_sim::AxApp* app = desktop_sim::AppOf(world, pid);
  return app != nullptr && app->running && world.focused_pid == pid;
}

bool desktop_sim_running_application_property(pid_t pid, desktop_sim_app_property property,
                                              char* buffer, size_t capacity, size_t* length) {
  Lock lock(S().mu);
  const desktop_sim::AxApp* app = desktop_sim::AppOf(*Ax().world, pid);
  if (app == nullptr || !app->running) return false;
  const bool present =
      property == DESKTOP_SIM_APP_LOCALIZED_NAME ? app->has_name : app->has_bundle_id;
  if (!present) return false;
  const std::string& text = property == DESKTOP_SIM_APP_LOCALIZED_NAME ? app->name : app->bundle_id;
  if (length != nullptr) *length = text.size();
  if (buffer != nullptr) std::memcpy(buffer, text.data(), std::min(capacity, text.size()));
  return true;
}
