// The result codes the simulated Carbon-era calls answer.
#ifndef DESKTOP_SIM_MACERRORS_H_
#define DESKTOP_SIM_MACERRORS_H_

#include <MacTypes.h>

enum {
  paramErr = -50,
};

enum {
  kUCOutputBufferTooSmall = -25340,
};

#endif  // DESKTOP_SIM_MACERRORS_H_
