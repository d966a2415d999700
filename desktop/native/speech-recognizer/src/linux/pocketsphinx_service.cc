#include "pocketsphinx_service.h"

#include <dirent.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>
#include <pocketsphinx.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "audio_source.h"
#include "model_checks.h"
#include "threads.h"

namespace palvorin {
namespace {

struct LanguageRegion {
  std::string language;  // lower case
  std::string region;    // upper case; empty when the identifier names none
};

std::vector<std::string> splitIdentifier(const std::string& identifier) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : identifier) {
    if (c == '-' || c == '_') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

bool allOf(const std::string& text, int (*test)(int)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [test](char c) {
    return test(static_cast<unsigned char>(c)) != 0;
  });
}

std::string withCase(std::string text, int (*convert)(int)) {
  for (char& c : text) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
  return text;
}

// Language first; the region is the first later part of two letters or three digits, which
// skips a script part such as "Latn".
LanguageRegion parseLocale(const std::string& identifier) {
  const std::vector<std::string> parts = splitIdentifier(identifier);
  LanguageRegion parsed;
  if (!allOf(parts[0], ::isalpha)) return parsed;
  parsed.language = withCase(parts[0], ::tolower);
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if ((part.size() == 2 && allOf(part, ::isalpha)) ||
        (part.size() == 3 && allOf(part, ::isdigit))) {
      parsed.region = withCase(part, ::toupper);
      break;
    }
  }
  return parsed;
}

bool pathExists(const std::string& path, bool wantDirectory) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return false;
  return wantDirectory ? S_ISDIR(status.st_mode) : S_ISREG(status.st_mode);
}

// A model is installed where its acoustic model is. Its other files are looked for when it
// loads, so a missing one makes the model unavailable rather than absent.
std::optional<InstalledModel> modelAt(const std::string& modelRoot, const std::string& name) {
  const LanguageRegion locale = parseLocale(name);
  if (locale.language.empty() || locale.region.empty()) return std::nullopt;
  const std::string directory = modelRoot + "/" + name;
  InstalledModel model;
  model.localeIdentifier = locale.language + "-" + locale.region;
  model.acousticModelDir = directory + "/" + name;
  model.languageModelPath = directory + "/" + name + ".lm.bin";
  model.dictionaryPath = directory + "/cmudict-" + name + ".dict";
  const std::string plainDictionary = directory + "/" + name + ".dict";
  if (!pathExists(model.dictionaryPath, false) && pathExists(plainDictionary, false)) {
    model.dictionaryPath = plainDictionary;
  }
  if (!pathExists(model.acousticModelDir, true)) return std::nullopt;
  return model;
}

// A decoder decodes one stream at a time, and loading it is slow; the mutex covers both, so
// an availability query made during a recognition waits for it.
struct PocketSphinxRecognizer {
  InstalledModel model;
  std::chrono::milliseconds probeTimeLimit{kProbeTimeLimit};
  std::mutex mutex;
  ps_decoder_t* decoder = nullptr;
  // The files as they were when the model last failed to load. The same files fail the same
  // way, so they are not loaded again (every poll of a damaged model would otherwise cost a
  // probe, up to its time limit each); any change to one of them earns a new attempt.
  std::optional<std::vector<FileIdentity>> refusedFiles;

  ~PocketSphinxRecognizer() {
    if (decoder != nullptr) ps_free(decoder);
  }
};

// The language model of the decoder's n-gram search. (ps_get_search would name the search, but
// it leaks the iterator it finds the name with.) The iterator frees itself at its end.
ngram_model_t* languageModelOf(ps_decoder_t* decoder) {
  for (ps_search_iter_t* search = ps_search_iter(decoder); search != nullptr;
       search = ps_search_iter_next(search)) {
    if (ngram_model_t* languageModel = ps_get_lm(decoder, ps_search_iter_val(search))) {
      ps_search_iter_free(search);
      return languageModel;
    }
  }
  return nullptr;
}

// The decoder loads an empty or garbled dictionary without complaint and then recognizes
// nothing: every run would succeed with an empty transcript. A usable model pronounces at least
// one word of its language model (the sentence markers and fillers in angle or square brackets
// do not count: the noise dictionary pronounces those).
bool dictionaryCoversTheLanguageModel(ps_decoder_t* decoder) {
  ngram_model_t* languageModel = languageModelOf(decoder);
  if (languageModel == nullptr) return false;
  const uint32_t unigrams = ngram_model_get_counts(languageModel)[0];
  for (uint32_t id = 0; id < unigrams; ++id) {
    const char* word = ngram_word(languageModel, static_cast<int32>(id));
    if (word == nullptr || word[0] == '<' || word[0] == '[') continue;
    if (char* pronunciation = ps_lookup_word(decoder, word)) {
      ckd_free(pronunciation);
      return true;
    }
  }
  return false;
}

enum class LoadOutcome { loaded, refused, undecided };

