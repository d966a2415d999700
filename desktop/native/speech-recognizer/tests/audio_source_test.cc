#include "audio_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "audio_fixtures.h"
#include "process_runner.h"

namespace palvorin::testing {
namespace {

constexpr int kModelRate = 16000;
const std::string kGoForwardRaw = std::string(PALVORIN_TEST_DATA) + "/goforward.raw";

struct Streamed {
  std::vector<int16_t> samples;
  std::optional<AudioError> error;
  int blocks = 0;
};

Streamed streamAll(const std::string& path, int targetRate = kModelRate) {
  Streamed streamed;
  streamed.error = streamMonoSamples(path, targetRate, [&](const int16_t* samples, size_t count) {
    streamed.samples.insert(streamed.samples.end(), samples, samples + count);
    ++streamed.blocks;
    return true;
  });
  return streamed;
}

std::vector<int16_t> rawSamples(const std::string& path) {
  const std::string bytes = readBytes(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);  // little-endian host
  return samples;
}

// Signal-to-noise ratio of `actual` against `expected` over their common length, in dB.
double snrDecibels(const std::vector<int16_t>& expected, const std::vector<int16_t>& actual) {
  const size_t length = std::min(expected.size(), actual.size());
  double signal = 0.0;
  double noise = 0.0;
  for (size_t i = 0; i < length; ++i) {
    signal += static_cast<double>(expected[i]) * expected[i];
    const double difference = static_cast<double>(expected[i]) - actual[i];
    noise += difference * difference;
  }
  return noise == 0.0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

size_t zeroCrossings(const std::vector<int16_t>& samples) {
  size_t crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  }
  return crossings;
}

std::vector<float> sine(double frequency, int rate, double seconds, int channels) {
  const size_t frames = static_cast<size_t>(rate * seconds);
  std::vector<float> interleaved;
  for (size_t frame = 0; frame < frames; ++frame) {
    const float value = static_cast<float>(0.5 * std::sin(2.0 * M_PI * frequency * frame / rate));
    for (int channel = 0; channel < channels; ++channel) interleaved.push_back(value);
  }
  return interleaved;
}

class AudioSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new std::string(makeTemporaryDirectory());
    original_ = new std::vector<int16_t>(rawSamples(kGoForwardRaw));
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*directory_);
    delete directory_;
    delete original_;
  }
  static std::string file(const std::string& name) { return *directory_ + "/" + name; }

  // goforward.raw as a WAV file, re-encoded with the sox output options given.
  static std::string goForwardAs(const std::string& name, const std::vector<std::string>& options) {
    const std::string path = file(name + ".wav");
    std::vector<std::string> arguments = {PALVORIN_SOX, "-R", "-t", "raw", "-r", "16000",      "-e",
                                          "signed",     "-b", "16", "-c",  "1",  kGoForwardRaw};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(path);
    EXPECT_EQ(runProcess(arguments).status, 0) << name;
    return path;
  }

  static std::string* directory_;
  static std::vector<int16_t>* original_;
};

std::string* AudioSourceTest::directory_ = nullptr;
std::vector<int16_t>* AudioSourceTest::original_ = nullptr;

TEST_F(AudioSourceTest, SixteenKilohertzPcmPassesThroughSampleForSample) {
  const Streamed streamed = streamAll(goForwardAs("pcm16", {}));
  ASSERT_FALSE(streamed.error.has_value());
  EXPECT_EQ(streamed.samples, *original_);
  EXPECT_GT(streamed.blocks, 1);
}

struct EncodingCase {
  const char* name;
  std::vector<std::string> soxOptions;
  double minimumSnr;
};

void PrintTo(const EncodingCase& encoding, std::ostream* stream) {
  *stream << encoding.name;
}

class AudioEncodingTest : public AudioSourceTest,
                          public ::testing::WithParamInterface<EncodingCase> {};

// Every encoding comes back at 16 kHz, aligned with and close to the original signal; a wrong
// scale, offset, channel mix or rate ratio drives the ratio far below these floors.
TEST_P(AudioEncodingTest, ComesBackCloseToTheOriginal) {
  const Streamed streamed = streamAll(goForwardAs(GetParam().name, GetParam().soxOptions));
  ASSERT_FALSE(streamed.error.has_value()) << streamed.error->description;
  const double lengthRatio =
      static_cast<double>(streamed.samples.size()) / static_cast<double>(original_->size());
  EXPECT_NEAR(lengthRatio, 1.0, 0.01);  // ADPCM pads its last block
  EXPECT_GE(snrDecibels(*original_, streamed.samples), GetParam().minimumSnr);
}

const EncodingCase kEncodings[] = {
    {"Signed24Bit", {"-b", "24"}, 90.0},
    {"Signed32Bit", {"-b", "32"}, 90.0},
    {"Float32", {"-e", "floating-point", "-b", "32"}, 90.0},
    {"Float64", {"-e", "floating-point", "-b", "64"}, 90.0},
    {"Unsigned8Bit", {"-b", "8", "-D"}, 15.0},
    {"MuLaw", {"-e", "mu-law"}, 25.0},
    {"ALaw", {"-e", "a-law"}, 25.0},
    {"ImaAdpcm", {"-e", "ima-adpcm"}, 15.0},
    {"MsAdpcm", {"-e", "ms-adpcm"}, 15.0},
    {"StereoSameChannels", {"-c", "2"}, 90.0},
    {"Resampled44k1", {"-r", "44100"}, 25.0},
    {"Resampled48kStereo", {"-r", "48000", "-c", "2"}, 25.0},
    {"Resampled22k05", {"-r", "22050"}, 25.0},
};

