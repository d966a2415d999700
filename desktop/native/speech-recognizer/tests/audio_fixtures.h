// Recordings and audio files for the tests: the LibriVox clips with their reference texts,
// conversions made with sox and small synthetic files written with libsndfile.
#pragma once

#include <string>
#include <vector>

namespace palvorin::testing {

struct ReferenceClip {
  std::string id;
  std::string path;
  std::string reference;
};

// The LibriVox clips of PocketSphinx's test data, in the order of their id list.
std::vector<ReferenceClip> librivoxClips();

// sox <input> <outputOptions...> <output>; true on success.
bool convertWithSox(const std::string& input, const std::vector<std::string>& outputOptions,
                    const std::string& output);

// Writes interleaved samples in [-1, 1] as a WAV file of the libsndfile format given.
bool writeWav(const std::string& path, int format, int sampleRate, int channels,
              const std::vector<float>& interleaved);

bool writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

}  // namespace palvorin::testing
