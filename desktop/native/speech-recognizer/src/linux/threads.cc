#include "threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace palvorin {
namespace {

void* runThreadBody(void* context) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(context));
  (*body)();
  return nullptr;
}

}  // namespace

int niceValueForClass(QosClass qos, int inheritedNice) {
  switch (qos) {
    case QosClass::background:
      return std::max(inheritedNice, kBackgroundNice);
    case QosClass::utility:
      return std::max(inheritedNice, kUtilityNice);
    case QosClass::userInitiated:
      return inheritedNice;
  }
  return inheritedNice;
}

// PRIO_PROCESS with a thread id addresses that one thread on Linux, not the whole process.
int currentThreadNice() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  return errno == 0 ? nice : 0;
}

bool setCurrentThreadNice(int nice) {
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice) == 0;
}

bool startDetachedThread(std::function<void()> body) {
  auto* context = new std::function<void()>(std::move(body));
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) {
    delete context;
    return false;
  }
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int started = ::pthread_create(&thread, &attributes, runThreadBody, context);
  ::pthread_attr_destroy(&attributes);
  if (started != 0) {
    delete context;
    return false;
  }
  return true;
}

}  // namespace palvorin
