// Runs of the built program on the LibriVox recordings, scored by word error rate.
#pragma once

#include <functional>
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
                         const std::map<std::string, std::optional<std::string>>& environment = {});

struct ScoredRun {
  ErrorTally tally;
  std::vector<std::string> transcripts;  // one per clip, as printed
};

// Transcribes each clip, as `prepare` turns it into a file, expecting a clean success each time.
ScoredRun transcribeClips(const std::function<std::string(const ReferenceClip&)>& prepare);

std::string asShipped(const ReferenceClip& clip);

// The shipped recordings' transcripts, kept in the build tree between test processes. A saved
// run counts only when it is newer than the program that made it.
bool saveBaseline(const ScoredRun& run);
std::optional<ScoredRun> loadBaseline();

}  // namespace palvorin::testing
