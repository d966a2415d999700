#include "word_error_rate.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace palvorin::testing {

std::vector<std::string> normalizedWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  std::string token;
  while (stream >> token) {
    if (token.front() == '<' || token.front() == '(') continue;
    std::string word;
    for (char c : token) {
      const unsigned char u = static_cast<unsigned char>(c);
      if (std::isalnum(u) || c == '\'') word += static_cast<char>(std::tolower(u));
    }
    while (!word.empty() && word.front() == '\'') word.erase(word.begin());
    while (!word.empty() && word.back() == '\'') word.pop_back();
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

size_t wordEditDistance(const std::vector<std::string>& reference,
                        const std::vector<std::string>& hypothesis) {
  std::vector<size_t> previous(hypothesis.size() + 1);
  std::vector<size_t> current(hypothesis.size() + 1);
  for (size_t j = 0; j <= hypothesis.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= reference.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= hypothesis.size(); ++j) {
      const size_t substitution = previous[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
      current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
    }
    std::swap(previous, current);
  }
  return previous[hypothesis.size()];
}

void ErrorTally::add(const std::string& reference, const std::string& hypothesis) {
  const std::vector<std::string> words = normalizedWords(reference);
  errors += wordEditDistance(words, normalizedWords(hypothesis));
  referenceWords += words.size();
}

double ErrorTally::percent() const {
  if (referenceWords == 0) return errors == 0 ? 0.0 : 100.0;
  return 100.0 * static_cast<double>(errors) / static_cast<double>(referenceWords);
}

}  // namespace palvorin::testing
