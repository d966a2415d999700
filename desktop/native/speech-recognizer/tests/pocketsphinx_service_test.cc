#include "pocketsphinx_service.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "audio_fixtures.h"
#include "process_runner.h"
#include "system_backend.h"
#include "thread_semaphore.h"
#include "threads.h"

namespace palvorin::testing {
namespace {

// ---------------------------------------------------------------------------------------------
// Locales and installed models.

struct MatchCase {
  const char* identifier;
  bool matchesEnUs;
};

class LocaleMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(LocaleMatchTest, LanguageAndRegionMustBothMatch) {
  EXPECT_EQ(localeMatchesModel(GetParam().identifier, "en-US"), GetParam().matchesEnUs)
      << GetParam().identifier;
}

INSTANTIATE_TEST_SUITE_P(Identifiers, LocaleMatchTest,
                         ::testing::Values(MatchCase{"en-US", true}, MatchCase{"en_US", true},
                                           MatchCase{"EN_us", true}, MatchCase{"en_US_POSIX", true},
                                           MatchCase{"en-Latn-US", true}, MatchCase{"en", false},
                                           MatchCase{"en-GB", false}, MatchCase{"fr-US", false},
                                           MatchCase{"es-419", false}, MatchCase{"", false},
                                           MatchCase{"C", false}, MatchCase{"-US", false}));

struct PosixNameCase {
  const char* posixName;
  const char* identifier;
};

class PosixNameTest : public ::testing::TestWithParam<PosixNameCase> {};

TEST_P(PosixNameTest, GivesTheLocaleIdentifier) {
  EXPECT_EQ(localeIdentifierFromPosixName(GetParam().posixName), GetParam().identifier);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PosixNameTest,
    ::testing::Values(PosixNameCase{"en_US.UTF-8", "en_US"}, PosixNameCase{"de_DE@euro", "de_DE"},
                      PosixNameCase{"sr_RS.UTF-8@latin", "sr_RS"}, PosixNameCase{"fr_CA", "fr_CA"},
                      PosixNameCase{"C", "en_US_POSIX"}, PosixNameCase{"C.UTF-8", "en_US_POSIX"},
                      PosixNameCase{"POSIX", "en_US_POSIX"}, PosixNameCase{"", "en_US_POSIX"}));

struct CurrentLocaleCase {
  std::map<std::string, std::string> environment;
  const char* identifier;
};

class CurrentLocaleTest : public ::testing::TestWithParam<CurrentLocaleCase> {};

TEST_P(CurrentLocaleTest, FollowsThePosixPrecedence) {
  PocketSphinxOptions options;
  options.modelRoot = PALVORIN_MODEL_ROOT;
  const std::map<std::string, std::string> environment = GetParam().environment;
  options.environmentValue = [environment](const std::string& name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  };
  EXPECT_EQ(makePocketSphinxService(options).currentLocale(), GetParam().identifier);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, CurrentLocaleTest,
    ::testing::Values(
        CurrentLocaleCase{{{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "it_IT"}},
                          "de_DE"},
        CurrentLocaleCase{{{"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "it_IT"}}, "fr_FR"},
        CurrentLocaleCase{{{"LANG", "en_GB.UTF-8"}}, "en_GB"},
        CurrentLocaleCase{{}, "en_US_POSIX"}));

class ModelDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = makeTemporaryDirectory(); }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // A model directory with every file in place whose language model is not one, which the
  // decoder refuses to load.
  void makeBrokenModel(const std::string& name) {
    const std::string installed = std::string(PALVORIN_MODEL_ROOT) + "/en-us";
    const std::string directory = root_ + "/" + name;
    std::filesystem::create_directories(directory);
    std::filesystem::create_directory_symlink(installed + "/en-us", directory + "/" + name);
    std::filesystem::create_symlink(installed + "/cmudict-en-us.dict",
                                    directory + "/cmudict-" + name + ".dict");
    writeBytes(directory + "/" + name + ".lm.bin", "not a language model");
  }

  // A copy of the installed model under root_, linked file by file.
  std::filesystem::path linkedModelCopy() {
    namespace fs = std::filesystem;
    const fs::path installed = fs::path(PALVORIN_MODEL_ROOT) / "en-us";
    const fs::path model = fs::path(root_) / "en-us";
    fs::create_directories(model / "en-us");
    for (const fs::directory_entry& entry : fs::directory_iterator(installed / "en-us")) {
      fs::create_symlink(entry.path(), model / "en-us" / entry.path().filename());
    }
    fs::create_symlink(installed / "en-us.lm.bin", model / "en-us.lm.bin");
    fs::create_symlink(installed / "cmudict-en-us.dict", model / "cmudict-en-us.dict");
    return model;
  }

  std::string root_;
};

// Page faults of the reaped children of this process: every probe adds some, so an unchanged
// count means that no probe ran.
long childPageFaults() {
  rusage usage = {};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_minflt;
}

TEST_F(ModelDirectoryTest, TheInstalledUsEnglishModelIsFound) {
  const std::vector<InstalledModel> models = findInstalledModels(PALVORIN_MODEL_ROOT);
  ASSERT_EQ(models.size(), 1u) << "pocketsphinx-en-us is not installed";
  EXPECT_EQ(models[0].localeIdentifier, "en-US");
  EXPECT_TRUE(std::filesystem::is_directory(models[0].acousticModelDir));
  EXPECT_TRUE(std::filesystem::is_regular_file(models[0].languageModelPath));
  EXPECT_TRUE(std::filesystem::is_regular_file(models[0].dictionaryPath));
}

// A model is where its acoustic model is; a missing file of it makes the model unavailable
// (status 4, like any other damage), not absent.
TEST_F(ModelDirectoryTest, ModelsNamedByLanguageAndRegionWithAnAcousticModelCount) {
  makeBrokenModel("fr-fr");
  makeBrokenModel("de-de");
  makeBrokenModel("xx");  // no region
  makeBrokenModel("it-it");
  std::filesystem::remove(root_ + "/it-it/it-it.lm.bin");  // incomplete, still a model
  makeBrokenModel("pt-br");
  std::filesystem::remove(root_ + "/pt-br/pt-br");        // no acoustic model
  std::filesystem::create_directories(root_ + "/es-es");  // empty
  PocketSphinxOptions options{root_, nullptr};
  const SpeechService service = makePocketSphinxService(options);
  const std::vector<std::string> expected = {"de-DE", "fr-FR", "it-IT"};
  EXPECT_EQ(service.supportedLocales(), expected);
  const RecognizerRef incomplete = service.createRecognizer("it_IT");
  ASSERT_NE(incomplete, nullptr);
  EXPECT_FALSE(service.isAvailable(incomplete));
}

// The decoder ends the process on a garbled model definition and crashes on a truncated one,
// and on a truncated sendump once it scores audio; here each only makes the model unavailable,
// and the model is available again once repaired, with this process alive throughout.
TEST_F(ModelDirectoryTest, AnAcousticModelThatWouldEndTheProcessIsOnlyUnavailable) {
  namespace fs = std::filesystem;
  const fs::path installed = fs::path(PALVORIN_MODEL_ROOT) / "en-us";
  const fs::path model = linkedModelCopy();
  const SpeechService service = makePocketSphinxService(PocketSphinxOptions{root_, nullptr});

  struct Damage {
    const char* file;
    double keptFraction;  // of the original; 0 writes random bytes instead
  };
  for (const Damage& damage : {Damage{"mdef", 0.5}, Damage{"mdef", 0.0}, Damage{"sendump", 0.01}}) {
    const fs::path file = model / "en-us" / damage.file;
    const std::string original = readBytes((installed / "en-us" / damage.file).string());
    std::string damaged =
        original.substr(0, static_cast<size_t>(original.size() * damage.keptFraction));
    if (damage.keptFraction == 0.0) {
      std::minstd_rand generator(3);
      damaged.assign(4096, '\0');
      for (char& byte : damaged) byte = static_cast<char>(generator());
    }
    fs::remove(file);  // the link, never the installed file
    ASSERT_TRUE(writeBytes(file.string(), damaged));
    const RecognizerRef recognizer = service.createRecognizer("en-US");
    ASSERT_NE(recognizer, nullptr);
    EXPECT_FALSE(service.isAvailable(recognizer)) << damage.file << " " << damage.keptFraction;
    fs::remove(file);
    fs::create_symlink(installed / "en-us" / damage.file, file);
    EXPECT_TRUE(service.isAvailable(recognizer)) << "repaired " << damage.file;
  }
}

// The six polls of a damaged model cost one probe: the same files are not tried again. A file
// replaced earns a new probe, and the repaired model loads.
TEST_F(ModelDirectoryTest, ADamagedModelIsTriedAgainOnlyOnceAFileChanged) {
  namespace fs = std::filesystem;
  const fs::path means = linkedModelCopy() / "en-us" / "means";
  const auto damageMeans = [&means](unsigned seed) {
    std::minstd_rand generator(seed);
    std::string bytes(4096, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator());
    fs::remove(means);
    return writeBytes(means.string(), bytes);
  };
  ASSERT_TRUE(damageMeans(5));
  const SpeechService service = makePocketSphinxService(PocketSphinxOptions{root_, nullptr});
  const RecognizerRef recognizer = service.createRecognizer("en-US");
  ASSERT_NE(recognizer, nullptr);
  EXPECT_FALSE(service.isAvailable(recognizer));
  const long afterFirstProbe = childPageFaults();
  EXPECT_GT(afterFirstProbe, 0);
  EXPECT_FALSE(service.isAvailable(recognizer));
  EXPECT_FALSE(service.isAvailable(recognizer));
  EXPECT_EQ(childPageFaults(), afterFirstProbe) << "probed again with the same files";
  ASSERT_TRUE(damageMeans(6));
  EXPECT_FALSE(service.isAvailable(recognizer));
  EXPECT_GT(childPageFaults(), afterFirstProbe) << "not probed again after a change";
  fs::remove(means);
  fs::create_symlink(fs::path(PALVORIN_MODEL_ROOT) / "en-us" / "en-us" / "means", means);
  EXPECT_TRUE(service.isAvailable(recognizer));
}

// A probe that would never end (its child stopped here) is killed at the time limit, and the
// model is unavailable; the child is reaped, so nothing of it is left.
TEST_F(ModelDirectoryTest, AProbeIsKilledAtItsTimeLimit) {
  // 200 MB of zeros for feat.params keep the probe busy for a second or more.
  const std::string featureParameters = (linkedModelCopy() / "en-us" / "feat.params").string();
  std::filesystem::remove(featureParameters);
  const int descriptor = ::open(featureParameters.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(::ftruncate(descriptor, 200 << 20), 0);
  ::close(descriptor);
  PocketSphinxOptions options{root_, nullptr};
  options.probeTimeLimit = std::chrono::seconds(3);
  const SpeechService service = makePocketSphinxService(options);
  const RecognizerRef recognizer = service.createRecognizer("en-US");
  ASSERT_NE(recognizer, nullptr);

  std::atomic<bool> answered{false};
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    while (!answered && !stopped) {
      for (pid_t child : liveChildrenOf(::getpid())) stopped = ::kill(child, SIGSTOP) == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_FALSE(service.isAvailable(recognizer));
  answered = true;
  stopper.join();
  EXPECT_TRUE(stopped.load()) << "the probe ended before it could be stopped";
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ModelDirectoryTest, NoModelsMeansNoLocalesAndNoRecognizer) {
  PocketSphinxOptions options{root_ + "/absent", nullptr};
  const SpeechService service = makePocketSphinxService(options);
  EXPECT_TRUE(service.supportedLocales().empty());
  EXPECT_EQ(service.createRecognizer("en-US"), nullptr);
}

TEST_F(ModelDirectoryTest, AModelThatDoesNotLoadIsUnavailableAndFailsRecognition) {
  makeBrokenModel("en-us");
  const SpeechService service = makePocketSphinxService(PocketSphinxOptions{root_, nullptr});
  const RecognizerRef recognizer = service.createRecognizer("en_US");
  ASSERT_NE(recognizer, nullptr);
  EXPECT_FALSE(service.isAvailable(recognizer));
  EXPECT_FALSE(service.isAvailable(recognizer));  // tried again, still refused

  Semaphore done = makeThreadSemaphore();
  std::optional<RecognitionError> reported;
  service.startRecognitionTask(recognizer, RecognitionRequest{librivoxClips().at(1).path},
                               [&, done](const std::optional<RecognitionResult>&,
                                         const std::optional<RecognitionError>& error) {
                                 reported = error;
                                 done.signal();
                               });
  done.wait();
  ASSERT_TRUE(reported.has_value());
  EXPECT_EQ(reported->code, kErrorModelNotLoaded);
  EXPECT_EQ(reported->domain, kPocketSphinxErrorDomain);
}

// ---------------------------------------------------------------------------------------------
// The service on the real model, loaded once for the suite.

struct HandlerCallRecord {
  std::optional<RecognitionResult> result;
  std::optional<RecognitionError> error;
  std::thread::id thread;
  int nice = 0;
};

// Collects handler calls until the first final result or error. The handler signals through
// its own copy of the semaphore: the collector may be gone by the time signal() returns.
struct Collector {
  std::mutex mutex;
  std::vector<HandlerCallRecord> calls;
  Semaphore settled = makeThreadSemaphore();

  ResultHandler handler() {
    return [this, settled = settled](const std::optional<RecognitionResult>& result,
                                     const std::optional<RecognitionError>& error) {
      const bool last = error || (result && result->isFinal);
      {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back({result, error, std::this_thread::get_id(), currentThreadNice()});
      }
      if (last) settled.signal();
    };
  }

  HandlerCallRecord last() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.back();
  }
};

class RealModelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    service_ = new SpeechService(makePocketSphinxService({PALVORIN_MODEL_ROOT, nullptr}));
    recognizer_ = new RecognizerRef(service_->createRecognizer("en-US"));
    // Loaded here, at this thread's priority, as the command loads it before recognition
    // starts; a first load on a low-priority decoding thread starves on a busy machine.
    ASSERT_TRUE(service_->isAvailable(*recognizer_));
    directory_ = new std::string(makeTemporaryDirectory());
    ASSERT_TRUE(writeGoForwardWav(goForward()));
    ASSERT_TRUE(writeWav(shortSilence(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1,
                         std::vector<float>(8000, 0.0f)));
  }
  static std::string goForward() { return *directory_ + "/goforward.wav"; }
  // Half a second that decodes to nothing, quickly: for tests of where decoding runs.
  static std::string shortSilence() { return *directory_ + "/short-silence.wav"; }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*directory_);
    delete directory_;
    delete recognizer_;
    delete service_;
  }

