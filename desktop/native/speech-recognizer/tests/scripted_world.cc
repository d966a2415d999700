#include "scripted_world.h"

#include <algorithm>
#include <memory>

#include "thread_semaphore.h"
#include "transcription_command.h"

namespace palvorin::testing {

HandlerCall finalResult(const std::string& text) {
  return HandlerCall{RecognitionResult{true, text}, std::nullopt};
}

HandlerCall partialResult(const std::string& text) {
  return HandlerCall{RecognitionResult{false, text}, std::nullopt};
}

HandlerCall errorCall(int64_t code, const std::string& domain, const std::string& message) {
  return HandlerCall{std::nullopt, RecognitionError{code, domain, message}};
}

ScriptedWorld::ScriptedWorld(SpeechScript speech, PlatformScript platform)
    : speech_(std::move(speech)), platform_(std::move(platform)) {}

ScriptedWorld::~ScriptedWorld() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

void ScriptedWorld::record(const std::string& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.events.push_back(event);
}

void ScriptedWorld::spawn(std::function<void()> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back(std::move(body));
}

WorldLog ScriptedWorld::log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

// Callbacks come from threads of the world's own, as a real service's do, never from the
// thread that asked.
SpeechService ScriptedWorld::service() {
  SpeechService service;
  service.requestAuthorization = [this](std::function<void(int64_t)> callback) {
    record("auth");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++log_.authRequests;
    }
    const int64_t status = speech_.authStatus;
    spawn([callback, status] { callback(status); });
  };
  service.supportedLocales = [this] {
    record("supported");
    std::lock_guard<std::mutex> lock(mutex_);
    ++log_.supportedQueries;
    return speech_.supportedLocales;
  };
  service.currentLocale = [this] { return speech_.currentLocale; };
  service.createRecognizer = [this](const std::string& identifier) -> RecognizerRef {
    record("create:" + identifier);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.creationAttempts.push_back(identifier);
    }
    if (speech_.servableLocales.count(identifier) == 0) return nullptr;
    return std::make_shared<std::string>(identifier);
  };
  service.isAvailable = [this](const RecognizerRef&) {
    record("available");
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t query = static_cast<size_t>(log_.availabilityQueries++);
    return speech_.availability[std::min(query, speech_.availability.size() - 1)];
  };
  service.supportsOnDeviceRecognition = [this](const RecognizerRef&) {
    record("ondevice");
    return speech_.onDevice;
  };
  service.startRecognitionTask = [this](const RecognizerRef&, const RecognitionRequest& request,
                                        ResultHandler handler) {
    record("recognize");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.requests.push_back(request);
    }
    const std::vector<HandlerCall> calls = speech_.handlerCalls;
    spawn([calls, handler] {
      for (const HandlerCall& call : calls) handler(call.result, call.error);
    });
  };
  return service;
}

Platform ScriptedWorld::platform() {
  Platform platform;
  platform.environmentValue = [this](const std::string& name) -> std::optional<std::string> {
    const auto found = platform_.environment.find(name);
    if (found == platform_.environment.end()) return std::nullopt;
    return found->second;
  };
  platform.fileExists = [this](const std::string& path) {
    record("exists");
    return platform_.existingPaths.count(path) != 0;
  };
  platform.sleepOneSecond = [this] {
    record("sleep");
    std::lock_guard<std::mutex> lock(mutex_);
    ++log_.sleeps;
  };
  platform.makeSemaphore = makeThreadSemaphore;
  platform.dispatchAsync = [this](QosClass qos, std::function<void()> work) {
    record("dispatch");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.dispatchClasses.push_back(qos);
    }
    spawn(std::move(work));
  };
  return platform;
}

RunOutcome ScriptedWorld::run(const std::vector<std::string>& arguments) {
  RunOutcome outcome;
  StandardStreams streams;
  streams.writeOut = [this, &outcome](const std::string& text) {
    outcome.out += text;
    ++outcome.outWrites;
    return platform_.outputFailure;
  };
  streams.writeErr = [&outcome](const std::string& text) {
    outcome.err += text;
    ++outcome.errWrites;
  };
  outcome.status = runTranscriptionCommand(arguments, service(), platform(), streams);
  return outcome;
}

}  // namespace palvorin::testing
