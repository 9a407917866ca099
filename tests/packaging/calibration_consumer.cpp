// An application that links the shared library, derives a calibration
// provider of its own and registers it through the public headers (its own
// instantiations of the registry's templates), then checks that the library
// itself finds that provider, and that a calibration directory of the
// application loads into the library's providers.
#include <ozr/calibration.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <typeinfo>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

class AppOffsetProvider final : public CalibrationProviderIF<PhaseOffsetData> {
public:
    int getCalibrationData(uint32_t modFreq, PhaseOffsetData& data) override {
        data.offsetImage = Image<PhaseType<uint16_t>>::createNewBuffer(2, 1);
        if (!data.offsetImage) {
            return -12;
        }
        data.offsetImage->getData()[0] = PhaseType<uint16_t>(uint16_t{111});
        data.offsetImage->getData()[1] = PhaseType<uint16_t>(uint16_t{222});
        data.calibratedFrequency_Hz = modFreq + 7;
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override {
        list.frequencies = &hz;
        list.count = 1;
    }

private:
    uint32_t hz = 20000000;
};

void writeWords(const std::filesystem::path& path, std::initializer_list<uint16_t> words) {
    std::ofstream f(path, std::ios::binary);
    for (uint16_t w : words) {
        f.put(static_cast<char>(w & 0xFF));
        f.put(static_cast<char>(w >> 8));
    }
}

}  // namespace

int main() {
    CalibrationDataRegistry& registry = CalibrationDataRegistry::getInstance();

    // Nothing registered yet: the library answers from its default provider,
    // the very instance the application sees.
    PhaseOffsetData record;
    check(ozr::getCalibrationData(20000000, record) == -2, "library default answers -2");
    check(&registry.getProvider<PhaseOffsetData>() ==
              &DefaultProvider<PhaseOffsetData>::getInstance(),
          "application sees the library's default provider");

    // The application's provider, registered from the application's side, is
    // the one the library uses.
    AppOffsetProvider own;
    registry.registerProvider<PhaseOffsetData>(own);
    record = PhaseOffsetData{};
    check(ozr::getCalibrationData(20000000, record) == 0, "library finds the application provider");
    check(record.calibratedFrequency_Hz == 20000007, "record comes from the application provider");
    check(record.offsetImage && record.offsetImage->getData()[1].getRaw() == 222,
          "image made by the application");
    check(typeid(registry.getProvider<PhaseOffsetData>()) == typeid(AppOffsetProvider),
          "dynamic type of the registered provider");

    // A calibration directory of the application, loaded before any camera.
    char pattern[] = "/tmp/ozr_consumer_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 2;
    }
    const std::filesystem::path dir(pattern);
    writeWords(dir / "off10.bin", {100, 200});
    writeWords(dir / "off20.bin", {300, 400});
    writeWords(dir / "lut.bin", {5, 6, 7, 8});
    std::ofstream(dir / "calibration_info.json") << R"({"phaseOffsetData": [
                {"modulation_frequency_hz": 10000000, "width": 2, "height": 1,
                 "offset_file": "off10.bin", "ozr_temperature_sensor0_c": 30,
                 "ozr_temperature_sensor1_c": 30, "ozr_temperature_sensor2_c": 30,
                 "ozr_temperature_sensor3_c": 30},
                {"modulation_frequency_hz": 20000000, "width": 2, "height": 1,
                 "offset_file": "off20.bin", "ozr_temperature_sensor0_c": 40,
                 "ozr_temperature_sensor1_c": 40, "ozr_temperature_sensor2_c": 40,
                 "ozr_temperature_sensor3_c": 40}],
              "phaseErrorLUTData": [
                {"modulation_frequency_hz": 10000000, "lut_size": 4, "lut_file": "lut.bin"}]})";
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    const int loaded = ozr::registerCalibrationProviders(dir.string(), "");
    check(loaded >= 2, "phase providers load from the application directory");
    check(PhaseOffsetProvider::getInstance().isInitialized(), "phase offset provider loaded");
    check(&registry.getProvider<PhaseOffsetData>() == &PhaseOffsetProvider::getInstance(),
          "registered phase offset provider");
    check(typeid(registry.getProvider<PhaseOffsetData>()) == typeid(PhaseOffsetProvider),
          "type information of the library's provider");
    FrequencyList list;
    PhaseOffsetProvider::getInstance().getCalibratedFrequencies(list);
    check(list.count == 2 && list.frequencies[1] == 20000000, "calibrated frequencies");
    record = PhaseOffsetData{};
    check(ozr::getCalibrationData(15000000, record) == 0, "interpolated request");
    check(record.offsetImage && record.offsetImage->getData()[0].getRaw() == 200 &&
              record.offsetImage->getData()[1].getRaw() == 300,
          "interpolated offsets");
    check(record.calibrationTemp_C == 35.0f, "calibration temperature");
    PhaseErrorLUTData lut;
    check(
        ozr::getCalibrationData(10000000, lut) == 0 && lut.lutSize == 4 && lut.lut[3].getRaw() == 8,
        "phase error table");

    std::filesystem::remove_all(dir);
    if (failures != 0) {
        return 1;
    }
    std::printf("calibration consumer ok\n");
    return 0;
}
