// The accessibility desktop's model: the applications, their trees of elements and attributes,
// and the log of requests and attribute writes, as world/applications.cc keeps them and the
// AXUIElement calls (HIServices/AXUIElement.cc) answer from them. Lock held for all of it.
#ifndef DESKTOP_SIM_WORLD_ACCESSIBILITY_H_
#define DESKTOP_SIM_WORLD_ACCESSIBILITY_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "world/values.h"

namespace desktop_sim {

enum class StoredKind {
  kString = DESKTOP_SIM_AX_STRING,
  kBoolean = DESKTOP_SIM_AX_BOOLEAN,
  kNumber = DESKTOP_SIM_AX_NUMBER,
  kPoint = DESKTOP_SIM_AX_POINT,
  kSize = DESKTOP_SIM_AX_SIZE,
  kError = DESKTOP_SIM_AX_ERROR,
  kOther = DESKTOP_SIM_AX_OTHER,
  kNull = DESKTOP_SIM_AX_NULL,
  kElement,   // another element of the desktop (focus attributes)
  kChildren,  // the element's children, as an array of elements
};

// An attribute's value as the desktop keeps it; each copy makes a fresh CF object from it.
struct StoredValue {
  StoredKind kind = StoredKind::kNull;
  std::u16string text;
  bool boolean = false;
  int32_t number_type = kCFNumberSInt64Type;
  double number = 0;
  double pair[2] = {0, 0};
  int32_t error = 0;
  int32_t element = -1;
};

struct AxNode {
  std::string id;
  pid_t pid = 0;
  std::vector<std::pair<std::string, StoredValue>> attributes;
  std::vector<std::string> settable;
  std::vector<std::u16string> actions;
  int32_t actions_error = 0;
  std::vector<int32_t> children;
  bool has_children = false;
};

struct AxApp {
  pid_t pid = 0;
  bool has_name = false;
  std::string name;
  bool has_bundle_id = false;
  std::string bundle_id;
  bool running = true;
  int32_t root = -1;
  AXError batch_error = kAXErrorSuccess;  // what AXUIElementCopyMultipleAttributeValues answers
  // A Chromium-like application (>= 0): its web areas answer no children until this long after
  // "AXManualAccessibility" was first set true on it (manual_accessibility_at).
  int64_t web_content_delay_ms = -1;
  bool manual_accessibility_set = false;
  Clock::time_point manual_accessibility_at;
};

// Node 0 is the system-wide element; the fixture's elements follow from node 1.
struct AxWorld {
  std::vector<AxNode> nodes;
  std::vector<AxApp> apps;
  pid_t focused_pid = 0;  // the application that answers the system-wide focus attributes
};

struct AxRequestEntry {
  const char* call;
  pid_t pid;
  std::string element;
  std::string attribute;
  AXError result;
  float timeout;  // the messaging timeout the request was made with, in seconds
};

// An application that stopped answering, once it has answered answers_left more requests.
struct HungApp {
  pid_t pid;
  uint64_t answers_left;
};

// The system's messaging timeout until a program sets another (AXUIElement.h: 6 seconds).
constexpr float kDefaultMessagingTimeout = 6.0f;

struct AxWriteEntry {
  pid_t pid;
  std::string element;
  std::string attribute;
  StoredValue value;
};

struct AxState {
  std::shared_ptr<AxWorld> world;
  std::shared_ptr<AxWorld> building;
  uint32_t latency_us = 0;
  uint32_t item_latency_us = 0;  // per item of the arrays an answer hands out
  std::vector<AxRequestEntry> requests;
  std::vector<AxWriteEntry> writes;
  uint64_t request_count = 0;
  uint64_t answer_ns = 0;
  float messaging_timeout = kDefaultMessagingTimeout;  // process-wide
  std::vector<HungApp> hung;
  // Bumped by every change of the hung applications and by reset; requests waiting for a hung
  // application wake on hang_cv to look again, so a test that ends a hang never waits out a
  // timeout.
  uint64_t hang_generation = 0;
  uint64_t waiting = 0;  // requests waiting for a hung application now
  std::condition_variable hang_cv;
};

constexpr int32_t kSystemWideNode = 0;

// A desktop with the system-wide element alone.
std::shared_ptr<AxWorld> EmptyWorld();
AxState& Ax();
const AxApp* AppOf(const AxWorld& world, pid_t pid);
AxApp* AppOf(AxWorld& world, pid_t pid);
const StoredValue* FindAttribute(const AxNode& node, const std::string& name);

}  // namespace desktop_sim

#endif  // DESKTOP_SIM_WORLD_ACCESSIBILITY_H_
