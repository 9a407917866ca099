// ozr-capture: 8-bit pictures of a distance frame for people to look at.
//
// Distance: a perceptual colour map (dark blue-violet through green to
// yellow, near is bright) over the 1st to 99th percentile of the valid
// distances, each pixel code in a fixed colour of its own. Amplitude: grey
// on a logarithmic scale from the 1st percentile of the valid amplitudes to
// the largest, pixel codes as in the distance picture. Both are enlarged to at least 640 pixels
// across and carry a legend below: the range (millimetres, or counts), and the colour and share of
// every pixel code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "canvas.h"

namespace capture {

// Colour map entry for t in [0, 1] (0: far end of the range, 1: near end).
Rgb colourMap(double t);
// Fixed colour and short name of a pixel code (value 64000 or more).
Rgb codeColour(uint16_t code);
const char* codeName(uint16_t code);

// The span a picture's scale covers: distance from the 1st to the 99th
// percentile of the valid values, amplitude from the 1st percentile (at
// least 1) to the largest valid value. `any` is false without valid pixels.
struct DisplayRange {
    uint16_t low = 0;
    uint16_t high = 0;
    bool any = false;
};
DisplayRange distanceRange(const uint16_t* distance, size_t n);
DisplayRange amplitudeRange(const uint16_t* amplitude, size_t n);

Canvas distancePreview(uint32_t width, uint32_t height, const uint16_t* distance,
                       const std::string& title);
Canvas amplitudePreview(uint32_t width, uint32_t height, const uint16_t* amplitude,
                        const std::string& title);

// "64001 low amplitude #000000; ..." for every code the legend shows, for
// the PNG's text chunk.
std::string legendDescription();

}  // namespace capture
