#include "audio_source.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace palvorin {
namespace {

constexpr sf_count_t kFramesPerBlock = 2048;
constexpr size_t kResampledBlock = 4096;

// Telephone audio is the lowest rate speech is recorded at. A header claiming less (1 Hz, say)
// would be resampled up by a factor of thousands: hours of decoding for a transcript of noise.
constexpr int kLowestSampleRate = 8000;
// No encoding comes near this many samples at the decoder's rate per byte of the file: speech
// in the most compact codecs gives about ten, and even minutes of silence in FLAC a few
// hundred. A header that declares more describes audio the file does not hold.
constexpr double kMostResampledSamplesPerByte = 1024.0;

struct SoundFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

struct ResamplerDeleter {
  void operator()(soxr* resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<soxr, ResamplerDeleter>;

// Scales to 16-bit with rounding; float files may hold values past full scale (even infinities),
// so clip. A NaN has no level at all and becomes silence; converting it would be undefined.
int16_t toSample(float value) {
  if (std::isnan(value)) return 0;
  const float scaled = std::nearbyint(value * 32768.0f);
  if (scaled > 32767.0f) return 32767;
  if (scaled < -32768.0f) return -32768;
  return static_cast<int16_t>(scaled);
}

void downmix(const std::vector<float>& interleaved, sf_count_t frames, int channels,
             std::vector<float>& mono) {
  mono.resize(static_cast<size_t>(frames));
  for (sf_count_t frame = 0; frame < frames; ++frame) {
    float sum = 0.0f;
    const float* first = &interleaved[static_cast<size_t>(frame * channels)];
    for (int channel = 0; channel < channels; ++channel) sum += first[channel];
    mono[static_cast<size_t>(frame)] = sum / static_cast<float>(channels);
  }
}

// Converts to 16-bit and hands the block on; false when the sink wants no more.
bool emit(const float* samples, size_t count, std::vector<int16_t>& scratch,
          const SampleSink& sink) {
  if (count == 0) return true;
  scratch.resize(count);
  for (size_t i = 0; i < count; ++i) scratch[i] = toSample(samples[i]);
  return sink(scratch.data(), count);
}

// Feeds one block through the resampler, or drains it when `input` is null, emitting all the
// output produced. soxr may take only part of the input when the output buffer fills.
std::optional<AudioError> resampleBlock(soxr* resampler, const float* input, size_t count,
                                        std::vector<float>& output, std::vector<int16_t>& scratch,
                                        const SampleSink& sink, bool& stopped) {
  size_t offset = 0;
  for (;;) {
    size_t consumed = 0;
    size_t produced = 0;
    const float* remaining = input == nullptr ? nullptr : input + offset;
    const soxr_error_t failure = soxr_process(resampler, remaining, count - offset, &consumed,
                                              output.data(), output.size(), &produced);
    if (failure != nullptr) {
      return AudioError{AudioFault::resampleFailed,
                        std::string("The audio could not be resampled: ") + failure};
    }
    offset += consumed;
    if (!emit(output.data(), produced, scratch, sink)) {
      stopped = true;
      return std::nullopt;
    }
    if (input == nullptr) {
      if (produced == 0) return std::nullopt;
    } else if ((offset >= count && produced < output.size()) || (consumed == 0 && produced == 0)) {
      return std::nullopt;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// A recording whose writer never finished it: a recorder killed before it closes its file
// leaves the data chunk's size (and often the RIFF size) at the 0 it wrote first, with the
// audio after it. libsndfile would read no frames at all, and the speech would be lost without
// a word. Such a file is read as if its writer had streamed it, 0xFFFFFFFF in the size: the
// audio up to the end of the file, which libsndfile reads whatever the RIFF size says.

constexpr int kMostChunksBeforeData = 64;

uint32_t littleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool readAt(int descriptor, off_t offset, unsigned char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t got = ::pread(descriptor, bytes, count, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    offset += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

// Four printable characters and a size that fits in what follows: a chunk, not audio. An empty
// data chunk followed by, say, a LIST chunk is a finished recording of nothing.
bool looksLikeChunkHeader(const unsigned char* header, off_t bytesAfterHeader) {
  for (int i = 0; i < 4; ++i) {
    if (header[i] < 0x20 || header[i] > 0x7E) return false;
  }
  return littleEndian32(header + 4) <= static_cast<uint64_t>(bytesAfterHeader);
}

// Where the data chunk's size field is, when the header is unfinished; -1 otherwise.
off_t unfinishedDataSizeOffset(int descriptor, off_t length) {
  unsigned char riff[12];
  if (length < 12 || !readAt(descriptor, 0, riff, sizeof riff) ||
      std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return -1;
  }
  off_t offset = 12;
  for (int chunk = 0; chunk < kMostChunksBeforeData && offset + 8 <= length; ++chunk) {
    unsigned char header[8];
    if (!readAt(descriptor, offset, header, sizeof header)) return -1;
    const uint32_t size = littleEndian32(header + 4);
    const off_t body = offset + 8;
    if (std::memcmp(header, "data", 4) == 0) {
      if (size != 0 || body >= length) return -1;
      unsigned char next[8];
      if (length - body >= 8 && readAt(descriptor, body, next, sizeof next) &&
          looksLikeChunkHeader(next, length - body - 8)) {
        return -1;
      }
      return offset + 4;
    }
    offset = body + static_cast<off_t>(size) + (size & 1);
  }
  return -1;
}

// The file as libsndfile reads it, through its virtual I/O: the bytes on disk, except the four
// of `patchOffset` (when it is not -1), which read as 0xFF.
struct AudioFile {
  int descriptor = -1;
  off_t length = 0;
  off_t position = 0;
  off_t patchOffset = -1;

  ~AudioFile() {
    if (descriptor >= 0) ::close(descriptor);
  }
};

sf_count_t audioFileLength(void* data) {
  return static_cast<AudioFile*>(data)->length;
}

sf_count_t audioFileSeek(sf_count_t offset, int whence, void* data) {
  AudioFile& file = *static_cast<AudioFile*>(data);
  const off_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? file.length : 0;
  if (base + offset < 0) return -1;
  file.position = base + offset;
  return file.position;
}

sf_count_t audioFileRead(void* destination, sf_count_t count, void* data) {
  AudioFile& file = *static_cast<AudioFile*>(data);
  ssize_t got;
  do {
    got = ::pread(file.descriptor, destination, static_cast<size_t>(count), file.position);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return 0;
  if (file.patchOffset >= 0) {
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    const off_t from = std::max(file.position, file.patchOffset);
    const off_t to = std::min<off_t>(file.position + got, file.patchOffset + 4);
    for (off_t at = from; at < to; ++at) bytes[at - file.position] = 0xFF;
  }
  file.position += got;
  return got;
}

sf_count_t audioFileWrite(const void*, sf_count_t, void*) {
  return 0;
}

sf_count_t audioFileTell(void* data) {
  return static_cast<AudioFile*>(data)->position;
}

SF_VIRTUAL_IO audioFileIo = {audioFileLength, audioFileSeek, audioFileRead, audioFileWrite,
                             audioFileTell};

// Opened without blocking and tested on what was opened: a path swapped for a FIFO after a
// test of the name would hang the open, and a device would be read forever.
std::optional<AudioError> openFailure(const std::string& path, AudioFile& file) {
  file.descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (file.descriptor < 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
      return AudioError{AudioFault::notAFile, "The path does not name a regular file."};
    }
    return AudioError{AudioFault::unreadable,
                      std::string("The audio file could not be read: ") + std::strerror(errno)};
  }
  struct stat status;
  if (::fstat(file.descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    return AudioError{AudioFault::notAFile, "The path does not name a regular file."};
  }
  file.length = status.st_size;
  file.patchOffset = unfinishedDataSizeOffset(file.descriptor, file.length);
  return std::nullopt;
}

std::optional<AudioError> formatFailure(const SF_INFO& info, off_t fileSize, int targetRate) {
  if (info.samplerate <= 0 || info.channels <= 0) {
    return AudioError{AudioFault::unusableFormat,
                      "The audio file has no usable sample rate or channel count."};
  }
  const std::string rate = std::to_string(info.samplerate) + " Hz";
  if (info.samplerate < kLowestSampleRate) {
    return AudioError{AudioFault::unusableFormat, "The audio file's sample rate of " + rate +
                                                      " is below the lowest accepted, " +
                                                      std::to_string(kLowestSampleRate) + " Hz."};
  }
  const double resampled = static_cast<double>(info.frames) * targetRate / info.samplerate;
  if (resampled > kMostResampledSamplesPerByte * static_cast<double>(fileSize)) {
    return AudioError{AudioFault::unusableFormat,
                      "The audio file declares " + std::to_string(info.frames) + " frames at " +
                          rate + ", far more than its " + std::to_string(fileSize) +
                          " bytes can hold."};
  }
  return std::nullopt;
}

}  // namespace

std::optional<AudioError> streamMonoSamples(const std::string& path, int targetRate,
                                            const SampleSink& sink) {
  // Declared before the sound file, which reads through it until it is closed.
  AudioFile audioFile;
  if (std::optional<AudioError> failure = openFailure(path, audioFile)) return failure;
  const off_t fileSize = audioFile.length;

  SF_INFO info = {};
  SoundFile file(sf_open_virtual(&audioFileIo, SFM_READ, &info, &audioFile));
  if (!file) {
    return AudioError{AudioFault::unreadable,
                      std::string("The audio file could not be read: ") + sf_strerror(nullptr)};
  }
  if (std::optional<AudioError> failure = formatFailure(info, fileSize, targetRate)) {
    return failure;
  }

  Resampler resampler;
  if (info.samplerate != targetRate) {
    soxr_error_t failure = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    resampler.reset(
        soxr_create(info.samplerate, targetRate, 1, &failure, nullptr, &quality, nullptr));
    if (failure != nullptr || !resampler) {
      return AudioError{AudioFault::resampleFailed,
                        std::string("The audio could not be resampled: ") +
                            (failure != nullptr ? failure : "no resampler")};
    }
  }

  std::vector<float> interleaved(static_cast<size_t>(kFramesPerBlock * info.channels));
  std::vector<float> mono;
  std::vector<float> resampled(kResampledBlock);
  std::vector<int16_t> scratch;
  bool stopped = false;
  for (;;) {
    const sf_count_t frames = sf_readf_float(file.get(), interleaved.data(), kFramesPerBlock);
    if (frames <= 0) break;
    downmix(interleaved, frames, info.channels, mono);
    if (!resampler) {
      if (!emit(mono.data(), mono.size(), scratch, sink)) return std::nullopt;
      continue;
    }
    if (std::optional<AudioError> failure = resampleBlock(resampler.get(), mono.data(), mono.size(),
                                                          resampled, scratch, sink, stopped)) {
      return failure;
    }
    if (stopped) return std::nullopt;
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    return AudioError{AudioFault::readFailed,
                      std::string("The audio file could not be read: ") + sf_strerror(file.get())};
  }
  if (resampler) {
    return resampleBlock(resampler.get(), nullptr, 0, resampled, scratch, sink, stopped);
  }
  return std::nullopt;
}

}  // namespace palvorin
