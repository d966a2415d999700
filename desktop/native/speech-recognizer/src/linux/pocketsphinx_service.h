// The speech service on PocketSphinx, for Linux.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model_checks.h"
#include "speech_service.h"

namespace palvorin {

// Errors of this backend, as the ERR_RECOGNIZE line reports them.
inline constexpr const char* kPocketSphinxErrorDomain = "PalvorinPocketSphinxErrorDomain";
enum PocketSphinxErrorCode : int64_t {
  kErrorNotAFile = 1,         // a directory or other non-regular entry
  kErrorUnreadableAudio = 2,  // libsndfile cannot open it as audio
  kErrorUnusableFormat = 3,   // opened, but its rate, channels or declared length are unusable
  kErrorAudioRead = 4,        // reading the samples failed part way
  kErrorResample = 5,         // conversion to the model's sample rate failed
  kErrorDecoder = 6,          // the decoder refused the audio
  kErrorModelNotLoaded = 7,   // the model did not load when recognition began
  kErrorThreadStart = 8,      // no thread could be started for recognition
};

// One model directory: <root>/<name>/ holding the acoustic model <name>/, the language model
// <name>.lm.bin and the dictionary cmudict-<name>.dict (or <name>.dict). The acoustic model's
// directory makes it a model; the files are looked for when it loads.
struct InstalledModel {
  std::string localeIdentifier;  // "en-US" for the directory "en-us"
  std::string acousticModelDir;
  std::string languageModelPath;
  std::string dictionaryPath;
};

// Models under `modelRoot`, in the order of their directory names.
std::vector<InstalledModel> findInstalledModels(const std::string& modelRoot);

// True when the identifier's language and region are the model's ("en_US", "en-US",
// "en_US_POSIX" and "en-Latn-US" all match "en-US"; "en" alone does not).
bool localeMatchesModel(const std::string& localeIdentifier, const std::string& modelLocale);

// The identifier of a POSIX locale name ("de_DE.UTF-8@euro" gives "de_DE"); the C and POSIX
// locales, and no locale at all, give "en_US_POSIX".
std::string localeIdentifierFromPosixName(const std::string& posixName);

struct PocketSphinxOptions {
  std::string modelRoot;
  // Where the user's locale comes from; the process environment when unset.
  std::function<std::optional<std::string>(const std::string& name)> environmentValue;
  // How long the child that tries the acoustic model may take before it is killed and the
  // model counts as damaged.
  std::chrono::milliseconds probeTimeLimit = kProbeTimeLimit;
};

SpeechService makePocketSphinxService(const PocketSphinxOptions& options);

}  // namespace palvorin
