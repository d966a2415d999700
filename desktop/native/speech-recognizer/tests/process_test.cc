// The built program as the desktop application runs it: a child process with a path, an
// environment, two captured streams and an exit status.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sndfile.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <regex>
#include <thread>

#include "audio_fixtures.h"
#include "process_runner.h"
#include "recognizer_runs.h"

namespace palvorin::testing {
namespace {

// This model gets about a third of these words wrong (26 of 71 here, as its own command-line
// decoder does); a broken sample path, scale or rate lands near one hundred.
constexpr double kWorstAcceptedErrorRate = 40.0;

const std::string kGoForwardLine = kGoForwardTranscript + "\n";
const std::string kModelRootVariable = "PALVORIN_POCKETSPHINX_MODEL_ROOT";

class ProcessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new std::string(makeTemporaryDirectory());
    ASSERT_TRUE(writeGoForwardWav(goForward()));
    ASSERT_TRUE(writeWav(silence(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1,
                         std::vector<float>(1600, 0.0f)));
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*directory_);
    delete directory_;
  }
  static std::string file(const std::string& name) { return *directory_ + "/" + name; }
  static std::string goForward() { return file("goforward.wav"); }
  // For tests of what surrounds recognition: a tenth of a second, transcribed as nothing.
  static std::string silence() { return file("silence.wav"); }

  static std::string* directory_;
};

std::string* ProcessTest::directory_ = nullptr;

TEST_F(ProcessTest, NoArgumentPrintsUsage) {
  const ProcessResult result = runProcess({kRecognizer});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Usage: palvorin-speech-recognizer <wav-file>\n");
  EXPECT_EQ(result.out, "");
}

TEST_F(ProcessTest, MissingFileIsReportedWithThePathAsPassed) {
  const std::string path = file("no such dir/../missing clip.wav");
  const ProcessResult result = transcribe(path);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "File not found: " + path + "\n");
  EXPECT_EQ(result.out, "");
}

// ---------------------------------------------------------------------------------------------
// Input that is no readable audio ends in ERR_RECOGNIZE, never a crash, a hang or output.

struct UnreadableCase {
  const char* name;
  std::function<bool(const std::string& path)> make;
};

void PrintTo(const UnreadableCase& unreadable, std::ostream* stream) {
  *stream << unreadable.name;
}

std::string firstClipBytes() {
  return readBytes(librivoxClips().at(0).path);
}

// Overwrites `count` bytes of a real WAV file's header at `offset` with zeros.
std::function<bool(const std::string&)> zeroedHeaderField(size_t offset, size_t count) {
  return [offset, count](const std::string& path) {
    std::string bytes = firstClipBytes();
    bytes.replace(offset, count, std::string(count, '\0'));
    return writeBytes(path, bytes);
  };
}

const UnreadableCase kUnreadable[] = {
    {"Directory", [](const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; }},
    {"EmptyFile", [](const std::string& path) { return writeBytes(path, ""); }},
    {"TruncatedHeader",
     [](const std::string& path) { return writeBytes(path, firstClipBytes().substr(0, 20)); }},
    {"RiffWithoutChunks",
     [](const std::string& path) {
       return writeBytes(path, std::string("RIFF\x04\0\0\0WAVE", 12));
     }},
    {"Text",
     [](const std::string& path) {
       std::string text;
       for (int i = 0; i < 200; ++i) text += "this is not audio at all\n";
       return writeBytes(path, text);
     }},
    {"RandomBytes",
     [](const std::string& path) {
       std::minstd_rand generator(7);
       std::string bytes(64 * 1024, '\0');
       for (char& byte : bytes) byte = static_cast<char>(generator());
       return writeBytes(path, bytes);
     }},
    {"SampleRateZero", zeroedHeaderField(24, 8)},
    {"ChannelCountZero", zeroedHeaderField(22, 2)},
};

class UnreadableInputTest : public ProcessTest,
                            public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableInputTest, EndsInRecognizeErrorWithTheBackendFields) {
  const std::string path = file(std::string("unreadable-") + GetParam().name + ".wav");
  ASSERT_TRUE(GetParam().make(path));
  const ProcessResult result = transcribe(path);
  EXPECT_EQ(result.status, 6) << result.err;
  EXPECT_TRUE(std::regex_match(result.err,
                               std::regex("\\[palvorin-speech\\] ERR_RECOGNIZE code=[1-9][0-9]* "
                                          "domain=PalvorinPocketSphinxErrorDomain msg=[^\n]+\n")))
      << result.err;
  EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, UnreadableInputTest, ::testing::ValuesIn(kUnreadable),
                         [](const auto& info) { return std::string(info.param.name); });

