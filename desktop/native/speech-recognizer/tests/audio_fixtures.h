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

// goforward.raw of PocketSphinx's test data, 2.8 s of 16 kHz speech, as a 16-bit PCM WAV
// file; the model transcribes it word for word.
inline const std::string kGoForwardTranscript = "go forward ten meters";
bool writeGoForwardWav(const std::string& path);

// The WAV file's bytes as a recorder killed before it closed the file leaves them: the data
// chunk's size 0, and a fact chunk's sample count 0; the RIFF size too when `riffSizeToo`.
// Unchanged when the bytes hold no data chunk.
std::string unfinishedRecording(std::string wavBytes, bool riffSizeToo);

bool writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

}  // namespace palvorin::testing
