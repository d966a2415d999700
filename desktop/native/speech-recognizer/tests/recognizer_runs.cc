#include "recognizer_runs.h"

#include <gtest/gtest.h>

namespace palvorin::testing {

ProcessResult transcribe(const std::string& path,
                         const std::map<std::string, std::optional<std::string>>& environment,
                         const RunOptions& options) {
  return runProcess({kRecognizer, path}, environment, options);
}

// One clip after another: side by side they would take both cores from the tests running
// beside this one, the low-priority ones above all.
ScoredRun transcribeLibrivoxClips() {
  ScoredRun scored;
  const std::vector<ReferenceClip> clips = librivoxClips();
  EXPECT_EQ(clips.size(), 5u) << "pocketsphinx-testdata is not installed";
  for (const ReferenceClip& clip : clips) {
    const ProcessResult result = transcribe(clip.path);
    EXPECT_EQ(result.status, 0) << clip.id << ": " << result.err;
    EXPECT_EQ(result.err, "") << clip.id;
    EXPECT_FALSE(result.out.empty()) << clip.id;
    if (!result.out.empty()) {
      EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << "one line for " << clip.id;
    }
    scored.tally.add(clip.reference, result.out);
    scored.transcripts.push_back(result.out);
  }
  return scored;
}

}  // namespace palvorin::testing
