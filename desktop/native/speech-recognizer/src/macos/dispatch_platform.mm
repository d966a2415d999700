// The platform on macOS: Foundation for the environment, the file test and the sleep, and
// Dispatch for the semaphores and the global queues.
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include "system_backend.h"

namespace palvorin {
namespace {

qos_class_t dispatchClass(QosClass qos) {
  switch (qos) {
    case QosClass::background:
      return QOS_CLASS_BACKGROUND;
    case QosClass::utility:
      return QOS_CLASS_UTILITY;
    case QosClass::userInitiated:
      return QOS_CLASS_USER_INITIATED;
  }
  return QOS_CLASS_UTILITY;
}

std::optional<std::string> environmentValue(const std::string& name) {
  @autoreleasepool {
    NSDictionary<NSString*, NSString*>* environment = [[NSProcessInfo processInfo] environment];
    NSString* key = [[NSString alloc] initWithBytes:name.data()
                                             length:name.size()
                                           encoding:NSUTF8StringEncoding];
    NSString* value = key == nil ? nil : environment[key];
    if (value == nil) return std::nullopt;
    const char* text = value.UTF8String;
    return std::string(text != nullptr ? text : "");
  }
}

// The path's bytes go to the file system as they are, even when they are not valid UTF-8.
bool fileExists(const std::string& path) {
  @autoreleasepool {
    NSFileManager* files = [NSFileManager defaultManager];
    if (path.empty()) return false;
    NSString* filePath = [files stringWithFileSystemRepresentation:path.data() length:path.size()];
    return filePath != nil && [files fileExistsAtPath:filePath];
  }
}

void sleepOneSecond() {
  [NSThread sleepForTimeInterval:1.0];
}

// Under ARC the semaphore is an object the two closures retain, so copies outlive the caller.
Semaphore makeDispatchSemaphore() {
  dispatch_semaphore_t semaphore = dispatch_semaphore_create(0);
  Semaphore result;
  result.wait = [semaphore] { dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER); };
  result.signal = [semaphore] { dispatch_semaphore_signal(semaphore); };
  return result;
}

// The work item itself carries no quality of service of its own: the queue's class applies.
void dispatchAsync(QosClass qos, std::function<void()> work) {
  dispatch_async(dispatch_get_global_queue(dispatchClass(qos), 0), ^{
    @autoreleasepool {
      work();
    }
  });
}

}  // namespace

Platform makeSystemPlatform() {
  Platform platform;
  platform.environmentValue = environmentValue;
  platform.fileExists = fileExists;
  platform.sleepOneSecond = sleepOneSecond;
  platform.makeSemaphore = makeDispatchSemaphore;
  platform.dispatchAsync = dispatchAsync;
  return platform;
}

}  // namespace palvorin