  static HandlerCallRecord recognize(const std::string& path, bool partialResults = false) {
    Collector collector;
    RecognitionRequest request{path, true, partialResults};
    service_->startRecognitionTask(*recognizer_, request, collector.handler());
    collector.settled.wait();
    return collector.last();
  }

  static SpeechService* service_;
  static RecognizerRef* recognizer_;
  static std::string* directory_;
};

SpeechService* RealModelTest::service_ = nullptr;
RecognizerRef* RealModelTest::recognizer_ = nullptr;
std::string* RealModelTest::directory_ = nullptr;

TEST_F(RealModelTest, AnswersLikeADeviceWithoutPermissions) {
  std::atomic<int64_t> status{-1};
  service_->requestAuthorization([&status](int64_t answer) { status = answer; });
  EXPECT_EQ(status.load(), kAuthorizationAuthorized);
  ASSERT_NE(*recognizer_, nullptr);
  EXPECT_TRUE(service_->isAvailable(*recognizer_));
  EXPECT_TRUE(service_->supportsOnDeviceRecognition(*recognizer_));
  const std::vector<std::string> locales = {"en-US"};
  EXPECT_EQ(service_->supportedLocales(), locales);
  EXPECT_NE(service_->createRecognizer("en_US"), nullptr);
  EXPECT_EQ(service_->createRecognizer("en-GB"), nullptr);
  EXPECT_EQ(service_->createRecognizer("fr_FR"), nullptr);
}

TEST_F(RealModelTest, TranscribesOnItsOwnThread) {
  const HandlerCallRecord call = recognize(goForward());
  ASSERT_FALSE(call.error.has_value()) << call.error->localizedDescription;
  ASSERT_TRUE(call.result.has_value());
  EXPECT_TRUE(call.result->isFinal);
  EXPECT_EQ(call.result->formattedString, kGoForwardTranscript);
  EXPECT_NE(call.thread, std::this_thread::get_id());
}

TEST_F(RealModelTest, PartialResultsWhenAskedLeadUpToTheFinalOne) {
  const std::string clip = goForward();
  const std::string path = *directory_ + "/with-pauses.wav";
  // Two copies with a second of silence between them make at least two utterances.
  ASSERT_EQ(runProcess({PALVORIN_SOX, clip, clip, path, "pad", "0", "1"}).status, 0);
  Collector collector;
  service_->startRecognitionTask(*recognizer_, RecognitionRequest{path, true, true},
                                 collector.handler());
  collector.settled.wait();
  std::lock_guard<std::mutex> lock(collector.mutex);
  ASSERT_GE(collector.calls.size(), 2u);
  const std::string final = collector.calls.back().result->formattedString;
  for (size_t i = 0; i + 1 < collector.calls.size(); ++i) {
    ASSERT_TRUE(collector.calls[i].result.has_value());
    EXPECT_FALSE(collector.calls[i].result->isFinal);
    EXPECT_EQ(final.rfind(collector.calls[i].result->formattedString, 0), 0u) << final;
  }
}

TEST_F(RealModelTest, ZeroFramesAndSilenceGiveAnEmptyFinalTranscript) {
  const std::string empty = *directory_ + "/zero-frames.wav";
  const std::string silence = *directory_ + "/silence.wav";
  ASSERT_TRUE(writeWav(empty, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, {}));
  ASSERT_TRUE(writeWav(silence, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1,
                       std::vector<float>(32000, 0.0f)));
  for (const std::string& path : {empty, silence}) {
    const HandlerCallRecord call = recognize(path);
    ASSERT_TRUE(call.result.has_value()) << path;
    EXPECT_TRUE(call.result->isFinal);
    EXPECT_EQ(call.result->formattedString, "") << path;
  }
}

struct FaultCase {
  const char* name;
  std::function<bool(const std::string&)> make;
  int64_t code;
};

void PrintTo(const FaultCase& fault, std::ostream* stream) {
  *stream << fault.name;
}

class RecognitionFaultTest : public RealModelTest,
                             public ::testing::WithParamInterface<FaultCase> {};

// Each fault carries its code and this backend's domain, and the decoder is left ready: the
// next recognition on the same recognizer gives what a fresh one would.
TEST_P(RecognitionFaultTest, ReportsTheFaultAndRecovers) {
  const std::string path = *directory_ + "/" + GetParam().name;
  ASSERT_TRUE(GetParam().make(path));
  const HandlerCallRecord failed = recognize(path);
  ASSERT_TRUE(failed.error.has_value());
  EXPECT_EQ(failed.error->code, GetParam().code);
  EXPECT_EQ(failed.error->domain, kPocketSphinxErrorDomain);
  EXPECT_FALSE(failed.error->localizedDescription.empty());

  const HandlerCallRecord after = recognize(goForward());
  ASSERT_TRUE(after.result.has_value());
  EXPECT_EQ(after.result->formattedString, kGoForwardTranscript);
}

const FaultCase kFaults[] = {
    {"Directory", [](const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0; },
     kErrorNotAFile},
    {"Empty", [](const std::string& path) { return writeBytes(path, ""); }, kErrorUnreadableAudio},
    {"NotAudio", [](const std::string& path) { return writeBytes(path, std::string(9000, 'x')); },
     kErrorUnreadableAudio},
};

INSTANTIATE_TEST_SUITE_P(Faults, RecognitionFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The budget's class governs the thread that starts recognition and the decoding it starts.

struct PriorityCase {
  const char* name;
  QosClass qos;
};

void PrintTo(const PriorityCase& priority, std::ostream* stream) {
  *stream << priority.name;
}

class PriorityTest : public RealModelTest, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(PriorityTest, StarterAndDecoderRunAtTheClassPriority) {
  const Platform platform = makeSystemPlatform();
  const int callerNice = currentThreadNice();
  const int expected = niceValueForClass(GetParam().qos, callerNice);
  Collector collector;
  std::atomic<int> starterNice{-100};
  std::atomic<bool> starterOnOtherThread{false};
  const std::thread::id caller = std::this_thread::get_id();
  platform.dispatchAsync(GetParam().qos, [&] {
    starterNice = currentThreadNice();
    starterOnOtherThread = std::this_thread::get_id() != caller;
    service_->startRecognitionTask(*recognizer_, RecognitionRequest{shortSilence(), true, false},
                                   collector.handler());
  });
  collector.settled.wait();
  const HandlerCallRecord call = collector.last();
  EXPECT_TRUE(starterOnOtherThread.load());
  EXPECT_EQ(starterNice.load(), expected);
  ASSERT_TRUE(call.result.has_value());
  EXPECT_EQ(call.nice, expected);
  EXPECT_NE(call.thread, caller);
  EXPECT_EQ(currentThreadNice(), callerNice) << "the caller's own priority is left alone";
}

INSTANTIATE_TEST_SUITE_P(Classes, PriorityTest,
                         ::testing::Values(PriorityCase{"Background", QosClass::background},
                                           PriorityCase{"Utility", QosClass::utility},
                                           PriorityCase{"UserInitiated", QosClass::userInitiated}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace palvorin::testing
