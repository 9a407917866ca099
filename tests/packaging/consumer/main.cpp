// A program that uses the installed library the way an application does.
#include <ozr/calibration.h>
#include <ozr/tofcam.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
int g_messages = 0;
void countMessages(kyr::platform::LogLevel, const char*, va_list) {
    ++g_messages;
}
}  // namespace

int main() {
    kyr::platform::register_log_function(&countMessages);
    ozr::VideoFormat format{0, 0, 320, 240, 640};
    if (format.pitch != 2 * format.width) {
        return 1;
    }
    kyr::platform::logging_impl(kyr::platform::LogLevel::LOG_LEVEL_INFO, "hello %d", 1);
    kyr::platform::register_log_function(nullptr);
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    if (g_messages != 1 || std::strcmp(ozr::controlNames[1].name, "ACQUISITION_MODE") != 0) {
        return 1;
    }
    // The calibration headers are installed complete, and the registry
    // answers with the library's default provider.
    if (&CalibrationDataRegistry::getInstance().getProvider<PhaseOffsetData>() !=
        &DefaultProvider<PhaseOffsetData>::getInstance()) {
        return 1;
    }
    // The camera links; one of no known model has nothing to open.
    ozr::TOFCam camera(static_cast<ozr::TOFSensor>(9));
    if (camera.open() != -22 || camera.isStreaming() || camera.close() != 0) {
        return 1;
    }
    std::printf("consumer ok\n");
    return 0;
}
