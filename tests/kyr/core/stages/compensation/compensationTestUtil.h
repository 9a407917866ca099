// Helpers for the compensation and filter stage tests: images, a source
// feeding a stage, a sink catching its output, and calibration providers
// that answer with a prepared record.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/sink.h"
#include "kyr/source.h"
#include "kyr/stage.h"

namespace testsupport {

using PhaseImage = Image<PhaseType<uint16_t>>;

inline std::shared_ptr<PhaseImage> phaseImage(size_t width, size_t height,
                                              const std::vector<uint16_t>& raw) {
    auto img = PhaseImage::createNewBuffer(width, height);
    for (size_t i = 0; i < img->pixelCount(); ++i) {
        img->getData()[i] = PhaseType<uint16_t>(raw.at(i));
    }
    return img;
}

inline std::vector<uint16_t> raw(const PhaseImage& img) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < img.pixelCount(); ++i) {
        v.push_back(img.getData()[i].getRaw());
    }
    return v;
}

template <typename T>
std::vector<T> raw(const Image<T>& img) {
    return {img.getData(), img.getData() + img.pixelCount()};
}

template <typename T>
std::shared_ptr<Image<T>> image(size_t width, size_t height, const std::vector<T>& pixels) {
    auto img = Image<T>::createNewBuffer(width, height);
    for (size_t i = 0; i < img->pixelCount(); ++i) {
        img->getData()[i] = pixels.at(i);
    }
    return img;
}

// Catches what a stage publishes.
template <typename T>
class Catcher : public Sink<T> {
public:
    explicit Catcher(Source<T>& source) { this->registerDependency(&source); }
    // The image published last (null when nothing arrived since).
    std::shared_ptr<T> take() { return this->hasNewData() ? this->value() : nullptr; }
};

// Answers every request with a copy of `record` and the code `status`,
// remembering the frequencies asked for.
class FakeOffsetProvider : public CalibrationProviderIF<PhaseOffsetData> {
public:
    int getCalibrationData(uint32_t modFreq, PhaseOffsetData& data) override {
        requests.push_back(modFreq);
        if (status == 0) {
            data = record;
        } else {
            data.offsetImage.reset();
        }
        return status;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    PhaseOffsetData record;
    int status = 0;
    std::vector<uint32_t> requests;
};

class FakeLutProvider : public CalibrationProviderIF<PhaseErrorLUTData> {
public:
    int getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& data) override {
        requests.push_back(modFreq);
        if (!present) {
            data.lut.reset();
            return -2;
        }
        data.lut = std::make_unique<PhaseType<uint16_t>[]>(table.size());
        for (size_t i = 0; i < table.size(); ++i) {
            data.lut[i] = PhaseType<uint16_t>(table[i]);
        }
        data.lutSize = table.size();
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    std::vector<uint16_t> table;
    bool present = true;
    std::vector<uint32_t> requests;
};

// Publishes images[k] to inputs[k], in order, each from a source of its
// own, and returns what `stage` published meanwhile (null for nothing).
// (The inputs take the output's image type.)
template <typename Out, typename In = Out>
std::shared_ptr<Out> publish(Source<Out>& stage,
                             const std::vector<Input<std::type_identity_t<In>>*>& inputs,
                             const std::vector<std::shared_ptr<std::type_identity_t<In>>>& images) {
    std::unique_ptr<Source<In>[]> sources(new Source<In>[inputs.size()]);
    for (size_t k = 0; k < inputs.size(); ++k) inputs[k]->registerDependency(&sources[k]);
    Catcher<Out> out(stage);
    for (size_t k = 0; k < images.size(); ++k) sources[k].fire(std::shared_ptr<In>(images[k]));
    return out.take();
}

// Answers every request with a copy of `record` (a fresh record when
// `status` is not 0) and the code `status`, remembering the frequencies.
template <class DataT>
class FakeProvider : public CalibrationProviderIF<DataT> {
public:
    int getCalibrationData(uint32_t modFreq, DataT& data) override {
        requests.push_back(modFreq);
        data = status == 0 ? record : DataT{};
        return status;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    DataT record;
    int status = 0;
    std::vector<uint32_t> requests;
};

// Registers a provider for the test's lifetime; the default provider after.
template <class DataT>
class ScopedProvider {
public:
    explicit ScopedProvider(CalibrationProviderIF<DataT>& provider) {
        CalibrationDataRegistry::getInstance().registerProvider<DataT>(provider);
    }
    ~ScopedProvider() {
        CalibrationDataRegistry::getInstance().registerProvider<DataT>(
            DefaultProvider<DataT>::getInstance());
    }
    ScopedProvider(const ScopedProvider&) = delete;
    ScopedProvider& operator=(const ScopedProvider&) = delete;
};

// Registers the default providers, so a test sees "no calibration".
inline void useDefaultProviders() {
    auto& r = CalibrationDataRegistry::getInstance();
    r.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
    r.registerProvider<PhaseErrorLUTData>(DefaultProvider<PhaseErrorLUTData>::getInstance());
    r.registerProvider<DsnuOffsetData>(DefaultProvider<DsnuOffsetData>::getInstance());
    r.registerProvider<PrnuGainData>(DefaultProvider<PrnuGainData>::getInstance());
}

}  // namespace testsupport
