#include "transcription_command.h"

#include <atomic>
#include <memory>
#include <optional>

#include "recognition_outcome.h"
#include "recognizer_selection.h"

namespace palvorin {
namespace {

constexpr int64_t kMaxAvailabilityWaits = 6;

const char kUsageText[] = "Usage: palvorin-speech-recognizer <wav-file>\n";
const char kNoRecognizerText[] =
    "[palvorin-speech] ERR_NO_RECOGNIZER no recognizer for any locale\n";

struct ReasonWord {
  int64_t status;
  const char* word;
};

constexpr ReasonWord kReasonWords[] = {
    {kAuthorizationNotDetermined, "not-determined"},
    {kAuthorizationDenied, "denied"},
    {kAuthorizationRestricted, "restricted"},
};

std::string notAuthorizedText(int64_t authStatus) {
  return "[palvorin-speech] ERR_NOT_AUTHORIZED reason=" + authorizationReasonWord(authStatus) +
         ". " + "Grant permission in System Settings \u2192 Privacy & Security \u2192 Speech " +
         "Recognition.\n";
}

std::string notAvailableText(const std::string& locale, int64_t attempts) {
  return "[palvorin-speech] ERR_NOT_AVAILABLE locale=" + locale +
         " waited=" + std::to_string(attempts) + "s. " +
         "macOS may be downloading the on-device speech model; retry in a minute.\n";
}

std::string noOnDeviceText(const std::string& locale) {
  return "[palvorin-speech] ERR_NO_ONDEVICE locale=" + locale + ". " +
         "On-device speech model isn't installed on this Mac yet. macOS downloads " +
         "it automatically; usually ready within a few minutes of first request.\n";
}

std::string outputErrorText(const WriteFailure& failure) {
  return "[palvorin-speech] ERR_OUTPUT code=" + std::to_string(failure.code) +
         " msg=" + failure.description + "\n";
}

std::string recognizeErrorText(const RecognitionError& error) {
  return "[palvorin-speech] ERR_RECOGNIZE code=" + std::to_string(error.code) +
         " domain=" + error.domain + " msg=" + error.localizedDescription + "\n";
}

// The authorization callback may run on any thread, and a misbehaving service might call it
// again after the main thread has read the status; an atomic keeps both harmless.
int64_t waitForAuthorization(const SpeechService& service, const Platform& platform) {
  Semaphore authSema = platform.makeSemaphore();
  auto authStatus = std::make_shared<std::atomic<int64_t>>(kAuthorizationNotDetermined);
  service.requestAuthorization([authStatus, authSema](int64_t status) {
    authStatus->store(status);
    authSema.signal();
  });
  authSema.wait();
  return authStatus->load();
}

// Polls availability once a second, at most six times; returns the number of waits made.
int64_t waitForAvailability(const SpeechService& service, const Platform& platform,
                            const RecognizerRef& recognizer) {
  int64_t attempts = 0;
  if (service.isAvailable(recognizer)) return attempts;
  do {
    platform.sleepOneSecond();
    ++attempts;
  } while (!service.isAvailable(recognizer) && attempts < kMaxAvailabilityWaits);
  return attempts;
}

// Starts recognition from the global queue of `qos` and blocks until the first outcome.
RecognitionOutcome::Snapshot recognize(const SpeechService& service, const Platform& platform,
                                       QosClass qos, const RecognizerRef& recognizer,
                                       const RecognitionRequest& request) {
  Semaphore resultSema = platform.makeSemaphore();
  // Shared, not owned by this frame: a late callback may still arrive after we have returned.
  auto outcome = std::make_shared<RecognitionOutcome>();
  ResultHandler handler = [outcome, resultSema](const std::optional<RecognitionResult>& result,
                                                const std::optional<RecognitionError>& error) {
    if (outcome->settle(result, error)) resultSema.signal();
  };
  // The work item carries its own copy of the start operation and the recognizer, so it does
  // not depend on this frame or on the caller's service record staying alive.
  platform.dispatchAsync(qos,
                         [start = service.startRecognitionTask, recognizer, request,
                          handler = std::move(handler)] { start(recognizer, request, handler); });
  resultSema.wait();
  return outcome->read();
}

}  // namespace

QosClass qosClassForBudget(const std::string& budgetEnv) {
  if (budgetEnv == "low") return QosClass::background;
  if (budgetEnv == "high") return QosClass::userInitiated;
  return QosClass::utility;
}

std::string authorizationReasonWord(int64_t authStatus) {
  for (const ReasonWord& entry : kReasonWords) {
    if (entry.status == authStatus) return entry.word;
  }
  return "unknown(" + std::to_string(authStatus) + ")";
}

int runTranscriptionCommand(const std::vector<std::string>& arguments, const SpeechService& service,
                            const Platform& platform, const StandardStreams& streams) {
  const std::string budgetEnv = platform.environmentValue(kBudgetVariable).value_or("medium");
  const QosClass qos = qosClassForBudget(budgetEnv);

  if (arguments.size() < 2) {
    streams.writeErr(kUsageText);
    return kExitUsage;
  }
  const std::string& wavPath = arguments[1];
  if (!platform.fileExists(wavPath)) {
    streams.writeErr("File not found: " + wavPath + "\n");
    return kExitUsage;
  }

  const int64_t authStatus = waitForAuthorization(service, platform);
  if (authStatus != kAuthorizationAuthorized) {
    streams.writeErr(notAuthorizedText(authStatus));
    return kExitNotAuthorized;
  }

  const std::optional<ChosenRecognizer> chosen = makeRecognizer(service);
  if (!chosen) {
    streams.writeErr(kNoRecognizerText);
    return kExitNoRecognizer;
  }

  const int64_t attempts = waitForAvailability(service, platform, chosen->recognizer);
  if (!service.isAvailable(chosen->recognizer)) {
    streams.writeErr(notAvailableText(chosen->localeIdentifier, attempts));
    return kExitNotAvailable;
  }

  RecognitionRequest request;
  request.wavPath = wavPath;
  if (!service.supportsOnDeviceRecognition(chosen->recognizer)) {
    streams.writeErr(noOnDeviceText(chosen->localeIdentifier));
    return kExitNoOnDevice;
  }
  request.requiresOnDeviceRecognition = true;
  request.shouldReportPartialResults = false;

  const RecognitionOutcome::Snapshot outcome =
      recognize(service, platform, qos, chosen->recognizer, request);
  if (outcome.recognizeError) {
    streams.writeErr(recognizeErrorText(*outcome.recognizeError));
    return kExitRecognize;
  }
  // A host that reads no transcript must not take the run for a success.
  if (const std::optional<WriteFailure> failure = streams.writeOut(outcome.transcript + "\n")) {
    streams.writeErr(outputErrorText(*failure));
    return kExitOutput;
  }
  return kExitTranscribed;
}

}  // namespace palvorin
