// Audio files as the recognizer needs them: mono, 16-bit, at the model's sample rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace palvorin {

enum class AudioFault { notAFile, unreadable, unusableFormat, readFailed, resampleFailed };

struct AudioError {
  AudioFault fault;
  std::string description;
};

// Receives consecutive blocks of samples; returns false to stop reading.
using SampleSink = std::function<bool(const int16_t* samples, size_t count)>;

// Reads every encoding libsndfile reads, averages the channels to one and resamples to
// `targetRate` with libsoxr, handing the samples to `sink` block by block so memory stays
// bounded whatever the file's length. Returns the fault that stopped it, if any.
std::optional<AudioError> streamMonoSamples(const std::string& path, int targetRate,
                                            const SampleSink& sink);

}  // namespace palvorin
