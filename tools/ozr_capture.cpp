// ozr-capture: streams frames from the sensor and reports them.
//
//   ozr-capture [--model auto|ozr310|ozr320] [--frames N] [--single]
//               [--distance] [--calibration DIR] [--out DIR]
//
// Opens the sensor the way the camera does (V4L2 nodes of the model, hwmon
// temperature channel or a fixed 25 C), runs the raw DCS pipeline and prints
// one line per frame: frame number, frame rate, temperature and the mean and
// centre value of each DCS image. With --distance the DCS images also run
// through the distance graph (amplitude, CORDIC phase, phase error table,
// phase offset and temperature compensation from the calibration found in
// DIR or the default directories, distance in millimetres) and the line shows
// the distance and amplitude at the centre and the median distance. With
// --out the images of the last frame are written as 16-bit PGM files. With
// --single each frame is captured on demand instead of streaming.
#include <algorithm>
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
#include <vector>

#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sensors/hwmonSensor.h"
#include "kyr/sensors/v4l2Sensor.h"
#include "kyr/sinks/appSink.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/sources/temperatureSource.h"
#include "ozr/calibration.h"

namespace {

struct Options {
    std::string model = "auto";
    long frames = 10;
    bool single = false;
    bool distance = false;
    std::string calibration;
    std::string out;
};

void usage() {
    std::fprintf(stderr,
                 "usage: ozr-capture [--model auto|ozr310|ozr320] [--frames N] [--single] "
                 "[--distance] [--calibration DIR] [--out DIR]\n");
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
        } else if (a == "--distance") {
            o.distance = true;
        } else if (a == "--calibration" && value(o.calibration)) {
        } else if (a == "--out" && value(o.out)) {
        } else {
            return false;
        }
    }
    return o.model == "auto" || o.model == "ozr310" || o.model == "ozr320";
}

bool writePgm(const std::filesystem::path& path, const Image<uint16_t>& img, unsigned maxval) {
    std::ofstream f(path, std::ios::binary);
    f << "P5\n" << img.getWidth() << " " << img.getHeight() << "\n" << maxval << "\n";
    for (size_t i = 0; i < img.pixelCount(); ++i) {
        const uint16_t v = std::min<unsigned>(img.getData()[i], maxval);
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

    std::unique_ptr<DCS2DistAmpGraph> graph;
    if (opt.distance) {
        // Calibration of the application's own directory first, then the
        // default directories.
        const int loaded = ozr::registerCalibrationProviders(opt.calibration, "");
        std::printf("calibration: %d of 4 providers loaded\n", loaded);
        int hz = 0;
        if (source->getControl(ozr::ControlID::MODULATION_FREQ_HZ, hz) != 0 || hz <= 0) {
            std::fprintf(stderr, "Cannot read the modulation frequency\n");
            return 1;
        }
        graph = std::make_unique<DCS2DistAmpGraph>(static_cast<uint32_t>(hz));
        std::printf("modulation frequency %d Hz, unambiguous range %.0f mm\n", hz,
                    299792458.0e3 / (2.0 * hz));
    }

    DcsSink<4> dcsSink;
    DistAmpSink<4> distSink;
    AppSink& sink = opt.distance ? static_cast<AppSink&>(distSink) : dcsSink;
    TemperatureProbe probe;
    auto dcsImage = [&](size_t i) -> const Image<uint16_t>& {
        return opt.distance ? *distSink.getDcsBuffer(i) : *dcsSink.getDcsBuffer(i);
    };
    {
        DCS4Pipeline pipeline(*source);
        Source<Image<uint16_t>>* dcs[4];
        for (size_t i = 0; i < 4; ++i) {
            dcs[i] = pipeline.getOutputs().dcs[i];
            dcsSink.dcs[i] << *dcs[i];
            distSink.dcs[i] << *dcs[i];
        }
        probe << *source->getTemperatureSource();
        if (graph) {
            graph->connect(dcs, source->getTemperatureSource());
            distSink.distance << *graph->getDistanceSource();
            distSink.amplitude << *graph->getAmplitudeSource();
            distSink.phase << *graph->getPhaseSource();
        }

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
                std::fprintf(stderr, "Timeout waiting for frame\n");
                status = 1;
                break;
            }
            sink.clearNewData();
            const auto now = std::chrono::steady_clock::now();
            const double fps = 1.0 / std::chrono::duration<double>(now - last).count();
            last = now;
            std::printf("frame %3ld  %6.1f fps  %5.2f C ", f, fps, probe.last);
            const size_t w = dcsImage(0).getWidth();
            const size_t centre = dcsImage(0).getHeight() / 2 * w + w / 2;
            if (opt.distance) {
                const auto& dist = *distSink.getDistanceBuffer();
                std::vector<uint16_t> sorted(dist.getData(), dist.getData() + dist.pixelCount());
                std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
                std::printf(" centre %5u mm  amplitude %4u   median %5u mm", dist.getData()[centre],
                            distSink.getAmplitudeBuffer()->getData()[centre],
                            sorted[sorted.size() / 2]);
            } else {
                for (size_t i = 0; i < 4; ++i) {
                    const auto& img = dcsImage(i);
                    double sum = 0;
                    for (size_t p = 0; p < img.pixelCount(); ++p) {
                        sum += img.getData()[p];
                    }
                    std::printf(" DCS%zu mean %7.1f centre %4u", i, sum / img.pixelCount(),
                                img.getData()[centre]);
                }
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
        std::vector<std::pair<std::string, std::pair<const Image<uint16_t>*, unsigned>>> files;
        for (size_t i = 0; i < 4; ++i) {
            files.push_back({"dcs" + std::to_string(i) + ".pgm", {&dcsImage(i), 4095}});
        }
        if (opt.distance) {
            files.push_back({"distance.pgm", {distSink.getDistanceBuffer().get(), 65535}});
            files.push_back({"amplitude.pgm", {distSink.getAmplitudeBuffer().get(), 4095}});
        }
        for (const auto& [name, image] : files) {
            const auto path = std::filesystem::path(opt.out) / name;
            if (!writePgm(path, *image.first, image.second)) {
                std::fprintf(stderr, "Cannot write %s\n", path.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    }
    return 0;
}
