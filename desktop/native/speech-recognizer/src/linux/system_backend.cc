#include "system_backend.h"

#include <cstdlib>

#include "pocketsphinx_service.h"

#ifndef PALVORIN_POCKETSPHINX_MODEL_ROOT
#define PALVORIN_POCKETSPHINX_MODEL_ROOT "/usr/share/pocketsphinx/model"
#endif

namespace palvorin {

// The models' location, PocketSphinx's own unless the environment names another (a model of
// one's own, or a test's damaged copy). Only this backend reads the variable: on macOS the
// system owns its models.
constexpr const char* kModelRootVariable = "PALVORIN_POCKETSPHINX_MODEL_ROOT";

// Nothing is loaded here: a run that ends at the usage or file test should cost no more than
// starting the process.
SpeechService makeSystemSpeechService() {
  PocketSphinxOptions options;
  const char* root = std::getenv(kModelRootVariable);
  options.modelRoot = root != nullptr && *root != '\0' ? root : PALVORIN_POCKETSPHINX_MODEL_ROOT;
  return makePocketSphinxService(options);
}

}  // namespace palvorin
