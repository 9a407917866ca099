// The OZRSIM_ environment variables through which the ozr-sim launcher
// passes its options to the preloaded emulation, and the parsers both share.
//
//   OZRSIM_MODEL            ozr310 | ozr320 (required: without it nothing is served)
//   OZRSIM_DRIVER_VERSION   version file contents, or "none" for no file (default 1.0.0)
//   OZRSIM_HWMON            1 | 0: the sensor's hwmon channel exists (default 1)
//   OZRSIM_CALIBRATION      hidden | synthetic | host (default hidden)
//   OZRSIM_WIDTH, OZRSIM_HEIGHT   device format (default: the model's)
//   OZRSIM_SCENE            wall | boxes | tilted | uniform | file:PATH (default wall)
//   OZRSIM_WALL_MM, OZRSIM_REFLECTIVITY, OZRSIM_INTERFERENCE (0|1),
//   OZRSIM_NOISE (noise scale), OZRSIM_SYSTEMATIC_ERRORS (0|1)
//   OZRSIM_TEMP_START, OZRSIM_TEMP_HOT (Celsius), OZRSIM_TEMP_TAU (seconds)
//   OZRSIM_EXPOSURE_DELAY_US, OZRSIM_READOUT_US
//   OZRSIM_FREE_RUN (0|1), OZRSIM_FRAME_PERIOD_US
//   OZRSIM_SEED
//   OZRSIM_STALL (0|1)
//   OZRSIM_FAIL_IOCTL       REQUEST:ERRNO[:AFTER[:TIMES]][,...], e.g. DQBUF:EIO:10
//   OZRSIM_BYTESUSED_DELTA  added to bytesused of every image
//   OZRSIM_DISCONNECT_AFTER device vanishes after this many images
//   OZRSIM_TRACE            1: log every request on the nodes to standard error
//   OZRSIM_REPORT_TRUTH     1: print the true distance of the last frame at exit (ozrsim.cpp)
//   OZRSIM_REPLAY           recording to serve instead of the scene
//   OZRSIM_REPLAY_LOOP      1: start the recording again after its last frame
//   OZRSIM_TMPDIR           where the private directory is made (default $TMPDIR, /dev/shm or /tmp)
#pragma once

#include <string>

#include "ozrsim.h"

namespace ozrsim::env {

// Reads every variable into `config` (which keeps its values for unset
// ones). Returns 1 when OZRSIM_MODEL is unset, 0 on success, -EINVAL with a
// message in `error` for a malformed value.
int readConfig(Config& config, std::string& error);

bool parseModel(const std::string& text, Model& model);
bool parseCalibration(const std::string& text, Calibration& calibration);
// "REQUEST:ERRNO[:AFTER[:TIMES]]"; REQUEST is a name such as DQBUF or
// VIDIOC_DQBUF, or a number; ERRNO a name such as EIO, or a number.
bool parseIoctlFault(const std::string& text, IoctlFault& fault);

// Name of a V4L2 request ("DQBUF"), or null for one without a name here.
const char* requestName(unsigned long request);

}  // namespace ozrsim::env
