#include "audio_source.h"

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>

#include <cmath>
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

std::optional<AudioError> openFailure(const std::string& path, off_t& size) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return AudioError{AudioFault::notAFile, "The path does not name a regular file."};
  }
  size = status.st_size;
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
  off_t fileSize = 0;
  if (std::optional<AudioError> failure = openFailure(path, fileSize)) return failure;

  SF_INFO info = {};
  SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
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
