// Word error rate of a transcript against a reference text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace palvorin::testing {

// Lower-cased words; punctuation other than apostrophes inside words is dropped, and so are
// sentence markers such as "<s>" and utterance ids in parentheses.
std::vector<std::string> normalizedWords(const std::string& text);

// Substitutions, deletions and insertions needed to turn the reference into the hypothesis.
size_t wordEditDistance(const std::vector<std::string>& reference,
                        const std::vector<std::string>& hypothesis);

struct ErrorTally {
  size_t errors = 0;
  size_t referenceWords = 0;
  void add(const std::string& reference, const std::string& hypothesis);
  double percent() const;  // 100 * errors / reference words
};

}  // namespace palvorin::testing