// PocketSphinx ends the process itself (exit status 1, nothing said) on many damaged acoustic
// model files, a garbled mdef or transition matrix among them, reads past the end of a
// truncated mdef while loading, and reads past a truncated sendump, which it maps into memory,
// once it scores audio; it blocks forever opening a FIFO and spins on a device. So no file is
// read before each has been found regular and of a possible size, and only an acoustic model
// that a child process loaded and scored within the time limit is loaded here.
LoadOutcome loadDecoder(PocketSphinxRecognizer& recognizer, const ModelFiles& files) {
  const InstalledModel& model = recognizer.model;
  if (!files.loadable) return LoadOutcome::refused;
  switch (probeAcousticModel(model.acousticModelDir, recognizer.probeTimeLimit)) {
    case ProbeVerdict::works:
      break;
    case ProbeVerdict::notRun:
      return LoadOutcome::undecided;
    case ProbeVerdict::fails:
    case ProbeVerdict::timedOut:
      return LoadOutcome::refused;
  }
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModelDir.c_str(), "-lm",
                  model.languageModelPath.c_str(), "-dict", model.dictionaryPath.c_str(), nullptr);
  if (config == nullptr) return LoadOutcome::refused;
  ps_decoder_t* decoder = ps_init(config);
  // The decoder keeps its own reference to the configuration.
  cmd_ln_free_r(config);
  if (decoder == nullptr) return LoadOutcome::refused;
  if (!dictionaryCoversTheLanguageModel(decoder)) {
    ps_free(decoder);
    return LoadOutcome::refused;
  }
  recognizer.decoder = decoder;
  return LoadOutcome::loaded;
}

// Loads the model on first use. A model that failed to load is tried again once one of its
// files has changed (a package being installed, say).
bool ensureDecoderLoaded(PocketSphinxRecognizer& recognizer) {
  if (recognizer.decoder != nullptr) return true;
  const ModelFiles files = inspectModelFiles(recognizer.model);
  if (recognizer.refusedFiles == files.identities) return false;
  const LoadOutcome outcome = loadDecoder(recognizer, files);
  if (outcome == LoadOutcome::refused) recognizer.refusedFiles = files.identities;
  return outcome == LoadOutcome::loaded;
}

RecognitionError backendError(int64_t code, const std::string& description) {
  return RecognitionError{code, kPocketSphinxErrorDomain, description};
}

int64_t codeForAudioFault(AudioFault fault) {
  switch (fault) {
    case AudioFault::notAFile:
      return kErrorNotAFile;
    case AudioFault::unreadable:
      return kErrorUnreadableAudio;
    case AudioFault::unusableFormat:
      return kErrorUnusableFormat;
    case AudioFault::readFailed:
      return kErrorAudioRead;
    case AudioFault::resampleFailed:
      return kErrorResample;
  }
  return kErrorUnreadableAudio;
}

struct Decoding {
  ps_decoder_t* decoder;
  const RecognitionRequest& request;
  const ResultHandler& handler;
  std::string transcript;
  bool speechSeen = false;
  bool failed = false;
};

// Ends the current utterance and appends its hypothesis to the transcript.
bool finishUtterance(Decoding& decoding) {
  if (ps_end_utt(decoding.decoder) < 0) return false;
  const char* hypothesis = ps_get_hyp(decoding.decoder, nullptr);
  if (hypothesis != nullptr && *hypothesis != '\0') {
    if (!decoding.transcript.empty()) decoding.transcript += ' ';
    decoding.transcript += hypothesis;
  }
  return true;
}

// Splits the stream into utterances where the decoder's voice activity detector hears speech
// end, as a live recognizer would; long recordings then never become one huge search.
bool acceptSamples(Decoding& decoding, const int16_t* samples, size_t count) {
  if (ps_process_raw(decoding.decoder, samples, count, FALSE, FALSE) < 0) {
    decoding.failed = true;
    return false;
  }
  if (ps_get_in_speech(decoding.decoder)) {
    decoding.speechSeen = true;
    return true;
  }
  if (!decoding.speechSeen) return true;
  decoding.speechSeen = false;
  if (!finishUtterance(decoding) || ps_start_utt(decoding.decoder) < 0) {
    decoding.failed = true;
    return false;
  }
  if (decoding.request.shouldReportPartialResults && !decoding.transcript.empty()) {
    decoding.handler(RecognitionResult{false, decoding.transcript}, std::nullopt);
  }
  return true;
}

