#include <unistd.h>

#include <cerrno>
#include <string>

#include "system_backend.h"

namespace palvorin {
namespace {

// Writes the whole text with as few write(2) calls as the descriptor allows, so a diagnostic
// reaches a pipe reader in one piece rather than interleaved with buffered output.
void writeAll(int descriptor, const std::string& text) {
  const char* data = text.data();
  size_t remaining = text.size();
  while (remaining > 0) {
    const ssize_t written = ::write(descriptor, data, remaining);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    remaining -= static_cast<size_t>(written);
  }
}

}  // namespace

StandardStreams makeSystemStreams() {
  StandardStreams streams;
  streams.writeOut = [](const std::string& text) { writeAll(STDOUT_FILENO, text); };
  streams.writeErr = [](const std::string& text) { writeAll(STDERR_FILENO, text); };
  return streams;
}

}  // namespace palvorin
