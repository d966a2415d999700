#include "recognition_outcome.h"

namespace palvorin {

bool RecognitionOutcome::settle(const std::optional<RecognitionResult>& result,
                                const std::optional<RecognitionError>& error) {
  // A result that comes with an error is ignored; a partial result settles nothing.
  if (!error && !(result && result->isFinal)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (settled_) return false;
  settled_ = true;
  if (error) {
    value_.recognizeError = *error;
  } else {
    value_.transcript = result->formattedString;
  }
  return true;
}

RecognitionOutcome::Snapshot RecognitionOutcome::read() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

}  // namespace palvorin
