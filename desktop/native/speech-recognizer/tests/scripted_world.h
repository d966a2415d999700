// A scripted speech service and a platform whose clock does not really sleep, so the whole
// command runs in-process with every answer of the service chosen by the test.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "speech_service.h"

namespace palvorin::testing {

struct HandlerCall {
  std::optional<RecognitionResult> result;
  std::optional<RecognitionError> error;
};

HandlerCall finalResult(const std::string& text);
HandlerCall partialResult(const std::string& text);
HandlerCall errorCall(int64_t code, const std::string& domain, const std::string& message);

struct SpeechScript {
  int64_t authStatus = kAuthorizationAuthorized;
  std::string currentLocale = "en_US";
  std::vector<std::string> supportedLocales = {"en-US", "fr-FR"};
  std::set<std::string> servableLocales = {"en_US", "en-US"};
  // One answer per availability query; the last answer repeats.
  std::vector<bool> availability = {true};
  bool onDevice = true;
  std::vector<HandlerCall> handlerCalls = {finalResult("hello world")};
};

struct PlatformScript {
  std::map<std::string, std::string> environment;
  std::set<std::string> existingPaths = {"/audio/clip.wav"};
  // What standard output answers every write with (the text still counts as written).
  std::optional<WriteFailure> outputFailure;
};

struct RunOutcome {
  int status = -1;
  std::string out;
  std::string err;
  int outWrites = 0;
  int errWrites = 0;
};

// Everything the command asked of the service and the platform, in order.
struct WorldLog {
  std::vector<std::string> events;  // "exists", "auth", "supported", "create:<id>", "available",
                                    // "sleep", "ondevice", "dispatch", "recognize"
  std::vector<std::string> creationAttempts;
  std::vector<QosClass> dispatchClasses;
  std::vector<RecognitionRequest> requests;
  int sleeps = 0;
  int availabilityQueries = 0;
  int supportedQueries = 0;
  int authRequests = 0;
};

class ScriptedWorld {
 public:
  ScriptedWorld(SpeechScript speech, PlatformScript platform);
  ~ScriptedWorld();  // joins every thread the world started

  SpeechService service();
  Platform platform();

  RunOutcome run(const std::vector<std::string>& arguments);
  WorldLog log() const;

 private:
  void record(const std::string& event);
  void spawn(std::function<void()> body);

  SpeechScript speech_;
  PlatformScript platform_;
  mutable std::mutex mutex_;
  WorldLog log_;
  std::vector<std::thread> threads_;
};

}  // namespace palvorin::testing
