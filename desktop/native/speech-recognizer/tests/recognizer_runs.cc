#include "recognizer_runs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

namespace palvorin::testing {
namespace {

const std::string kBaselinePath = PALVORIN_BASELINE_FILE;

bool newerThanRecognizer(const std::string& path) {
  struct stat saved;
  struct stat program;
  if (::stat(path.c_str(), &saved) != 0 || ::stat(kRecognizer.c_str(), &program) != 0) return false;
  return saved.st_mtim.tv_sec > program.st_mtim.tv_sec ||
         (saved.st_mtim.tv_sec == program.st_mtim.tv_sec &&
          saved.st_mtim.tv_nsec > program.st_mtim.tv_nsec);
}

}  // namespace

ProcessResult transcribe(const std::string& path,
                         const std::map<std::string, std::optional<std::string>>& environment) {
  return runProcess({kRecognizer, path}, environment);
}

ScoredRun transcribeClips(const std::function<std::string(const ReferenceClip&)>& prepare) {
  ScoredRun scored;
  const std::vector<ReferenceClip> clips = librivoxClips();
  EXPECT_EQ(clips.size(), 5u) << "pocketsphinx-testdata is not installed";
  for (const ReferenceClip& clip : clips) {
    const std::string path = prepare(clip);
    const ProcessResult result = transcribe(path);
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

std::string asShipped(const ReferenceClip& clip) {
  return clip.path;
}

bool saveBaseline(const ScoredRun& run) {
  const std::string temporary = kBaselinePath + ".partial";
  {
    std::ofstream stream(temporary, std::ios::trunc);
    for (const std::string& transcript : run.transcripts) stream << transcript;
    if (!stream) return false;
  }
  return std::rename(temporary.c_str(), kBaselinePath.c_str()) == 0;
}

std::optional<ScoredRun> loadBaseline() {
  if (!newerThanRecognizer(kBaselinePath)) return std::nullopt;
  const std::vector<ReferenceClip> clips = librivoxClips();
  std::ifstream stream(kBaselinePath);
  ScoredRun run;
  std::string line;
  for (const ReferenceClip& clip : clips) {
    if (!std::getline(stream, line)) return std::nullopt;
    run.tally.add(clip.reference, line);
    run.transcripts.push_back(line + "\n");
  }
  return run;
}

}  // namespace palvorin::testing