void recognizeFile(PocketSphinxRecognizer& recognizer, const RecognitionRequest& request,
                   const ResultHandler& handler) {
  std::lock_guard<std::mutex> lock(recognizer.mutex);
  if (!ensureDecoderLoaded(recognizer)) {
    handler(std::nullopt,
            backendError(kErrorModelNotLoaded, "The speech model could not be loaded."));
    return;
  }
  ps_decoder_t* decoder = recognizer.decoder;
  if (ps_start_utt(decoder) < 0) {
    handler(std::nullopt, backendError(kErrorDecoder, "The decoder could not start."));
    return;
  }
  Decoding decoding{decoder, request, handler, {}, false, false};
  const int modelRate = static_cast<int>(cmd_ln_float32_r(ps_get_config(decoder), "-samprate"));
  const std::optional<AudioError> audioError = streamMonoSamples(
      request.wavPath, modelRate, [&decoding](const int16_t* samples, size_t count) {
        return acceptSamples(decoding, samples, count);
      });
  // Always end the utterance, so the decoder is ready for the next request whatever happened.
  const bool finished = finishUtterance(decoding);
  if (audioError) {
    handler(std::nullopt,
            backendError(codeForAudioFault(audioError->fault), audioError->description));
  } else if (decoding.failed || !finished) {
    handler(std::nullopt, backendError(kErrorDecoder, "The decoder could not process the audio."));
  } else {
    handler(RecognitionResult{true, decoding.transcript}, std::nullopt);
  }
}

std::shared_ptr<PocketSphinxRecognizer> asPocketSphinx(const RecognizerRef& recognizer) {
  return std::static_pointer_cast<PocketSphinxRecognizer>(recognizer);
}

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The locale categories in the order POSIX consults them for messages.
std::string currentPosixLocaleName(
    const std::function<std::optional<std::string>(const std::string&)>& environmentValue) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::optional<std::string> value = environmentValue(name);
    if (value && !value->empty()) return *value;
  }
  return "";
}

}  // namespace

std::vector<InstalledModel> findInstalledModels(const std::string& modelRoot) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(modelRoot.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
  }
  std::sort(names.begin(), names.end());
  std::vector<InstalledModel> models;
  for (const std::string& name : names) {
    if (std::optional<InstalledModel> model = modelAt(modelRoot, name)) models.push_back(*model);
  }
  return models;
}

bool localeMatchesModel(const std::string& localeIdentifier, const std::string& modelLocale) {
  const LanguageRegion wanted = parseLocale(localeIdentifier);
  const LanguageRegion offered = parseLocale(modelLocale);
  return !wanted.language.empty() && !wanted.region.empty() &&
         wanted.language == offered.language && wanted.region == offered.region;
}

std::string localeIdentifierFromPosixName(const std::string& posixName) {
  const std::string name = posixName.substr(0, posixName.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return "en_US_POSIX";
  return name;
}

SpeechService makePocketSphinxService(const PocketSphinxOptions& options) {
  // PocketSphinx logs its configuration and progress to standard error by default, which
  // belongs to the command's diagnostics alone.
  err_set_logfp(nullptr);

  const std::string modelRoot = options.modelRoot;
  const auto environmentValue =
      options.environmentValue ? options.environmentValue : processEnvironment;
  SpeechService service;
  // Linux has no speech permission to ask for.
  service.requestAuthorization = [](std::function<void(int64_t)> callback) {
    callback(kAuthorizationAuthorized);
  };
  service.supportedLocales = [modelRoot] {
    std::vector<std::string> identifiers;
    for (const InstalledModel& model : findInstalledModels(modelRoot)) {
      identifiers.push_back(model.localeIdentifier);
    }
    return identifiers;
  };
  service.currentLocale = [environmentValue] {
    return localeIdentifierFromPosixName(currentPosixLocaleName(environmentValue));
  };
  const std::chrono::milliseconds probeTimeLimit = options.probeTimeLimit;
  service.createRecognizer =
      [modelRoot, probeTimeLimit](const std::string& localeIdentifier) -> RecognizerRef {
    for (const InstalledModel& model : findInstalledModels(modelRoot)) {
      if (!localeMatchesModel(localeIdentifier, model.localeIdentifier)) continue;
      auto recognizer = std::make_shared<PocketSphinxRecognizer>();
      recognizer->model = model;
      recognizer->probeTimeLimit = probeTimeLimit;
      return recognizer;
    }
    return nullptr;
  };
  service.isAvailable = [](const RecognizerRef& recognizer) {
    const std::shared_ptr<PocketSphinxRecognizer> pocketSphinx = asPocketSphinx(recognizer);
    std::lock_guard<std::mutex> lock(pocketSphinx->mutex);
    return ensureDecoderLoaded(*pocketSphinx);
  };
  service.supportsOnDeviceRecognition = [](const RecognizerRef&) { return true; };
  // Decoding runs on a thread of its own at the caller's nice value, so the priority chosen
  // for the thread that starts recognition also governs the decoding it starts.
  service.startRecognitionTask = [](const RecognizerRef& recognizer,
                                    const RecognitionRequest& request, ResultHandler handler) {
    const std::shared_ptr<PocketSphinxRecognizer> pocketSphinx = asPocketSphinx(recognizer);
    const int nice = currentThreadNice();
    const bool started = startDetachedThread([pocketSphinx, request, handler, nice] {
      setCurrentThreadNice(nice);
      recognizeFile(*pocketSphinx, request, handler);
    });
    if (!started) {
      handler(std::nullopt,
              backendError(kErrorThreadStart, "No thread could be started for recognition."));
    }
  };
  return service;
}

}  // namespace palvorin
