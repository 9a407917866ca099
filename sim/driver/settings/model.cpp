// Facts of the two sensor models shared by the emulation and the launcher.
#include "ozrsim.h"

namespace ozrsim {

void defaultFormat(Model model, uint32_t& width, uint32_t& height) {
    if (model == Model::OZR310) {
        // Two 320x120 halves side by side; the library unfolds them to 320x240.
        width = 640;
        height = 120;
    } else {
        width = 320;
        height = 240;
    }
}

const char* modelName(Model model) {
    return deviceFiles(model).name;
}

const kyr::platform::OzrDeviceFiles& deviceFiles(Model model) {
    return model == Model::OZR310 ? kyr::platform::OZR310_DEVICE : kyr::platform::OZR320_DEVICE;
}

}  // namespace ozrsim