// A real recording whose header claims a rate below 8 kHz would be resampled up by the same
// factor: hours of decoding for a 95 KB file. It is refused at once, with the rate named.
TEST_F(ProcessTest, SampleRatesBelowEightKilohertzAreRefused) {
  for (uint32_t rate : {1u, 7u, 100u, 7999u}) {
    std::string bytes = firstClipBytes();
    const uint32_t byteRate = rate * 2;  // 16-bit mono
    for (int i = 0; i < 4; ++i) {
      bytes[24 + i] = static_cast<char>((rate >> (8 * i)) & 0xFF);
      bytes[28 + i] = static_cast<char>((byteRate >> (8 * i)) & 0xFF);
    }
    const std::string path = file("rate-" + std::to_string(rate) + ".wav");
    ASSERT_TRUE(writeBytes(path, bytes));
    const ProcessResult result = transcribe(path);
    EXPECT_EQ(result.status, 6) << rate << " Hz: " << result.err;
    EXPECT_TRUE(std::regex_match(result.err,
                                 std::regex("\\[palvorin-speech\\] ERR_RECOGNIZE code=3 "
                                            "domain=PalvorinPocketSphinxErrorDomain msg=[^\n]* " +
                                            std::to_string(rate) + " Hz[^\n]*\n")))
        << result.err;
    EXPECT_EQ(result.out, "");
  }
}

// A file cut anywhere after a complete header holds fewer frames than it declares; the frames
// it does hold are decoded and the run succeeds.
TEST_F(ProcessTest, AFileCutAfterItsHeaderDecodesWhatItHolds) {
  const std::string path = file("cut.wav");
  const std::string bytes = readBytes(goForward());
  ASSERT_TRUE(writeBytes(path, bytes.substr(0, bytes.size() / 2 + 1)));  // half a sample too
  const ProcessResult result = transcribe(path);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out, "\n");
}

// A recorder killed before it closed its file leaves the sizes it wrote first, 0, in front of
// the speech it recorded. The speech is transcribed, not lost as an empty success.
class UnfinishedRecordingTest : public ProcessTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnfinishedRecordingTest, KeepsItsSpeech) {
  const std::string path = file(GetParam() ? "unfinished-both.wav" : "unfinished-data.wav");
  ASSERT_TRUE(writeBytes(path, unfinishedRecording(readBytes(goForward()), GetParam())));
  const ProcessResult result = transcribe(path);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kGoForwardLine);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UnfinishedRecordingTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "RiffAndDataSizesZero" : "DataSizeZero");
});

// ---------------------------------------------------------------------------------------------
// A transcript that could not be written is a failure the host can see.

struct OutputCase {
  const char* name;
  OutputTarget target;
  std::vector<int> ignoredSignals;
  int status;
  int signal;
  std::string err;
};

void PrintTo(const OutputCase& output, std::ostream* stream) {
  *stream << output.name;
}

class OutputTest : public ProcessTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTest, FailsWhenTheTranscriptCannotBeWritten) {
  RunOptions options;
  options.output = GetParam().target;
  options.ignoredSignals = GetParam().ignoredSignals;
  const ProcessResult result = transcribe(silence(), {}, options);
  EXPECT_EQ(result.status, GetParam().status) << result.err;
  EXPECT_EQ(result.signal, GetParam().signal);
  EXPECT_EQ(result.err, GetParam().err);
}

const OutputCase kOutputs[] = {
    {"FullDisk",
     OutputTarget::fullDevice,
     {},
     7,
     0,
     "[palvorin-speech] ERR_OUTPUT code=28 msg=No space left on device\n"},
    // Nothing opened later may take the closed descriptor's place and receive the transcript.
    {"ClosedDescriptor",
     OutputTarget::closed,
     {},
     7,
     0,
     "[palvorin-speech] ERR_OUTPUT code=9 msg=Bad file descriptor\n"},
    // A reader that went away ends the program through SIGPIPE, as it ends most programs...
    {"ReaderGone", OutputTarget::readerGone, {}, -1, SIGPIPE, ""},
    // ...unless the starter ignores SIGPIPE: then the write fails, and says why.
    {"ReaderGoneSignalIgnored",
     OutputTarget::readerGone,
     {SIGPIPE},
     7,
     0,
     "[palvorin-speech] ERR_OUTPUT code=32 msg=Broken pipe\n"},
};

