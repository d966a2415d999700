// The outcome of one recognition task as the main thread reads it.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "speech_service.h"

namespace palvorin {

// The service may call the result handler again after the first outcome (an error after the
// final result, a second final result), possibly while the main thread is reading. Only the
// first outcome is stored; later ones are dropped under the same lock the reader takes.
class RecognitionOutcome {
 public:
  struct Snapshot {
    std::string transcript;
    std::optional<RecognitionError> recognizeError;
  };

  // Applies one handler call. Returns true when this call settled the outcome, which is the
  // caller's cue to signal the waiting thread exactly once.
  bool settle(const std::optional<RecognitionResult>& result,
              const std::optional<RecognitionError>& error);

  Snapshot read() const;

 private:
  mutable std::mutex mutex_;
  bool settled_ = false;
  Snapshot value_;
};

}  // namespace palvorin
