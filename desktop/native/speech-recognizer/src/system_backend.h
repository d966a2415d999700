// The services of the machine the program runs on. Each operating system's backend defines
// these; the build picks the backend, so the command itself has no platform conditionals.
#pragma once

#include "platform.h"
#include "speech_service.h"

namespace palvorin {

SpeechService makeSystemSpeechService();
Platform makeSystemPlatform();
// Standard output and standard error through write(2), one call per piece where it can. Made
// first, before anything opens a file: a stream the starter closed gets its place held.
StandardStreams makeSystemStreams();

}  // namespace palvorin