INSTANTIATE_TEST_SUITE_P(Targets, OutputTest, ::testing::ValuesIn(kOutputs),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A damaged or incomplete model is unavailable: status 4 after the six one-second polls, never a
// crash, a hang, a silent exit, an empty success or a process left behind. Each case is a copy
// of the installed model, linked file by file, with one file replaced or removed (never written
// through its link). The polls' timeline is the command's, tested on a scripted clock; here the
// cases run side by side so that their waits overlap.

// The program's worst case on a damaged model: the probe's 30 s limit, one load of files that
// passed the checks, and the six polls. Twice that leaves room for a loaded machine.
constexpr auto kDamagedModelBound = std::chrono::seconds(80);

RunOptions withinDamagedModelBound() {
  RunOptions options;
  options.bound = kDamagedModelBound;
  return options;
}

using Damage = std::function<bool(const std::string& damaged, const std::string& installed)>;

struct DamagedModelCase {
  const char* name;
  const char* file;  // relative to the model directory
  Damage damage;     // puts the damaged file where the link to the installed one was
};

Damage removed() {
  return [](const std::string&, const std::string&) { return true; };
}

Damage replacedBy(std::function<std::string(const std::string& original)> bytes) {
  return [bytes](const std::string& damaged, const std::string& installed) {
    return writeBytes(damaged, bytes(readBytes(installed)));
  };
}

Damage cutTo(double fraction) {
  return replacedBy([fraction](const std::string& original) {
    return original.substr(0, static_cast<size_t>(original.size() * fraction));
  });
}

Damage randomBytes() {
  return replacedBy([](const std::string&) {
    std::minstd_rand generator(11);
    std::string bytes(4096, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator());
    return bytes;
  });
}

Damage fifo() {
  return [](const std::string& damaged, const std::string&) {
    return ::mkfifo(damaged.c_str(), 0600) == 0;
  };
}

Damage linkTo(const char* target) {
  return [target](const std::string& damaged, const std::string&) {
    return ::symlink(target, damaged.c_str()) == 0;
  };
}

Damage directory() {
  return [](const std::string& damaged, const std::string&) {
    return ::mkdir(damaged.c_str(), 0700) == 0;
  };
}

// A file of `size` bytes that takes no space: zeros all through.
Damage sparse(off_t size) {
  return [size](const std::string& damaged, const std::string&) {
    const int descriptor = ::open(damaged.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (descriptor < 0) return false;
    const bool sized = ::ftruncate(descriptor, size) == 0;
    return ::close(descriptor) == 0 && sized;
  };
}

constexpr off_t kGigabyte = off_t{1} << 30;

// A copy of the installed model with one file damaged; the root to name, or "" on failure.
std::string damagedModel(const std::string& root, const DamagedModelCase& damaged) {
  namespace fs = std::filesystem;
  const fs::path installed = fs::path(PALVORIN_MODEL_ROOT) / "en-us";
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(installed)) {
    const fs::path copy = fs::path(root) / "en-us" / fs::relative(entry.path(), installed);
    if (entry.is_directory()) {
      fs::create_directories(copy);
    } else {
      fs::create_directories(copy.parent_path());
      fs::create_symlink(entry.path(), copy);
    }
  }
  const fs::path file = fs::path(root) / "en-us" / damaged.file;
  if (!fs::remove(file)) return "";
  return damaged.damage(file.string(), (installed / damaged.file).string()) ? root : "";
}

const DamagedModelCase kDamagedModels[] = {
    {"MdefCutInHalf", "en-us/mdef", cutTo(0.5)},  // read past its end: a segmentation fault
    {"MdefRandom", "en-us/mdef", randomBytes()},  // the decoder exits, saying nothing
    {"MdefMissing", "en-us/mdef", removed()},
    {"SendumpCut", "en-us/sendump", cutTo(0.01)},
    {"TransitionMatricesRandom", "en-us/transition_matrices", randomBytes()},
    {"MeansRandom", "en-us/means", randomBytes()},
    {"DictionaryEmpty", "cmudict-en-us.dict", cutTo(0.0)},  // loads, then hears no word at all
    {"DictionaryRandom", "cmudict-en-us.dict", randomBytes()},
    {"DictionaryMissing", "cmudict-en-us.dict", removed()},
    {"LanguageModelMissing", "en-us.lm.bin", removed()},
    {"LanguageModelRandom", "en-us.lm.bin", randomBytes()},
    // Unchecked, opening a FIFO blocks until a writer comes, and reading a device never ends.
    {"MeansFifo", "en-us/means", fifo()},
    {"FeatureParametersFifo", "en-us/feat.params", fifo()},
    {"NoiseDictionaryFifo", "en-us/noisedict", fifo()},
    {"DictionaryFifo", "cmudict-en-us.dict", fifo()},
    {"FeatureParametersEndlessZeros", "en-us/feat.params", linkTo("/dev/zero")},
    {"VariancesEndlessRandom", "en-us/variances", linkTo("/dev/urandom")},
    {"LanguageModelEndlessZeros", "en-us.lm.bin", linkTo("/dev/zero")},
    {"MeansDirectory", "en-us/means", directory()},
    // Unchecked, a minute of probing, or a quarter of one for each load in the program.
    {"FeatureParametersSparseGigabyte", "en-us/feat.params", sparse(kGigabyte)},
    {"DictionarySparseGigabyte", "cmudict-en-us.dict", sparse(kGigabyte)},
    {"LanguageModelSparseGigabyte", "en-us.lm.bin", sparse(kGigabyte)},
};

TEST_F(ProcessTest, EveryDamagedModelIsReportedAsNotAvailable) {
  const size_t count = std::size(kDamagedModels);
  std::vector<std::string> roots;
  for (const DamagedModelCase& damaged : kDamagedModels) {
    roots.push_back(damagedModel(file(std::string("model-") + damaged.name), damaged));
    ASSERT_FALSE(roots.back().empty()) << damaged.name;
  }
  std::vector<ProcessResult> results(count);
  std::vector<std::thread> runs;
  for (size_t i = 0; i < count; ++i) {
    runs.emplace_back([&, i] {
      results[i] =
          transcribe(goForward(), {{kModelRootVariable, roots[i]}, {"LC_ALL", "en_US.UTF-8"}},
                     withinDamagedModelBound());
    });
  }
  for (std::thread& run : runs) run.join();
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(kDamagedModels[i].name);
    const ProcessResult& result = results[i];
    EXPECT_TRUE(result.withinBound);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err,
              "[palvorin-speech] ERR_NOT_AVAILABLE locale=en_US waited=6s. macOS may be "
              "downloading the on-device speech model; retry in a minute.\n");
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.leftBehind.empty());
  }
}

