#include "frameCapture.h"

#include <algorithm>
#include <chrono>

#include "kyr/phaseType.h"
#include "kyr/platform.h"
#include "kyr/status.h"
#include "tofFrameImpl.h"

namespace ozr::capture {

namespace {

struct Messages {
    const char* singleCaptureFailed;
    const char* timeout;
};

constexpr Messages DIST_AMP_MESSAGES{
    "Failed to capture single frame for distance/amplitude pipelines",
    "Timeout waiting for distance/amplitude frame"};
constexpr Messages GRAYSCALE_MESSAGES{"Failed to capture single frame for grayscale pipeline",
                                      "Timeout waiting for grayscale frame"};
constexpr Messages DCS_MESSAGES{"Failed to capture single frame for DCS pipelines",
                                "Timeout waiting for DCS frame"};

void stampMetadata(TOFFrame::Impl& impl) {
    ++TOFFrame::Impl::frameCounter;
    impl.metadata.frameNumber = static_cast<uint32_t>(TOFFrame::Impl::frameCounter);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    impl.metadata.timestamp = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 1000000);
}

// Raw 16-bit phases to radians, as PhaseType converts them.
// The result has the frame's size; should the phase image hold fewer pixels,
// the rest is 0 rather than read from beyond it.
std::shared_ptr<Image<float>> phaseToRadians(const Image<PhaseType<uint16_t>>& phase, size_t width,
                                             size_t height) {
    auto out = Image<float>::createNewBuffer(width, height);
    if (!out) {
        return nullptr;
    }
    const size_t pixels = std::min(out->pixelCount(), phase.pixelCount());
    const auto* src = phase.getData();
    float* dst = out->getData();
    for (size_t i = 0; i < pixels; ++i) {
        dst[i] = PhaseType<uint16_t>::to_float(src[i].value);
    }
    std::fill(dst + pixels, dst + out->pixelCount(), 0.0f);
    return out;
}

// The steps shared by the captures; `fill` moves the sink's images into the
// frame and returns the image that gives the frame its size.
template <typename SinkT, typename Fill>
int captureFrom(SinkT& sink, Pipeline& pipeline, bool streaming, const Messages& messages,
                Fill fill, std::unique_ptr<TOFFrame>& frame) {
    auto impl = std::make_unique<TOFFrame::Impl>();
    if (!streaming && pipeline.singleCapture() != 0) {
        KYR_LOG_ERROR("%s", messages.singleCaptureFailed);
        return kyr::status::FAILED;
    }
    AppSink::BufferLock lock = sink.lockNextFrame(CAPTURE_TIMEOUT_MS);
    if (lock.timedout()) {
        KYR_LOG_ERROR("%s", messages.timeout);
        return kyr::status::TIMED_OUT;
    }
    sink.clearNewData();
    const ImageBase* sizing = fill(*impl);
    stampMetadata(*impl);
    const auto width = static_cast<uint16_t>(sizing != nullptr ? sizing->getWidth() : 0);
    const auto height = static_cast<uint16_t>(sizing != nullptr ? sizing->getHeight() : 0);
    frame = std::make_unique<TOFFrame>(std::move(impl), width, height);
    return 0;
}

template <size_t N>
int distAmp(DistAmpSink<N>& sink, Pipeline& pipeline, bool streaming,
            std::unique_ptr<TOFFrame>& frame) {
    auto fill = [&sink](TOFFrame::Impl& impl) -> const ImageBase* {
        for (size_t i = 0; i < N; ++i) {
            impl.dcsImages[i] = sink.getDcsBuffer(i);
        }
        impl.amplitudeImage = sink.getAmplitudeBuffer();
        impl.distanceImage = sink.getDistanceBuffer();
        const auto& phase = sink.getPhaseBuffer();
        if (phase && impl.distanceImage) {
            impl.phaseImage = phaseToRadians(*phase, impl.distanceImage->getWidth() & 0xFFFF,
                                             impl.distanceImage->getHeight() & 0xFFFF);
        }
        return impl.distanceImage.get();
    };
    return captureFrom(sink, pipeline, streaming, DIST_AMP_MESSAGES, fill, frame);
}

}  // namespace

int captureDistAmp(DistAmpSink<4>& sink, Pipeline& pipeline, bool streaming,
                   std::unique_ptr<TOFFrame>& frame) {
    return distAmp(sink, pipeline, streaming, frame);
}

int captureDistAmp(DistAmpSink<12>& sink, Pipeline& pipeline, bool streaming,
                   std::unique_ptr<TOFFrame>& frame) {
    return distAmp(sink, pipeline, streaming, frame);
}

int captureGrayscale(GrayscaleSink& sink, Pipeline& pipeline, bool streaming,
                     std::unique_ptr<TOFFrame>& frame) {
    auto fill = [&sink](TOFFrame::Impl& impl) -> const ImageBase* {
        impl.grayscaleImage = sink.getGrayscaleBuffer();
        return impl.grayscaleImage.get();
    };
    return captureFrom(sink, pipeline, streaming, GRAYSCALE_MESSAGES, fill, frame);
}

int captureDcs(DcsSink<4>& sink, Pipeline& pipeline, bool streaming,
               std::unique_ptr<TOFFrame>& frame) {
    auto fill = [&sink](TOFFrame::Impl& impl) -> const ImageBase* {
        for (size_t i = 0; i < 4; ++i) {
            impl.dcsImages[i] = sink.getDcsBuffer(i);
        }
        return impl.dcsImages[0].get();
    };
    return captureFrom(sink, pipeline, streaming, DCS_MESSAGES, fill, frame);
}

void resetFrameCounter() {
    TOFFrame::Impl::frameCounter = 0;
}

}  // namespace ozr::capture
