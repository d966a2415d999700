// The speech recognition service as the transcription command sees it: a plain record of
// operations, so that the command runs unchanged on the Speech framework, on PocketSphinx and
// against a scripted service in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace palvorin {

// Authorization statuses as the service reports them (signed, like NSInteger).
inline constexpr int64_t kAuthorizationNotDetermined = 0;
inline constexpr int64_t kAuthorizationDenied = 1;
inline constexpr int64_t kAuthorizationRestricted = 2;
inline constexpr int64_t kAuthorizationAuthorized = 3;

// A recognizer is owned by whoever holds a reference; its type is known only to the backend
// that created it, which keeps backends and test scripts free of a shared class hierarchy.
using RecognizerRef = std::shared_ptr<void>;

// A request for one audio file, with the two options the command sets.
struct RecognitionRequest {
  std::string wavPath;
  bool requiresOnDeviceRecognition = false;
  bool shouldReportPartialResults = true;
};

struct RecognitionResult {
  bool isFinal = false;
  std::string formattedString;  // of the best transcription
};

struct RecognitionError {
  int64_t code = 0;
  std::string domain;
  std::string localizedDescription;
};

// Called by the service, possibly several times and on threads of its own choosing.
using ResultHandler = std::function<void(const std::optional<RecognitionResult>& result,
                                         const std::optional<RecognitionError>& error)>;

struct SpeechService {
  // Asks for permission; calls back once with the status, on any thread.
  std::function<void(std::function<void(int64_t status)> callback)> requestAuthorization;
  // Identifiers of the supported locales, in the service's own enumeration order.
  std::function<std::vector<std::string>()> supportedLocales;
  // Identifier of the user's current locale.
  std::function<std::string()> currentLocale;
  // A recognizer for the locale with this identifier, or null when it cannot be served.
  std::function<RecognizerRef(const std::string& localeIdentifier)> createRecognizer;
  std::function<bool(const RecognizerRef& recognizer)> isAvailable;
  std::function<bool(const RecognizerRef& recognizer)> supportsOnDeviceRecognition;
  // Starts a recognition task and returns at once; the handler reports what it finds.
  std::function<void(const RecognizerRef& recognizer, const RecognitionRequest& request,
                     ResultHandler handler)>
      startRecognitionTask;
};

}  // namespace palvorin
