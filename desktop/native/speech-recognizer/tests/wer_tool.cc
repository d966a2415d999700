// palvorin-wer REFERENCE HYPOTHESIS: prints errors, reference words and the word error rate
// in percent, for the benchmark script.
#include <cstdio>

#include "word_error_rate.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: palvorin-wer REFERENCE HYPOTHESIS\n");
    return 2;
  }
  palvorin::testing::ErrorTally tally;
  tally.add(argv[1], argv[2]);
  std::printf("%zu %zu %.2f\n", tally.errors, tally.referenceWords, tally.percent());
  return 0;
}
