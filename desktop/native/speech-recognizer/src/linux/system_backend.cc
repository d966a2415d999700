#include "system_backend.h"

#include "pocketsphinx_service.h"

#ifndef PALVORIN_POCKETSPHINX_MODEL_ROOT
#define PALVORIN_POCKETSPHINX_MODEL_ROOT "/usr/share/pocketsphinx/model"
#endif

namespace palvorin {

// Nothing is read or loaded here: a run that ends at the usage or file test should cost no
// more than starting the process.
SpeechService makeSystemSpeechService() {
  PocketSphinxOptions options;
  options.modelRoot = PALVORIN_POCKETSPHINX_MODEL_ROOT;
  return makePocketSphinxService(options);
}

}  // namespace palvorin
