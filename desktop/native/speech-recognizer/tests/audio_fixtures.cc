#include "audio_fixtures.h"

#include <sndfile.h>

#include <fstream>
#include <sstream>

#include "process_runner.h"

namespace palvorin::testing {
namespace {

const std::string kLibrivoxDir = std::string(PALVORIN_TEST_DATA) + "/librivox";

// Lines read "<s> words </s> (id)".
std::string referenceFor(const std::string& id) {
  std::ifstream transcriptions(kLibrivoxDir + "/transcription");
  std::string line;
  while (std::getline(transcriptions, line)) {
    if (line.find("(" + id + ")") != std::string::npos) return line;
  }
  return "";
}

}  // namespace

std::vector<ReferenceClip> librivoxClips() {
  std::vector<ReferenceClip> clips;
  std::ifstream ids(kLibrivoxDir + "/fileids");
  std::string id;
  while (ids >> id) clips.push_back({id, kLibrivoxDir + "/" + id + ".wav", referenceFor(id)});
  return clips;
}

bool convertWithSox(const std::string& input, const std::vector<std::string>& outputOptions,
                    const std::string& output) {
  // -R: sox dithers with a time-seeded generator otherwise, so every run would test a different
  // file and the word error rate of the low-depth encodings would wander between runs.
  std::vector<std::string> arguments = {PALVORIN_SOX, "-R", input};
  arguments.insert(arguments.end(), outputOptions.begin(), outputOptions.end());
  arguments.push_back(output);
  return runProcess(arguments).status == 0;
}

bool writeWav(const std::string& path, int format, int sampleRate, int channels,
              const std::vector<float>& interleaved) {
  SF_INFO info = {};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
  return sf_close(file) == 0 && written;
}

bool writeGoForwardWav(const std::string& path) {
  const std::string samples = readBytes(std::string(PALVORIN_TEST_DATA) + "/goforward.raw");
  if (samples.empty()) return false;
  SF_INFO info = {};
  info.samplerate = 16000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t bytes = static_cast<sf_count_t>(samples.size());
  const bool written = sf_write_raw(file, samples.data(), bytes) == bytes;
  return sf_close(file) == 0 && written;
}

std::string unfinishedRecording(std::string wavBytes, bool riffSizeToo) {
  const std::string zero(4, '\0');
  size_t offset = 12;
  while (offset + 8 <= wavBytes.size()) {
    const std::string id = wavBytes.substr(offset, 4);
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i)
      size = size << 8 | static_cast<unsigned char>(wavBytes[offset + 4 + i]);
    if (id == "fact" && offset + 12 <= wavBytes.size()) wavBytes.replace(offset + 8, 4, zero);
    if (id == "data") {
      wavBytes.replace(offset + 4, 4, zero);
      if (riffSizeToo) wavBytes.replace(4, 4, zero);
      break;
    }
    offset += 8 + size + (size & 1);
  }
  return wavBytes;
}

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(stream);
}

std::string readBytes(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

}  // namespace palvorin::testing
