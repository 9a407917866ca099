#include "recording_format.h"

#ifndef OZRREC_LIBRARY_VERSION
#define OZRREC_LIBRARY_VERSION "unknown"
#endif

namespace ozrrec {

const char* modelName(Model model) {
    return model == Model::OZR310 ? "ozr310" : "ozr320";
}

const char* modeName(Mode mode) {
    return mode == Mode::DCS4 ? "DCS4" : "DIST_AMP_HDR";
}

bool parseModel(const std::string& text, Model& model) {
    if (text == "ozr310") {
        model = Model::OZR310;
    } else if (text == "ozr320") {
        model = Model::OZR320;
    } else {
        return false;
    }
    return true;
}

bool parseMode(const std::string& text, Mode& mode) {
    if (text == "DCS4") {
        mode = Mode::DCS4;
    } else if (text == "DIST_AMP_HDR") {
        mode = Mode::DIST_AMP_HDR;
    } else {
        return false;
    }
    return true;
}

const char* builtLibraryVersion() {
    return OZRREC_LIBRARY_VERSION;
}

}  // namespace ozrrec
