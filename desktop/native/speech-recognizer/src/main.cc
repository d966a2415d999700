#include <string>
#include <vector>

#include "system_backend.h"
#include "transcription_command.h"

int main(int argc, char** argv) {
  const palvorin::StandardStreams streams = palvorin::makeSystemStreams();
  const std::vector<std::string> arguments(argv, argv + argc);
  return palvorin::runTranscriptionCommand(arguments, palvorin::makeSystemSpeechService(),
                                           palvorin::makeSystemPlatform(), streams);
}