INSTANTIATE_TEST_SUITE_P(Encodings, AudioEncodingTest, ::testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AudioSourceTest, ChannelsAreAveraged) {
  std::vector<float> interleaved;
  for (int frame = 0; frame < 1000; ++frame) {
    interleaved.push_back(0.5f);
    interleaved.push_back(-0.25f);
    interleaved.push_back(0.0f);
  }
  const std::string path = file("three-channels.wav");
  ASSERT_TRUE(writeWav(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kModelRate, 3, interleaved));
  const Streamed streamed = streamAll(path);
  ASSERT_FALSE(streamed.error.has_value());
  ASSERT_EQ(streamed.samples.size(), 1000u);
  for (int16_t sample : streamed.samples) ASSERT_EQ(sample, 2731);  // 32768 * 0.25 / 3
}

TEST_F(AudioSourceTest, FloatBeyondFullScaleIsClipped) {
  const std::string path = file("loud.wav");
  ASSERT_TRUE(
      writeWav(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kModelRate, 1, {2.0f, -3.0f, 1.0f, -1.0f}));
  const Streamed streamed = streamAll(path);
  ASSERT_FALSE(streamed.error.has_value());
  const std::vector<int16_t> expected = {32767, -32768, 32767, -32768};
  EXPECT_EQ(streamed.samples, expected);
}

TEST_F(AudioSourceTest, FloatNanIsSilenceAndInfinitiesAreClipped) {
  const std::string path = file("not-a-number.wav");
  const float infinity = std::numeric_limits<float>::infinity();
  ASSERT_TRUE(writeWav(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kModelRate, 1,
                       {std::numeric_limits<float>::quiet_NaN(), infinity, -infinity, 0.5f,
                        -std::numeric_limits<float>::quiet_NaN(), 1e30f}));
  const Streamed streamed = streamAll(path);
  ASSERT_FALSE(streamed.error.has_value());
  const std::vector<int16_t> expected = {0, 32767, -32768, 16384, 0, 32767};
  EXPECT_EQ(streamed.samples, expected);
}

class ResampleTest : public AudioSourceTest, public ::testing::WithParamInterface<int> {};

// Two seconds of a 1 kHz tone at any rate come out as two seconds at 16 kHz, still 1 kHz.
TEST_P(ResampleTest, KeepsDurationAndPitch) {
  const int rate = GetParam();
  const std::string path = file("tone-" + std::to_string(rate) + ".wav");
  ASSERT_TRUE(
      writeWav(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, sine(1000.0, rate, 2.0, 2)));
  const Streamed streamed = streamAll(path);
  ASSERT_FALSE(streamed.error.has_value());
  EXPECT_NEAR(static_cast<double>(streamed.samples.size()), 32000.0, 2.0);
  EXPECT_NEAR(static_cast<double>(zeroCrossings(streamed.samples)), 4000.0, 8.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResampleTest,
                         ::testing::Values(8000, 11025, 22050, 44100, 48000, 96000));

struct UnfinishedCase {
  const char* name;
  std::vector<std::string> soxOptions;
  bool riffSizeToo;
};

void PrintTo(const UnfinishedCase& unfinished, std::ostream* stream) {
  *stream << unfinished.name;
}

class UnfinishedRecordingTest : public AudioSourceTest,
                                public ::testing::WithParamInterface<UnfinishedCase> {};

// A recorder killed before it closed its file leaves 0 where the sizes go (and in the fact
// chunk's sample count). The audio after the header is read to the end of the file, exactly
// as the finished file's is.
TEST_P(UnfinishedRecordingTest, ReadsTheAudioToTheEndOfTheFile) {
  const std::string finished = goForwardAs(GetParam().name, GetParam().soxOptions);
  const std::string unfinished = file(std::string("unfinished-") + GetParam().name + ".wav");
  ASSERT_TRUE(
      writeBytes(unfinished, unfinishedRecording(readBytes(finished), GetParam().riffSizeToo)));
  const Streamed expected = streamAll(finished);
  const Streamed streamed = streamAll(unfinished);
  ASSERT_FALSE(streamed.error.has_value()) << streamed.error->description;
  EXPECT_FALSE(streamed.samples.empty());
  EXPECT_EQ(streamed.samples, expected.samples);
}

const UnfinishedCase kUnfinished[] = {
    {"Pcm16BothSizes", {}, true},
    {"Pcm16DataSize", {}, false},
    {"FloatWithFactChunk", {"-e", "floating-point", "-b", "32"}, true},
    {"ImaAdpcm", {"-e", "ima-adpcm"}, true},
    {"Stereo44k1", {"-r", "44100", "-c", "2"}, false},
};

INSTANTIATE_TEST_SUITE_P(Encodings, UnfinishedRecordingTest, ::testing::ValuesIn(kUnfinished),
                         [](const auto& info) { return std::string(info.param.name); });

// An empty data chunk that another chunk follows is a finished recording of nothing.
TEST_F(AudioSourceTest, AnEmptyDataChunkBeforeAnotherChunkHoldsNothing) {
  std::string bytes = readBytes(goForwardAs("empty-data", {}));
  const size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  bytes.resize(data);
  bytes += std::string("data\0\0\0\0", 8) + std::string("LIST\x04\0\0\0INFO", 12);
  const uint32_t riffSize = static_cast<uint32_t>(bytes.size() - 8);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);
  const std::string path = file("empty-data-then-list.wav");
  ASSERT_TRUE(writeBytes(path, bytes));
  const Streamed streamed = streamAll(path);
  EXPECT_FALSE(streamed.error.has_value());
  EXPECT_TRUE(streamed.samples.empty());
}

