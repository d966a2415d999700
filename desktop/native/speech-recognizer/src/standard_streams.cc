#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "system_backend.h"

namespace palvorin {
namespace {

// Writes the whole text with as few write(2) calls as the descriptor allows, so a diagnostic
// reaches a pipe reader in one piece rather than interleaved with buffered output. Nothing is
// buffered in this process, so there is nothing to flush after it. A descriptor the starter
// made non-blocking is waited on until it takes more.
std::optional<WriteFailure> writeAll(int descriptor, const std::string& text) {
  const char* data = text.data();
  size_t remaining = text.size();
  while (remaining > 0) {
    const ssize_t written = ::write(descriptor, data, remaining);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable = {descriptor, POLLOUT, 0};
      ::poll(&writable, 1, -1);
      continue;
    }
    if (written <= 0) {
      const int code = written < 0 ? errno : EIO;
      return WriteFailure{code, std::strerror(code)};
    }
    data += written;
    remaining -= static_cast<size_t>(written);
  }
  return std::nullopt;
}

// A standard stream the starter closed would be taken by the next file this process opens (a
// model file, the probe's pipe), and the transcript or a diagnostic would be written into that.
// /dev/null opened read-only holds its place: a write fails there with EBADF, as it does on the
// closed descriptor.
void holdPlaceOfClosedStream(int descriptor) {
  if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return;
  const int placeholder = ::open("/dev/null", O_RDONLY);
  if (placeholder < 0 || placeholder == descriptor) return;
  ::dup2(placeholder, descriptor);
  ::close(placeholder);
}

}  // namespace

StandardStreams makeSystemStreams() {
  holdPlaceOfClosedStream(STDOUT_FILENO);
  holdPlaceOfClosedStream(STDERR_FILENO);
  StandardStreams streams;
  streams.writeOut = [](const std::string& text) { return writeAll(STDOUT_FILENO, text); };
  streams.writeErr = [](const std::string& text) { writeAll(STDERR_FILENO, text); };
  return streams;
}

}  // namespace palvorin
