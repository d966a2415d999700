#include "transcription_command.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "recognition_outcome.h"
#include "scripted_world.h"

namespace palvorin::testing {
namespace {

const std::string kProgram = "palvorin-speech-recognizer";
const std::string kClip = "/audio/clip.wav";
const std::string kGrantText =
    ". Grant permission in System Settings \u2192 Privacy & Security \u2192 Speech Recognition.\n";
const std::string kNotAvailableTail =
    "s. macOS may be downloading the on-device speech model; retry in a minute.\n";

// ---------------------------------------------------------------------------------------------
// Every failure: one exact diagnostic, written in one piece, its status, nothing on stdout.

struct FailureCase {
  const char* name;
  std::function<void(SpeechScript&, std::vector<std::string>&)> arrange;
  int status;
  std::string diagnostic;
};

void PrintTo(const FailureCase& failure, std::ostream* stream) {
  *stream << failure.name;
}

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, WritesOneDiagnosticAndExitsWithItsStatus) {
  const FailureCase& failure = GetParam();
  SpeechScript speech;
  std::vector<std::string> arguments = {kProgram, kClip};
  failure.arrange(speech, arguments);
  ScriptedWorld world(speech, PlatformScript{});
  const RunOutcome outcome = world.run(arguments);
  EXPECT_EQ(outcome.status, failure.status);
  EXPECT_EQ(outcome.err, failure.diagnostic);
  EXPECT_EQ(outcome.errWrites, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.outWrites, 0);
}

auto authorization(int64_t status) {
  return [status](SpeechScript& speech, std::vector<std::string>&) { speech.authStatus = status; };
}

auto availability(std::vector<bool> answers) {
  return
      [answers](SpeechScript& speech, std::vector<std::string>&) { speech.availability = answers; };
}

auto recognitionCalls(std::vector<HandlerCall> calls) {
  return [calls](SpeechScript& speech, std::vector<std::string>&) { speech.handlerCalls = calls; };
}

const FailureCase kFailures[] = {
    {"NoArgument",
     [](SpeechScript&, std::vector<std::string>& arguments) { arguments = {kProgram}; }, 1,
     "Usage: palvorin-speech-recognizer <wav-file>\n"},
    {"NoArgumentsAtAll", [](SpeechScript&, std::vector<std::string>& arguments) { arguments = {}; },
     1, "Usage: palvorin-speech-recognizer <wav-file>\n"},
    {"MissingFileKeepsThePathAsPassed",
     [](SpeechScript&, std::vector<std::string>& arguments) {
       arguments = {kProgram, "./no such/clip .WAV"};
     },
     1, "File not found: ./no such/clip .WAV\n"},
    {"MissingEmptyPath",
     [](SpeechScript&, std::vector<std::string>& arguments) {
       arguments = {kProgram, ""};
     },
     1, "File not found: \n"},
    {"NotDetermined", authorization(0), 2,
     "[palvorin-speech] ERR_NOT_AUTHORIZED reason=not-determined" + kGrantText},
    {"Denied", authorization(1), 2,
     "[palvorin-speech] ERR_NOT_AUTHORIZED reason=denied" + kGrantText},
    {"Restricted", authorization(2), 2,
     "[palvorin-speech] ERR_NOT_AUTHORIZED reason=restricted" + kGrantText},
    {"UnknownStatus", authorization(7), 2,
     "[palvorin-speech] ERR_NOT_AUTHORIZED reason=unknown(7)" + kGrantText},
    {"NegativeStatus", authorization(-4), 2,
     "[palvorin-speech] ERR_NOT_AUTHORIZED reason=unknown(-4)" + kGrantText},
    {"NoRecognizer",
     [](SpeechScript& speech, std::vector<std::string>&) { speech.servableLocales.clear(); }, 3,
     "[palvorin-speech] ERR_NO_RECOGNIZER no recognizer for any locale\n"},
    {"NeverAvailable", availability({false}), 4,
     "[palvorin-speech] ERR_NOT_AVAILABLE locale=en_US waited=6" + kNotAvailableTail},
    {"AvailableThenUnavailableAtSecondQuery", availability({true, false}), 4,
     "[palvorin-speech] ERR_NOT_AVAILABLE locale=en_US waited=0" + kNotAvailableTail},
    {"AvailableAfterOneWaitThenGone", availability({false, true, false}), 4,
     "[palvorin-speech] ERR_NOT_AVAILABLE locale=en_US waited=1" + kNotAvailableTail},
    {"ReportsTheChosenLocale",
     [](SpeechScript& speech, std::vector<std::string>&) {
       speech.currentLocale = "de_DE";
       speech.servableLocales = {"en-GB"};
       speech.availability = {false};
     },
     4, "[palvorin-speech] ERR_NOT_AVAILABLE locale=en-GB waited=6" + kNotAvailableTail},
    {"NoOnDevice", [](SpeechScript& speech, std::vector<std::string>&) { speech.onDevice = false; },
     5,
     "[palvorin-speech] ERR_NO_ONDEVICE locale=en_US. On-device speech model isn't installed on "
     "this Mac yet. macOS downloads it automatically; usually ready within a few minutes of "
     "first request.\n"},
    {"RecognitionError",
     recognitionCalls({errorCall(1110, "kAFAssistantErrorDomain", "No speech detected")}), 6,
     "[palvorin-speech] ERR_RECOGNIZE code=1110 domain=kAFAssistantErrorDomain msg=No speech "
     "detected\n"},
    {"NegativeCodeKeepsItsSign",
     recognitionCalls({errorCall(-11800, "AVFoundationErrorDomain", "x")}), 6,
     "[palvorin-speech] ERR_RECOGNIZE code=-11800 domain=AVFoundationErrorDomain msg=x\n"},
    {"ErrorWithAResult",
     recognitionCalls({HandlerCall{RecognitionResult{true, "ignored"},
                                   RecognitionError{203, "kAFAssistantErrorDomain", "Retry"}}}),
     6, "[palvorin-speech] ERR_RECOGNIZE code=203 domain=kAFAssistantErrorDomain msg=Retry\n"},
    {"ErrorBeforeALateFinalResult",
     recognitionCalls({partialResult("he"), errorCall(1, "D", "first"), finalResult("late")}), 6,
     "[palvorin-speech] ERR_RECOGNIZE code=1 domain=D msg=first\n"},
    {"EmptyErrorFields", recognitionCalls({errorCall(0, "", "")}), 6,
     "[palvorin-speech] ERR_RECOGNIZE code=0 domain= msg=\n"},
};

INSTANTIATE_TEST_SUITE_P(Diagnostics, FailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Success: the first final result, a line feed, status 0, nothing on stderr.

struct SuccessCase {
  const char* name;
  std::vector<HandlerCall> calls;
  std::string out;
};

void PrintTo(const SuccessCase& success, std::ostream* stream) {
  *stream << success.name;
}

class SuccessTest : public ::testing::TestWithParam<SuccessCase> {};

TEST_P(SuccessTest, PrintsTheFirstFinalTranscript) {
  SpeechScript speech;
  speech.handlerCalls = GetParam().calls;
  ScriptedWorld world(speech, PlatformScript{});
  const RunOutcome outcome = world.run({kProgram, kClip});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, GetParam().out);
  EXPECT_EQ(outcome.outWrites, 1);
  EXPECT_EQ(outcome.err, "");
}

const SuccessCase kSuccesses[] = {
    {"FinalResult", {finalResult("hello world")}, "hello world\n"},
    {"EmptyTranscriptPrintsALoneLineFeed", {finalResult("")}, "\n"},
    {"PartialResultsAreSkipped",
     {partialResult("hel"), partialResult("hello"), finalResult("hello there")},
     "hello there\n"},
    {"CallWithNeitherIsSkipped", {HandlerCall{}, finalResult("ok")}, "ok\n"},
    {"LateErrorAfterFinalIsIgnored", {finalResult("first"), errorCall(1, "D", "late")}, "first\n"},
    {"SecondFinalIsIgnored", {finalResult("first"), finalResult("second")}, "first\n"},
    {"TextIsPrintedAsGiven",
     {finalResult("Caf\u00e9, 3 o'clock.\tTab")},
     "Caf\u00e9, 3 o'clock.\tTab\n"},
};

INSTANTIATE_TEST_SUITE_P(Transcripts, SuccessTest, ::testing::ValuesIn(kSuccesses),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A transcript that could not be written: its own status and one diagnostic with the error.

struct OutputFailureCase {
  const char* name;
  int64_t code;
  const char* description;
  const char* diagnostic;
};

void PrintTo(const OutputFailureCase& output, std::ostream* stream) {
  *stream << output.name;
}

class OutputFailureTest : public ::testing::TestWithParam<OutputFailureCase> {};

TEST_P(OutputFailureTest, IsReportedWithTheErrorAndStatusSeven) {
  PlatformScript platform;
  platform.outputFailure = WriteFailure{GetParam().code, GetParam().description};
  ScriptedWorld world(SpeechScript{}, platform);
  const RunOutcome outcome = world.run({kProgram, kClip});
  EXPECT_EQ(outcome.status, 7);
  EXPECT_EQ(outcome.outWrites, 1);
  EXPECT_EQ(outcome.err, GetParam().diagnostic);
  EXPECT_EQ(outcome.errWrites, 1);
}

const OutputFailureCase kOutputFailures[] = {
    {"FullDisk", 28, "No space left on device",
     "[palvorin-speech] ERR_OUTPUT code=28 msg=No space left on device\n"},
    {"EmptyDescription", 5, "", "[palvorin-speech] ERR_OUTPUT code=5 msg=\n"},
};

INSTANTIATE_TEST_SUITE_P(Failures, OutputFailureTest, ::testing::ValuesIn(kOutputFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The availability wait: one-second sleeps on a clock that does not really sleep.

struct AvailabilityCase {
  const char* name;
  std::vector<bool> answers;
  int sleeps;
  int queries;
  int status;
};

void PrintTo(const AvailabilityCase& timeline, std::ostream* stream) {
  *stream << timeline.name;
}

class AvailabilityTest : public ::testing::TestWithParam<AvailabilityCase> {};

TEST_P(AvailabilityTest, WaitsOneSecondPerPollAtMostSixTimes) {
  const AvailabilityCase& timeline = GetParam();
  SpeechScript speech;
  speech.availability = timeline.answers;
  ScriptedWorld world(speech, PlatformScript{});
  const RunOutcome outcome = world.run({kProgram, kClip});
  const WorldLog log = world.log();
  EXPECT_EQ(outcome.status, timeline.status) << outcome.err;
  EXPECT_EQ(log.sleeps, timeline.sleeps);
  EXPECT_EQ(log.availabilityQueries, timeline.queries);
}

const AvailabilityCase kTimelines[] = {
    {"AvailableAtOnce", {true}, 0, 2, 0},
    {"AvailableAfterThreeWaits", {false, false, false, true}, 3, 5, 0},
    {"AvailableAtTheLastPoll", {false, false, false, false, false, false, true}, 6, 8, 0},
    {"NeverAvailable", {false}, 6, 8, 4},
    {"AvailableThenUnavailable", {true, false}, 0, 2, 4},
};

INSTANTIATE_TEST_SUITE_P(Timelines, AvailabilityTest, ::testing::ValuesIn(kTimelines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AvailabilityWait, AfterThreeWaitsGoesOnWithoutAMessage) {
  SpeechScript speech;
  speech.availability = {false, false, false, true};
  ScriptedWorld world(speech, PlatformScript{});
  const RunOutcome outcome = world.run({kProgram, kClip});
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out, "hello world\n");
}

// ---------------------------------------------------------------------------------------------
// The budget picks the class of the queue that starts recognition, and nothing else.

struct BudgetCase {
  const char* name;
  std::optional<std::string> budget;
  QosClass qos;
};

void PrintTo(const BudgetCase& budget, std::ostream* stream) {
  *stream << budget.name;
}

class BudgetTest : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(BudgetTest, SelectsTheQueueClass) {
  PlatformScript platform;
  if (GetParam().budget) platform.environment[kBudgetVariable] = *GetParam().budget;
  ScriptedWorld world(SpeechScript{}, platform);
  const RunOutcome outcome = world.run({kProgram, kClip});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "hello world\n");
  ASSERT_EQ(world.log().dispatchClasses.size(), 1u);
  EXPECT_EQ(world.log().dispatchClasses[0], GetParam().qos);
}

const BudgetCase kBudgets[] = {
    {"Absent", std::nullopt, QosClass::utility},
    {"Medium", "medium", QosClass::utility},
    {"Empty", "", QosClass::utility},
    {"Low", "low", QosClass::background},
    {"High", "high", QosClass::userInitiated},
    {"UpperLow", "LOW", QosClass::utility},
    {"CapitalHigh", "High", QosClass::utility},
    {"PaddedLow", " low", QosClass::utility},
    {"LowWithNewline", "low\n", QosClass::utility},
    {"Lowest", "lowest", QosClass::utility},
    {"Hi", "hi", QosClass::utility},
};

INSTANTIATE_TEST_SUITE_P(Budgets, BudgetTest, ::testing::ValuesIn(kBudgets),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The order of the run and what it hands the service.

TEST(CommandFlow, AsksTheServiceInOrderAndRequestsOnDeviceWithoutPartialResults) {
  ScriptedWorld world(SpeechScript{}, PlatformScript{});
  const RunOutcome outcome = world.run({kProgram, kClip, "--ignored", "extra.wav"});
  EXPECT_EQ(outcome.status, 0);
  const WorldLog log = world.log();
  const std::vector<std::string> expected = {"exists",       "auth",      "supported",
                                             "create:en_US", "available", "available",
                                             "ondevice",     "dispatch",  "recognize"};
  EXPECT_EQ(log.events, expected);
  ASSERT_EQ(log.requests.size(), 1u);
  EXPECT_EQ(log.requests[0].wavPath, kClip);
  EXPECT_TRUE(log.requests[0].requiresOnDeviceRecognition);
  EXPECT_FALSE(log.requests[0].shouldReportPartialResults);
}

TEST(CommandFlow, ExtraArgumentsChangeNothing) {
  ScriptedWorld plain(SpeechScript{}, PlatformScript{});
  ScriptedWorld extra(SpeechScript{}, PlatformScript{});
  const RunOutcome without = plain.run({kProgram, kClip});
  const RunOutcome with = extra.run({kProgram, kClip, "/audio/other.wav", "-v"});
  EXPECT_EQ(with.status, without.status);
  EXPECT_EQ(with.out, without.out);
  EXPECT_EQ(with.err, without.err);
  EXPECT_EQ(extra.log().events, plain.log().events);
}

TEST(CommandFlow, MissingFileIsReportedBeforeAnyUseOfTheService) {
  ScriptedWorld world(SpeechScript{}, PlatformScript{});
  world.run({kProgram, "/audio/missing.wav"});
  const std::vector<std::string> expected = {"exists"};
  EXPECT_EQ(world.log().events, expected);
  EXPECT_EQ(world.log().authRequests, 0);
}

TEST(CommandFlow, UsageErrorComesBeforeTheFileTest) {
  ScriptedWorld world(SpeechScript{}, PlatformScript{});
  world.run({kProgram});
  EXPECT_TRUE(world.log().events.empty());
}

TEST(CommandFlow, ChosenRecognizerIsNeverReplacedWhenItLacksOnDeviceSupport) {
  SpeechScript speech;
  speech.onDevice = false;
  ScriptedWorld world(speech, PlatformScript{});
  const RunOutcome outcome = world.run({kProgram, kClip});
  EXPECT_EQ(outcome.status, 5);
  const std::vector<std::string> attempts = {"en_US"};
  EXPECT_EQ(world.log().creationAttempts, attempts);
  EXPECT_TRUE(world.log().requests.empty());
}

// ---------------------------------------------------------------------------------------------
// Late callbacks must not race the main thread's read of the outcome.

TEST(LateCallbacks, AStormOfErrorsAfterTheFinalResultNeverChangesWhatIsPrinted) {
  for (int run = 0; run < 50; ++run) {
    SpeechScript speech;
    speech.handlerCalls = {finalResult("kept")};
    for (int late = 0; late < 200; ++late)
      speech.handlerCalls.push_back(errorCall(late, "D", "late"));
    ScriptedWorld world(speech, PlatformScript{});
    const RunOutcome outcome = world.run({kProgram, kClip});
    ASSERT_EQ(outcome.status, 0);
    ASSERT_EQ(outcome.out, "kept\n");
  }
}

TEST(RecognitionOutcomeGuard, OnlyOneOfManyConcurrentOutcomesSettles) {
  RecognitionOutcome outcome;
  std::atomic<int> settled{0};
  std::atomic<int> winner{-1};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      for (int call = 0; call < 100; ++call) {
        const bool asError = (i % 2) == 1;
        const bool won =
            asError ? outcome.settle(std::nullopt, RecognitionError{i, "D", "m"})
                    : outcome.settle(RecognitionResult{true, std::to_string(i)}, std::nullopt);
        if (won) {
          ++settled;
          winner = i;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(settled.load(), 1);
  const RecognitionOutcome::Snapshot snapshot = outcome.read();
  if (winner % 2 == 1) {
    ASSERT_TRUE(snapshot.recognizeError.has_value());
    EXPECT_EQ(snapshot.recognizeError->code, winner.load());
    EXPECT_EQ(snapshot.transcript, "");
  } else {
    EXPECT_FALSE(snapshot.recognizeError.has_value());
    EXPECT_EQ(snapshot.transcript, std::to_string(winner.load()));
  }
}

TEST(RecognitionOutcomeGuard, PartialResultsAndEmptyCallsSettleNothing) {
  RecognitionOutcome outcome;
  EXPECT_FALSE(outcome.settle(RecognitionResult{false, "partial"}, std::nullopt));
  EXPECT_FALSE(outcome.settle(std::nullopt, std::nullopt));
  EXPECT_TRUE(outcome.settle(RecognitionResult{true, "final"}, std::nullopt));
  EXPECT_EQ(outcome.read().transcript, "final");
}

}  // namespace
}  // namespace palvorin::testing