TEST_F(AudioSourceTest, ZeroFramesGiveNoSamplesAndNoError) {
  const std::string path = file("no-frames.wav");
  ASSERT_TRUE(writeWav(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, {}));
  const Streamed streamed = streamAll(path);
  EXPECT_FALSE(streamed.error.has_value());
  EXPECT_TRUE(streamed.samples.empty());
}

TEST_F(AudioSourceTest, SinkCanStopTheStream) {
  for (const std::string& path :
       {goForwardAs("stop-pcm", {}), goForwardAs("stop-44k", {"-r", "44100"})}) {
    int blocks = 0;
    const std::optional<AudioError> error =
        streamMonoSamples(path, kModelRate, [&blocks](const int16_t*, size_t) {
          ++blocks;
          return false;
        });
    EXPECT_FALSE(error.has_value()) << path;
    EXPECT_EQ(blocks, 1) << path;
  }
}

struct FaultCase {
  const char* name;
  std::function<bool(const std::string&)> make;
  AudioFault fault;
};

// Half a second of a tone whose header gives the rate: the rate, not the content, decides.
std::function<bool(const std::string&)> toneAtRate(int rate) {
  return [rate](const std::string& path) {
    return writeWav(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, sine(440.0, 16000, 0.5, 1));
  };
}

// A second of FLAC whose stream header claims 2^36 - 1 samples, about 50 days at 16 kHz.
bool flacDeclaringMostSamples(const std::string& path) {
  if (!writeWav(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kModelRate, 1,
                sine(440.0, kModelRate, 1.0, 1))) {
    return false;
  }
  std::string bytes = readBytes(path);
  // "fLaC", a block header, then the stream info: the low 36 of the 64 bits at offset 18.
  if (bytes.compare(0, 4, "fLaC") != 0 || bytes.size() < 26) return false;
  bytes[21] = static_cast<char>(bytes[21] | 0x0F);
  bytes.replace(22, 4, "\xFF\xFF\xFF\xFF");
  return writeBytes(path, bytes);
}

void PrintTo(const FaultCase& fault, std::ostream* stream) {
  *stream << fault.name;
}

class AudioFaultTest : public AudioSourceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(AudioFaultTest, ReportsTheFault) {
  const std::string path = file(std::string("fault-") + GetParam().name);
  ASSERT_TRUE(GetParam().make(path));
  const Streamed streamed = streamAll(path);
  ASSERT_TRUE(streamed.error.has_value());
  EXPECT_EQ(streamed.error->fault, GetParam().fault);
  EXPECT_FALSE(streamed.error->description.empty());
  EXPECT_TRUE(streamed.samples.empty());
}

// The rejection names the rate, so that a user can tell a broken header from a broken file.
TEST_F(AudioSourceTest, ALowRateIsNamedInTheFault) {
  const std::string path = file("rate-100.wav");
  ASSERT_TRUE(toneAtRate(100)(path));
  const Streamed streamed = streamAll(path);
  ASSERT_TRUE(streamed.error.has_value());
  EXPECT_NE(streamed.error->description.find("100 Hz"), std::string::npos)
      << streamed.error->description;
}

const FaultCase kFaults[] = {
    {"Directory", [](const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; },
     AudioFault::notAFile},
    {"Missing", [](const std::string&) { return true; }, AudioFault::notAFile},
    {"Fifo", [](const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; },
     AudioFault::notAFile},
    {"Empty", [](const std::string& path) { return writeBytes(path, ""); }, AudioFault::unreadable},
    {"Text", [](const std::string& path) { return writeBytes(path, std::string(4096, 'a')); },
     AudioFault::unreadable},
    {"Rate1Hz", toneAtRate(1), AudioFault::unusableFormat},
    {"Rate7Hz", toneAtRate(7), AudioFault::unusableFormat},
    {"Rate7999Hz", toneAtRate(7999), AudioFault::unusableFormat},
    {"FlacDeclaringDaysOfAudio", flacDeclaringMostSamples, AudioFault::unusableFormat},
};

INSTANTIATE_TEST_SUITE_P(Faults, AudioFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace palvorin::testing
