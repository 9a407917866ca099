// ozr-dcs-capture: streams raw DCS frames from the sensor and reports them.
//
//   ozr-dcs-capture [--model auto|ozr310|ozr320] [--frames N] [--single]
//                   [--out DIR]
//
// Opens the sensor the way the camera does (V4L2 nodes of the model, hwmon
// temperature channel or a fixed 25 C), runs the raw DCS pipeline and prints
// one line per frame: frame number, frame rate, temperature and the mean and
// centre value of each DCS image. With --out the four DCS images of the last
// frame are written as 16-bit PGM files (12-bit samples). With --single each
// frame is captured on demand instead of streaming.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sensors/hwmonSensor.h"
#include "kyr/sensors/v4l2Sensor.h"
#include "kyr/sinks/appSink.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/sources/temperatureSource.h"

namespace {

struct Options {
    std::string model = "auto";
    long frames = 10;
    bool single = false;
    std::string out;
};

void usage() {
    std::fprintf(stderr,
                 "usage: ozr-dcs-capture [--model auto|ozr310|ozr320] [--frames N] [--single] "
                 "[--out DIR]\n");
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& dst) {
            if (i + 1 >= argc) {
                return false;
            }
            dst = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--model" && value(o.model)) {
        } else if (a == "--frames" && value(v)) {
            char* end = nullptr;
            o.frames = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || o.frames <= 0) {
                return false;
            }
        } else if (a == "--single") {
            o.single = true;
        } else if (a == "--out" && value(o.out)) {
        } else {
            return false;
        }
    }
    return o.model == "auto" || o.model == "ozr310" || o.model == "ozr320";
}

bool writePgm(const std::filesystem::path& path, const Image<uint16_t>& img) {
    std::ofstream f(path, std::ios::binary);
    f << "P5\n" << img.getWidth() << " " << img.getHeight() << "\n4095\n";
    for (size_t i = 0; i < img.pixelCount(); ++i) {
        const uint16_t v = img.getData()[i];
        const char be[2] = {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
        f.write(be, 2);
    }
    return static_cast<bool>(f);
}

// Reads the temperature published with each frame.
class TemperatureProbe : public Sink<float> {
public:
    int action() override {
        last = *std::static_pointer_cast<float>(buffer_in);
        return 0;
    }
    float last = NAN;
};

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, opt)) {
        usage();
        return 2;
    }
    if (opt.model == "auto") {
        if (std::filesystem::exists(ozr310Paths.videoPath)) {
            opt.model = "ozr310";
        } else if (std::filesystem::exists(ozr320Paths.videoPath)) {
            opt.model = "ozr320";
        } else {
            std::fprintf(stderr, "No OZR310 or OZR320 sensor found (%s, %s)\n",
                         ozr310Paths.videoPath, ozr320Paths.videoPath);
            return 1;
        }
    }
    const bool is310 = opt.model == "ozr310";
    const OZRSensorConfig& cfg = is310 ? ozr310Paths : ozr320Paths;

    auto video = V4l2Sensor::acquire(cfg.videoPath, cfg.subdevPath, cfg.nVideoBuffers);
    if (!video) {
        return 1;
    }
    std::unique_ptr<TempSensorIF> temp = HwMonSensor::acquire(cfg.tempPath, "/sys/class/hwmon");
    if (!temp) {
        std::fprintf(stderr, "No temperature channel \"%s\"; using 25.0 C\n", cfg.tempPath);
        temp = std::make_unique<FakeTempSensor>(25.0f);
    }
    std::unique_ptr<OZRSensorSourceIF> source;
    if (is310) {
        source = std::make_unique<OZR310Source>(std::move(video), std::move(temp), 4);
    } else {
        source = std::make_unique<OZR320Source>(std::move(video), std::move(temp), 4);
    }

    DcsSink<4> sink;
    TemperatureProbe probe;
    {
        DCS4Pipeline pipeline(*source);
        for (size_t i = 0; i < 4; ++i) {
            sink.dcs[i] << *pipeline.getOutputs().dcs[i];
        }
        probe << *source->getTemperatureSource();

        std::printf("%s, %s: %ld frames\n", opt.model.c_str(),
                    opt.single ? "single captures" : "streaming", opt.frames);
        if (!opt.single && pipeline.startStream(0) != 0) {
            return 1;
        }
        auto last = std::chrono::steady_clock::now();
        int status = 0;
        for (long f = 1; f <= opt.frames; ++f) {
            if (opt.single && pipeline.singleCapture() != 0) {
                status = 1;
                break;
            }
            auto lock = sink.lockNextFrame(1000);
            if (lock.timedout()) {
                std::fprintf(stderr, "Timeout waiting for DCS frame\n");
                status = 1;
                break;
            }
            sink.clearNewData();
            const auto now = std::chrono::steady_clock::now();
            const double fps = 1.0 / std::chrono::duration<double>(now - last).count();
            last = now;
            std::printf("frame %3ld  %7.1f fps  %5.2f C ", f, fps, probe.last);
            for (size_t i = 0; i < 4; ++i) {
                const auto& img = *sink.getDcsBuffer(i);
                double sum = 0;
                for (size_t p = 0; p < img.pixelCount(); ++p) {
                    sum += img.getData()[p];
                }
                const size_t centre = img.getHeight() / 2 * img.getWidth() + img.getWidth() / 2;
                std::printf(" DCS%zu mean %7.1f centre %4u", i, sum / img.pixelCount(),
                            img.getData()[centre]);
            }
            std::printf("\n");
        }
        pipeline.stopStream(true);
        if (status != 0) {
            return status;
        }
    }
    if (!opt.out.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(opt.out, ec);
        for (size_t i = 0; i < 4; ++i) {
            const auto path = std::filesystem::path(opt.out) / ("dcs" + std::to_string(i) + ".pgm");
            if (!writePgm(path, *sink.getDcsBuffer(i))) {
                std::fprintf(stderr, "Cannot write %s\n", path.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    }
    return 0;
}
