// ozr-capture: the command line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ozr/tofcam.h"

namespace capture {

struct ControlSetting {
    ozr::ControlID id;
    int value;
    std::string text;  // as given, "NAME=VALUE"
};

struct Options {
    std::string model = "auto";  // auto | ozr310 | ozr320
    std::string mode = "dist-amp";
    ozr::AcquisitionMode acquisitionMode = ozr::AcquisitionMode::DIST_AMP;
    long frames = 10;  // 0: until interrupted
    bool single = false;
    std::vector<ControlSetting> settings;  // in the order given
    bool listControls = false;
    std::string outDir;  // empty: no files
    std::string record;  // HDF5 recording of the DCS images; empty: none
    long every = 1;      // write the files of every K-th frame
    bool preview = false;
    bool ply = false;  // points of each written frame, with --out
    bool json = false;
    bool quiet = false;
    bool verbose = false;
};

// Parses the command line. Returns -1 when the program is to go on, or the
// exit status: 0 after --help, 2 after a usage error (message printed).
int parseOptions(int argc, char** argv, Options& options);

ozr::TOFSensor sensorOf(const std::string& model);

// The control called `name` (case-insensitive), or false.
bool findControl(const std::string& name, ozr::ControlID& id);
const char* controlName(ozr::ControlID id);

}  // namespace capture
