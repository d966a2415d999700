#include "recognizer_runs.h"

#include <gtest/gtest.h>

#include <thread>

namespace palvorin::testing {

ProcessResult transcribe(const std::string& path,
                         const std::map<std::string, std::optional<std::string>>& environment,
                         const RunOptions& options) {
  return runProcess({kRecognizer, path}, environment, options);
}

// The clips run side by side: each is a process of its own, and the test is the suite's
// longest.
ScoredRun transcribeLibrivoxClips() {
  ScoredRun scored;
  const std::vector<ReferenceClip> clips = librivoxClips();
  EXPECT_EQ(clips.size(), 5u) << "pocketsphinx-testdata is not installed";
  std::vector<ProcessResult> results(clips.size());
  std::vector<std::thread> runs;
  for (size_t i = 0; i < clips.size(); ++i) {
    runs.emplace_back([&results, &clips, i] { results[i] = transcribe(clips[i].path); });
  }
  for (std::thread& run : runs) run.join();
  for (size_t i = 0; i < clips.size(); ++i) {
    const ReferenceClip& clip = clips[i];
    const ProcessResult& result = results[i];
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