// While the probe child is stopped (it would never end on its own), a signal to the program
// ends it as it always did, and the child with it: a host that reads the program's streams to
// their end and then waits for it is never kept waiting by an orphan.
struct SignalCase {
  const char* name;
  int signal;
};

void PrintTo(const SignalCase& signalCase, std::ostream* stream) {
  *stream << signalCase.name;
}

class ProbeSignalTest : public ProcessTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(ProbeSignalTest, EndsTheProgramAndItsProbe) {
  // 200 MB of zeros for feat.params keep the probe busy for a second or more.
  const std::string root = damagedModel(file(std::string("probe-") + GetParam().name),
                                        {"Slow", "en-us/feat.params", sparse(200 << 20)});
  ASSERT_FALSE(root.empty());
  bool probeStopped = false;
  RunOptions options = withinDamagedModelBound();
  options.whileRunning = [&probeStopped](pid_t program) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<pid_t> children;
    while ((children = liveChildrenOf(program)).empty() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (pid_t child : children) probeStopped = ::kill(child, SIGSTOP) == 0 || probeStopped;
    ::kill(program, GetParam().signal);
  };
  const ProcessResult result = transcribe(goForward(), {{kModelRootVariable, root}}, options);
  EXPECT_TRUE(probeStopped);
  EXPECT_TRUE(result.withinBound);
  EXPECT_EQ(result.signal, GetParam().signal);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.leftBehind.empty());
}

