// What is checked of a model before PocketSphinx reads it: its files, and its acoustic model
// loaded and scored in a child process that cannot take this one down, hang it or outlive it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace palvorin {

struct InstalledModel;

// No file of a usable model comes near this size. The installed US English model's largest is
// its 27 MB language model (its acoustic model's largest, mdef, is 3 MB), and the program loads
// the whole model afresh on every run: a file ten times that size already costs seconds per
// transcription. A bigger file is damage (a sparse file, a runaway copy), refused unread.
inline constexpr off_t kLargestModelFileBytes = off_t{256} << 20;

// How long the probe child may take. It reads about 6.6 MB and scores half a second of noise:
// 70 to 100 ms here with the files cached. 30 s leaves room for reading them at 250 KB/s, a
// disk that has to spin up first, or a machine so busy that the program gets a few percent of
// one core; only a load that is stuck gets near it.
inline constexpr std::chrono::milliseconds kProbeTimeLimit{30'000};

// What identifies a file's contents without reading them; a file replaced or written to
// compares unequal.
struct FileIdentity {
  std::string path;
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  off_t size = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedNanoseconds = 0;

  bool operator==(const FileIdentity&) const = default;
};

struct ModelFiles {
  // Every entry of the acoustic model's directory in name order, then the language model and
  // the dictionary.
  std::vector<FileIdentity> identities;
  // True when the acoustic model has its mdef and every one of these files is present, regular
  // and no larger than kLargestModelFileBytes. Links are followed: a link to a device or a FIFO
  // is refused like the device or FIFO itself, before anything opens it.
  bool loadable = false;
};

ModelFiles inspectModelFiles(const InstalledModel& model);

enum class ProbeVerdict {
  works,     // loaded and scored, and the child ended normally
  fails,     // refused to load, or the child ended any other way
  timedOut,  // still busy at the time limit; it has been killed
  notRun,    // no child could be started: nothing is known
};

// Loads the acoustic model in a forked child, reading its files instead of mapping them, and
// scores every senone on half a second of noise. The child is killed at `timeLimit`, and dies
// with this process however that ends; it writes nowhere and holds none of this process's
// standard streams.
ProbeVerdict probeAcousticModel(const std::string& acousticModelDir,
                                std::chrono::milliseconds timeLimit);

}  // namespace palvorin
