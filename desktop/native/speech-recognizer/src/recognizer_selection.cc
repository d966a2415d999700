#include "recognizer_selection.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace palvorin {
namespace {

constexpr size_t kSupportedLocalesTried = 2;

std::vector<std::string> candidateIdentifiers(const SpeechService& service) {
  std::vector<std::string> candidates = {service.currentLocale(), "en-US", "en-GB"};
  const std::vector<std::string> supported = service.supportedLocales();
  const size_t taken = std::min(supported.size(), kSupportedLocalesTried);
  candidates.insert(candidates.end(), supported.begin(), supported.begin() + taken);
  return candidates;
}

}  // namespace

std::optional<ChosenRecognizer> makeRecognizer(const SpeechService& service) {
  std::vector<std::string> tried;
  for (const std::string& identifier : candidateIdentifiers(service)) {
    // Exact string comparison: "en_US" and "en-US" are separate attempts.
    if (std::find(tried.begin(), tried.end(), identifier) != tried.end()) continue;
    tried.push_back(identifier);
    RecognizerRef recognizer = service.createRecognizer(identifier);
    if (recognizer) return ChosenRecognizer{std::move(recognizer), identifier};
  }
  return std::nullopt;
}

}  // namespace palvorin
