#include <string>
#include <vector>

#include "system_backend.h"
#include "transcription_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  return palvorin::runTranscriptionCommand(arguments, palvorin::makeSystemSpeechService(),
                                           palvorin::makeSystemPlatform(),
                                           palvorin::makeSystemStreams());
}
