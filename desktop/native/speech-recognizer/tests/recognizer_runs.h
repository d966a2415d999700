// Runs of the built program, and of it on the LibriVox recordings scored by word error rate.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio_fixtures.h"
#include "process_runner.h"
#include "word_error_rate.h"

namespace palvorin::testing {

inline const std::string kRecognizer = PALVORIN_RECOGNIZER;

ProcessResult transcribe(const std::string& path,
                         const std::map<std::string, std::optional<std::string>>& environment = {},
                         const RunOptions& options = {});

struct ScoredRun {
  ErrorTally tally;
  std::vector<std::string> transcripts;  // one per clip, as printed
};

// Transcribes each LibriVox clip, expecting a clean success each time.
ScoredRun transcribeLibrivoxClips();

}  // namespace palvorin::testing
