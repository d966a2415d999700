// The speech service on macOS: the Speech framework, on the device.
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include <memory>

#include "system_backend.h"

namespace palvorin {
namespace {

struct SpeechFrameworkRecognizer {
  SFSpeechRecognizer* recognizer;  // strong under ARC
};

std::string utf8(NSString* text) {
  const char* bytes = text == nil ? nullptr : text.UTF8String;
  return std::string(bytes != nullptr ? bytes : "");
}

NSString* nsString(const std::string& text) {
  NSString* converted = [[NSString alloc] initWithBytes:text.data()
                                                 length:text.size()
                                               encoding:NSUTF8StringEncoding];
  return converted != nil ? converted : @"";
}

SFSpeechRecognizer* speechRecognizer(const RecognizerRef& recognizer) {
  return std::static_pointer_cast<SpeechFrameworkRecognizer>(recognizer)->recognizer;
}

void requestAuthorization(std::function<void(int64_t)> callback) {
  // The handler runs on a queue of the framework's choosing, never necessarily the main one.
  [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
    callback(static_cast<int64_t>(status));
  }];
}

std::vector<std::string> supportedLocales() {
  @autoreleasepool {
    std::vector<std::string> identifiers;
    for (NSLocale* locale in [SFSpeechRecognizer supportedLocales]) {
      identifiers.push_back(utf8(locale.localeIdentifier));
    }
    return identifiers;
  }
}

std::string currentLocale() {
  @autoreleasepool {
    return utf8([NSLocale currentLocale].localeIdentifier);
  }
}

RecognizerRef createRecognizer(const std::string& localeIdentifier) {
  @autoreleasepool {
    NSLocale* locale = [NSLocale localeWithLocaleIdentifier:nsString(localeIdentifier)];
    SFSpeechRecognizer* recognizer = [[SFSpeechRecognizer alloc] initWithLocale:locale];
    if (recognizer == nil) return nullptr;
    // Result handlers arrive on the recognizer's queue, the main queue by default; the main
    // thread sits blocked on a semaphore and would never serve them. A queue of its own puts
    // them on a thread of the service.
    recognizer.queue = [[NSOperationQueue alloc] init];
    auto holder = std::make_shared<SpeechFrameworkRecognizer>();
    holder->recognizer = recognizer;
    return holder;
  }
}

bool isAvailable(const RecognizerRef& recognizer) {
  return [speechRecognizer(recognizer) isAvailable];
}

bool supportsOnDeviceRecognition(const RecognizerRef& recognizer) {
  return speechRecognizer(recognizer).supportsOnDeviceRecognition;
}

std::optional<RecognitionResult> resultFrom(SFSpeechRecognitionResult* result) {
  if (result == nil) return std::nullopt;
  return RecognitionResult{static_cast<bool>([result isFinal]),
                           utf8(result.bestTranscription.formattedString)};
}

std::optional<RecognitionError> errorFrom(NSError* error) {
  if (error == nil) return std::nullopt;
  return RecognitionError{static_cast<int64_t>(error.code), utf8(error.domain),
                          utf8(error.localizedDescription)};
}

// The task object is not kept: the framework holds it until it has delivered its outcome.
void startRecognitionTask(const RecognizerRef& recognizer, const RecognitionRequest& request,
                          ResultHandler handler) {
  @autoreleasepool {
    NSFileManager* files = [NSFileManager defaultManager];
    NSString* path = request.wavPath.empty()
                         ? nil
                         : [files stringWithFileSystemRepresentation:request.wavPath.data()
                                                              length:request.wavPath.size()];
    if (path == nil) {
      // fileURLWithPath: raises on an empty path; report it the way Foundation would.
      handler(std::nullopt,
              RecognitionError{NSFileReadInvalidFileNameError, utf8(NSCocoaErrorDomain),
                               "The file name is invalid."});
      return;
    }
    NSURL* wavURL = [NSURL fileURLWithPath:path];
    SFSpeechURLRecognitionRequest* urlRequest =
        [[SFSpeechURLRecognitionRequest alloc] initWithURL:wavURL];
    urlRequest.requiresOnDeviceRecognition = request.requiresOnDeviceRecognition;
    urlRequest.shouldReportPartialResults = request.shouldReportPartialResults;
    // The handler block keeps the recognizer alive for as long as the task may call it.
    RecognizerRef keptRecognizer = recognizer;
    [speechRecognizer(recognizer)
        recognitionTaskWithRequest:urlRequest
                     resultHandler:^(SFSpeechRecognitionResult* _Nullable result,
                                     NSError* _Nullable error) {
                       (void)keptRecognizer;
                       handler(resultFrom(result), errorFrom(error));
                     }];
  }
}

}  // namespace

SpeechService makeSystemSpeechService() {
  SpeechService service;
  service.requestAuthorization = requestAuthorization;
  service.supportedLocales = supportedLocales;
  service.currentLocale = currentLocale;
  service.createRecognizer = createRecognizer;
  service.isAvailable = isAvailable;
  service.supportsOnDeviceRecognition = supportsOnDeviceRecognition;
  service.startRecognitionTask = startRecognitionTask;
  return service;
}

}  // namespace palvorin
