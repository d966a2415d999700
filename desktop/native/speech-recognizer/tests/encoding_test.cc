// A recording re-encoded by sox transcribes exactly as the original does. The audio reading
// tests compare each encoding's samples with the original signal; this runs the whole program
// on each, from the file's header to the transcript. A wrong scale, channel mix or rate turns
// the model's word-for-word transcript of goforward into other words.
#include <gtest/gtest.h>

#include <filesystem>

#include "recognizer_runs.h"

namespace palvorin::testing {
namespace {

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

TEST_P(EncodingTest, TranscribesAsTheOriginal) {
  const std::string original = directory_ + "/goforward.wav";
  const std::string reencoded = directory_ + "/goforward-" + GetParam().name + ".wav";
  ASSERT_TRUE(writeGoForwardWav(original));
  ASSERT_TRUE(convertWithSox(original, GetParam().soxOptions, reencoded));
  const ProcessResult result = transcribe(reencoded);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kGoForwardTranscript + "\n");
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
