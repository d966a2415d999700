// The shipped recordings re-encoded by sox transcribe about as well as the originals.
#include <gtest/gtest.h>

#include <filesystem>

#include "recognizer_runs.h"

namespace palvorin::testing {
namespace {

constexpr double kEncodingTolerance = 5.0;  // points of word error rate

struct EncodingCase {
  const char* name;
  std::vector<std::string> soxOptions;
};

void PrintTo(const EncodingCase& encoding, std::ostream* stream) {
  *stream << encoding.name;
}

class EncodingTest : public ::testing::TestWithParam<EncodingCase> {
 protected:
  void SetUp() override { directory_ = makeTemporaryDirectory(); }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string directory_;
};

TEST_P(EncodingTest, TranscribesAsWellAsTheOriginal) {
  std::optional<ScoredRun> original = loadBaseline();
  if (!original) original = transcribeClips(asShipped);
  const ScoredRun reencoded = transcribeClips([this](const ReferenceClip& clip) {
    const std::string path = directory_ + "/" + clip.id + "-" + GetParam().name + ".wav";
    EXPECT_TRUE(convertWithSox(clip.path, GetParam().soxOptions, path)) << path;
    return path;
  });
  RecordProperty("original_word_error_rate", std::to_string(original->tally.percent()));
  RecordProperty("word_error_rate", std::to_string(reencoded.tally.percent()));
  EXPECT_LE(reencoded.tally.percent(), original->tally.percent() + kEncodingTolerance)
      << "original " << original->tally.percent() << "%, re-encoded " << reencoded.tally.percent()
      << "%";
}

const EncodingCase kEncodings[] = {
    {"Stereo44k1", {"-r", "44100", "-c", "2"}},
    // Plain quantization: sox's default dither adds noise of its own at this depth.
    {"Unsigned8Bit", {"-b", "8", "-D"}},
    {"MuLaw", {"-e", "mu-law"}},
    {"Float32", {"-e", "floating-point", "-b", "32"}},
    {"Signed24Bit", {"-b", "24"}},
    {"ALaw", {"-e", "a-law"}},
    {"ImaAdpcm", {"-e", "ima-adpcm"}},
    {"MsAdpcm", {"-e", "ms-adpcm"}},
    {"Stereo48kFloat64", {"-r", "48000", "-c", "2", "-e", "floating-point", "-b", "64"}},
    {"Mono22k05", {"-r", "22050"}},
};

INSTANTIATE_TEST_SUITE_P(Encodings, EncodingTest, ::testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace palvorin::testing
