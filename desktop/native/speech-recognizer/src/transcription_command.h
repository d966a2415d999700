// The command's whole run: arguments and environment in, transcript or one diagnostic and an
// exit status out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"
#include "speech_service.h"

namespace palvorin {

inline constexpr const char* kBudgetVariable = "PALVORIN_CPU_BUDGET";

enum ExitStatus : int {
  kExitTranscribed = 0,
  kExitUsage = 1,  // also: nothing exists at the path
  kExitNotAuthorized = 2,
  kExitNoRecognizer = 3,
  kExitNotAvailable = 4,
  kExitNoOnDevice = 5,
  kExitRecognize = 6,
  kExitOutput = 7,  // the transcript could not be written
};

// "low" and "high" exactly; anything else, the empty text included, is utility.
QosClass qosClassForBudget(const std::string& budgetEnv);

// The reason word of the ERR_NOT_AUTHORIZED text for a status other than authorized.
std::string authorizationReasonWord(int64_t authStatus);

// Runs the command; `arguments` includes the program name. Blocks until the outcome is known.
int runTranscriptionCommand(const std::vector<std::string>& arguments, const SpeechService& service,
                            const Platform& platform, const StandardStreams& streams);

}  // namespace palvorin
