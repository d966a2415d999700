// Choice of the recognizer and of the locale identifier the diagnostics report.
#pragma once

#include <optional>
#include <string>

#include "speech_service.h"

namespace palvorin {

struct ChosenRecognizer {
  RecognizerRef recognizer;  // never null
  std::string localeIdentifier;
};

// Tries the current locale, "en-US", "en-GB" and the first two supported locales, each
// identifier at most once, and returns the first recognizer the service creates.
std::optional<ChosenRecognizer> makeRecognizer(const SpeechService& service);

}  // namespace palvorin
