// The running-application lookup by process id, which AppKit answers on macOS. Not part of any C
// API of the platform: the addon's one platform branch calls this on Linux.
#ifndef DESKTOP_SIM_RUNNING_APPLICATION_H_
#define DESKTOP_SIM_RUNNING_APPLICATION_H_

#include <stdbool.h>
#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum desktop_sim_app_property {
  DESKTOP_SIM_APP_LOCALIZED_NAME = 0,
  DESKTOP_SIM_APP_BUNDLE_IDENTIFIER = 1,
} desktop_sim_app_property;

// false when no application runs with that pid or the property is nil. Otherwise the property's
// UTF-8 length goes to *length and as much as fits (no terminator) to buffer, which may be NULL.
__attribute__((visibility("default"))) bool desktop_sim_running_application_property(
    pid_t pid, desktop_sim_app_property property, char* buffer, size_t capacity, size_t* length);

// Whether the application of pid is the active one, the focused application (AppKit's
// NSRunningApplication active). Answered locally: no application is asked.
__attribute__((visibility("default"))) bool desktop_sim_running_application_active(pid_t pid);

#ifdef __cplusplus
}
#endif

#endif  // DESKTOP_SIM_RUNNING_APPLICATION_H_