// SIGKILL leaves the program no say: the kernel ends the child for it.
INSTANTIATE_TEST_SUITE_P(Signals, ProbeSignalTest,
                         ::testing::Values(SignalCase{"Terminate", SIGTERM},
                                           SignalCase{"Interrupt", SIGINT},
                                           SignalCase{"HangUp", SIGHUP},
                                           SignalCase{"Kill", SIGKILL}),
                         [](const auto& info) { return std::string(info.param.name); });

// A starter that ignores SIGCHLD passes that on; the kernel would then reap the probe child
// itself and the healthy model would read as damaged.
TEST_F(ProcessTest, AnIgnoredChildSignalLeavesTheModelUsable) {
  RunOptions options;
  options.ignoredSignals = {SIGCHLD};
  const ProcessResult result = transcribe(silence(), {}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "\n");
}

TEST_F(ProcessTest, TheModelRootVariableChoosesWhereModelsAre) {
  const std::string clip = goForward();
  const ProcessResult elsewhere = transcribe(clip, {{kModelRootVariable, file("no-models-here")}});
  EXPECT_EQ(elsewhere.status, 3);
  EXPECT_EQ(elsewhere.err, "[palvorin-speech] ERR_NO_RECOGNIZER no recognizer for any locale\n");
  // The empty value, like no value, leaves PocketSphinx's own location.
  const ProcessResult empty = transcribe(clip, {{kModelRootVariable, ""}});
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, kGoForwardLine);
}

// ---------------------------------------------------------------------------------------------
// Real recordings, scored against their reference transcripts.

TEST_F(ProcessTest, TranscribesTheLibriVoxRecordings) {
  const ScoredRun scored = transcribeLibrivoxClips();
  RecordProperty("word_error_rate", std::to_string(scored.tally.percent()));
  EXPECT_GT(scored.tally.referenceWords, 50u);
  EXPECT_LE(scored.tally.percent(), kWorstAcceptedErrorRate);
  // One recording checked word by word where the model is known to be right.
  EXPECT_NE(scored.transcripts[3].find("more amiable woman he might have been made"),
            std::string::npos)
      << scored.transcripts[3];
}

// ---------------------------------------------------------------------------------------------
// The environment steers priority and locale choice, never the transcript.

struct EnvironmentCase {
  const char* name;
  std::map<std::string, std::optional<std::string>> environment;
};

void PrintTo(const EnvironmentCase& environment, std::ostream* stream) {
  *stream << environment.name;
}

const EnvironmentCase kEnvironments[] = {
    {"Defaults", {{"PALVORIN_CPU_BUDGET", std::nullopt}}},
    {"LowBudget", {{"PALVORIN_CPU_BUDGET", "low"}}},
    {"HighBudget", {{"PALVORIN_CPU_BUDGET", "high"}}},
    {"EmptyBudget", {{"PALVORIN_CPU_BUDGET", ""}}},
    {"FrenchUserFallsBackToUsEnglish", {{"LC_ALL", std::nullopt}, {"LANG", "fr_FR.UTF-8"}}},
    {"NoLocaleAtAll",
     {{"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt}, {"LANG", std::nullopt}}},
};

class EnvironmentTest : public ProcessTest,
                        public ::testing::WithParamInterface<EnvironmentCase> {};

// The defaults are a case of the table: every case gives the model's one transcript.
TEST_P(EnvironmentTest, TranscriptIsTheSameAsWithTheDefaults) {
  const ProcessResult steered = transcribe(goForward(), GetParam().environment);
  EXPECT_EQ(steered.status, 0) << steered.err;
  EXPECT_EQ(steered.err, "");
  EXPECT_EQ(steered.out, kGoForwardLine);
}

INSTANTIATE_TEST_SUITE_P(Environments, EnvironmentTest, ::testing::ValuesIn(kEnvironments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProcessTest, ExtraArgumentsAreIgnored) {
  const ProcessResult extra =
      runProcess({kRecognizer, goForward(), file("missing.wav"), "--verbose"});
  EXPECT_EQ(extra.status, 0) << extra.err;
  EXPECT_EQ(extra.out, kGoForwardLine);
  EXPECT_EQ(extra.err, "");
}

}  // namespace
}  // namespace palvorin::testing
