#include "recognizer_selection.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace palvorin {
namespace {

struct SelectionCase {
  const char* name;
  std::string currentLocale;
  std::vector<std::string> supported;
  std::set<std::string> servable;
  std::vector<std::string> expectedAttempts;
  std::optional<std::string> expectedChoice;
};

void PrintTo(const SelectionCase& selection, std::ostream* stream) {
  *stream << selection.name;
}

struct SelectionLog {
  std::vector<std::string> attempts;
  int supportedQueries = 0;
};

SpeechService scriptedService(const SelectionCase& selection, SelectionLog& log) {
  SpeechService service;
  service.currentLocale = [&selection] { return selection.currentLocale; };
  service.supportedLocales = [&selection, &log] {
    ++log.supportedQueries;
    return selection.supported;
  };
  service.createRecognizer = [&selection, &log](const std::string& identifier) -> RecognizerRef {
    log.attempts.push_back(identifier);
    if (selection.servable.count(identifier) == 0) return nullptr;
    return std::make_shared<std::string>(identifier);
  };
  return service;
}

class SelectionTest : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionTest, TriesCandidatesInOrderOncePerIdentifier) {
  const SelectionCase& selection = GetParam();
  SelectionLog log;
  const std::optional<ChosenRecognizer> chosen = makeRecognizer(scriptedService(selection, log));
  EXPECT_EQ(log.attempts, selection.expectedAttempts);
  EXPECT_EQ(log.supportedQueries, 1);
  EXPECT_LE(log.attempts.size(), 5u);
  if (!selection.expectedChoice) {
    EXPECT_FALSE(chosen.has_value());
    return;
  }
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->localeIdentifier, *selection.expectedChoice);
  ASSERT_NE(chosen->recognizer, nullptr);
  // The recognizer is the one created for that identifier, not a later candidate's.
  EXPECT_EQ(*std::static_pointer_cast<std::string>(chosen->recognizer), *selection.expectedChoice);
}

const SelectionCase kSelections[] = {
    {"CurrentLocaleFirstEvenWhenEnglishIsServable",
     "fr_FR",
     {"en-US", "fr-FR"},
     {"fr_FR", "en-US"},
     {"fr_FR"},
     "fr_FR"},
    {"CurrentEnUsIsNotTriedTwice", "en-US", {"de-DE"}, {"en-GB"}, {"en-US", "en-GB"}, "en-GB"},
    {"IdentifiersThatDifferAsStringsAreTriedSeparately",
     "en_US",
     {},
     {"en-US"},
     {"en_US", "en-US"},
     "en-US"},
    {"CaseMattersInTheComparison", "EN-US", {}, {"en-US"}, {"EN-US", "en-US"}, "en-US"},
    {"FallsBackToBritishEnglish", "ja_JP", {}, {"en-GB"}, {"ja_JP", "en-US", "en-GB"}, "en-GB"},
    {"FallsBackToTheFirstSupported",
     "ja_JP",
     {"de-DE", "it-IT"},
     {"de-DE", "it-IT"},
     {"ja_JP", "en-US", "en-GB", "de-DE"},
     "de-DE"},
    {"TakesOnlyTheFirstTwoSupported",
     "ja_JP",
     {"de-DE", "it-IT", "es-ES"},
     {"es-ES"},
     {"ja_JP", "en-US", "en-GB", "de-DE", "it-IT"},
     std::nullopt},
    {"SupportedThatRepeatACandidateAreSkipped",
     "en-US",
     {"en-GB", "en-US"},
     {},
     {"en-US", "en-GB"},
     std::nullopt},
    {"OneSupportedLocale",
     "fr_CA",
     {"pt-BR"},
     {"pt-BR"},
     {"fr_CA", "en-US", "en-GB", "pt-BR"},
     "pt-BR"},
    {"EmptySupportedSetGivesAtMostThreeAttempts",
     "ja_JP",
     {},
     {},
     {"ja_JP", "en-US", "en-GB"},
     std::nullopt},
    {"NothingServableGivesNothing",
     "fr_FR",
     {"de-DE", "ja-JP", "it-IT"},
     {},
     {"fr_FR", "en-US", "en-GB", "de-DE", "ja-JP"},
     std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Candidates, SelectionTest, ::testing::ValuesIn(kSelections),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace palvorin
