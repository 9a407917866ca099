#include "preview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "frame_stats.h"

namespace capture {

namespace {

// Anchors of the colour map, evenly spaced from t = 0 to t = 1: lightness
// rises steadily while the hue turns from blue-violet to yellow, so equal
// steps of distance look like equal steps of colour, also in grey print.
constexpr std::array<Rgb, 9> ANCHORS = {{{68, 1, 84},
                                         {71, 44, 122},
                                         {59, 81, 139},
                                         {44, 113, 142},
                                         {33, 144, 141},
                                         {39, 173, 129},
                                         {92, 200, 99},
                                         {170, 220, 50},
                                         {253, 231, 37}}};

struct CodeStyle {
    uint16_t code;
    Rgb colour;
    const char* name;
};

// Colours far from every colour of the map and from each other.
constexpr CodeStyle CODES[] = {
    {64001, {0, 0, 0}, "LOW AMPLITUDE"},    {64002, {255, 128, 0}, "ADC OVERFLOW"},
    {64003, {230, 20, 20}, "SATURATION"},   {64004, {255, 0, 220}, "BAD PIXEL"},
    {64005, {0, 230, 255}, "INTERFERENCE"}, {64006, {255, 255, 255}, "EDGE"},
};
constexpr Rgb OTHER_CODE = {255, 175, 200};
constexpr Rgb PANEL = {36, 36, 40};
constexpr Rgb TEXT = {235, 235, 235};
constexpr Rgb OUTLINE = {200, 200, 200};
constexpr int TEXT_SCALE = 2;
constexpr int LINE = Canvas::GLYPH_HEIGHT * TEXT_SCALE;
constexpr int MARGIN = 8;
constexpr int MIN_PICTURE_WIDTH = 640;

// The picture enlarged by a whole factor, with room for the legend below.
struct Layout {
    int scale;
    int pictureWidth;
    int pictureHeight;
    int legendHeight;
};

Layout layoutFor(uint32_t width, uint32_t height, size_t codeRows) {
    Layout l{};
    l.scale = std::max(1, static_cast<int>((MIN_PICTURE_WIDTH + width - 1) / std::max(width, 1u)));
    l.pictureWidth = static_cast<int>(width) * l.scale;
    l.pictureHeight = static_cast<int>(height) * l.scale;
    // title, bar, bar labels, code rows
    l.legendHeight = MARGIN + LINE + MARGIN + 18 + 4 + LINE + MARGIN +
                     static_cast<int>(codeRows) * (LINE + 6) + MARGIN;
    return l;
}

std::string percentText(size_t count, size_t total) {
    char buf[16];
    const double p = total ? 100.0 * static_cast<double>(count) / static_cast<double>(total) : 0;
    std::snprintf(buf, sizeof buf, p > 0 && p < 0.1 ? "<0.1%%" : "%.1f%%", p);
    return buf;
}

// Draws everything below the picture: the title, the scale bar coloured by
// `barColour` (t from 0 at the left to 1 at the right) with its labels, and
// the codes with their share of the image.
template <typename BarColour>
void drawLegend(Canvas& c, const Layout& l, const std::string& title, BarColour barColour,
                const std::string& left, const std::string& middle, const std::string& right,
                const uint16_t* values, size_t n) {
    int y = l.pictureHeight + MARGIN;
    c.text(MARGIN, y, title, TEXT_SCALE, TEXT);
    y += LINE + MARGIN;
    const int barWidth = c.width() - 2 * MARGIN;
    for (int x = 0; x < barWidth; ++x) {
        c.fill(MARGIN + x, y, 1, 18, barColour(barWidth > 1 ? double(x) / (barWidth - 1) : 0.0));
    }
    c.frame(MARGIN - 1, y - 1, barWidth + 2, 20, OUTLINE);
    y += 18 + 4;
    c.text(MARGIN, y, left, TEXT_SCALE, TEXT);
    c.text((c.width() - Canvas::textWidth(middle, TEXT_SCALE)) / 2, y, middle, TEXT_SCALE, TEXT);
    c.text(c.width() - MARGIN - Canvas::textWidth(right, TEXT_SCALE), y, right, TEXT_SCALE, TEXT);
    y += LINE + MARGIN;

    std::array<size_t, std::size(CODES)> counts{};
    size_t other = 0;
    for (size_t i = 0; i < n; ++i) {
        if (values[i] < FIRST_PIXEL_CODE) continue;
        bool known = false;
        for (size_t k = 0; k < std::size(CODES); ++k) {
            if (values[i] == CODES[k].code) {
                ++counts[k];
                known = true;
            }
        }
        other += known ? 0 : 1;
    }
    const int column = (c.width() - 2 * MARGIN) / 2;
    auto entry = [&](size_t index, Rgb colour, const std::string& label) {
        const int x = MARGIN + static_cast<int>(index % 2) * column;
        const int yy = y + static_cast<int>(index / 2) * (LINE + 6);
        c.fill(x, yy, LINE, LINE, colour);
        c.frame(x, yy, LINE, LINE, OUTLINE);
        c.text(x + LINE + 6, yy, label, TEXT_SCALE, TEXT);
    };
    for (size_t k = 0; k < std::size(CODES); ++k) {
        entry(
            k, CODES[k].colour,
            std::to_string(CODES[k].code) + " " + CODES[k].name + " " + percentText(counts[k], n));
    }
    if (other > 0) entry(std::size(CODES), OTHER_CODE, "OTHER CODE " + percentText(other, n));
}

Layout layoutWithCodes(uint32_t width, uint32_t height, const uint16_t* values) {
    const size_t n = size_t{width} * height;
    bool other = false;
    for (size_t i = 0; i < n && !other; ++i) {
        if (values[i] >= FIRST_PIXEL_CODE) {
            other = std::none_of(std::begin(CODES), std::end(CODES),
                                 [&](const CodeStyle& s) { return s.code == values[i]; });
        }
    }
    return layoutFor(width, height, (std::size(CODES) + (other ? 1 : 0) + 1) / 2);
}

// Enlarges the picture: each image pixel becomes a scale x scale square.
template <typename PixelColour>
void drawPicture(Canvas& c, const Layout& l, uint32_t width, uint32_t height,
                 PixelColour colourOf) {
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            c.fill(static_cast<int>(x) * l.scale, static_cast<int>(y) * l.scale, l.scale, l.scale,
                   colourOf(size_t{y} * width + x));
        }
    }
}

}  // namespace

Rgb colourMap(double t) {
    t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0);
    const double pos = t * (ANCHORS.size() - 1);
    const size_t i = std::min(static_cast<size_t>(pos), ANCHORS.size() - 2);
    const double f = pos - static_cast<double>(i);
    auto mix = [f](uint8_t a, uint8_t b) {
        return static_cast<uint8_t>(std::lround(a + (b - a) * f));
    };
    return {mix(ANCHORS[i].r, ANCHORS[i + 1].r), mix(ANCHORS[i].g, ANCHORS[i + 1].g),
            mix(ANCHORS[i].b, ANCHORS[i + 1].b)};
}

Rgb codeColour(uint16_t code) {
    for (const CodeStyle& s : CODES) {
        if (s.code == code) return s.colour;
    }
    return OTHER_CODE;
}

const char* codeName(uint16_t code) {
    for (const CodeStyle& s : CODES) {
        if (s.code == code) return s.name;
    }
    return "OTHER CODE";
}

std::string legendDescription() {
    std::string text;
    for (const CodeStyle& s : CODES) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%u %s #%02x%02x%02x; ", s.code, s.name, s.colour.r,
                      s.colour.g, s.colour.b);
        text += buf;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "other codes #%02x%02x%02x", OTHER_CODE.r, OTHER_CODE.g,
                  OTHER_CODE.b);
    return text + buf;
}

namespace {

// The valid values of an image counted by value, for percentiles without
// sorting (the viewer computes them for every frame).
class ValidHistogram {
public:
    ValidHistogram(const uint16_t* values, size_t n) : counts_(FIRST_PIXEL_CODE, 0) {
        for (size_t i = 0; i < n; ++i) {
            if (values[i] < FIRST_PIXEL_CODE) {
                ++counts_[values[i]];
                ++total_;
            }
        }
    }

    bool empty() const { return total_ == 0; }

    // The value at index p x (count - 1), rounded down, of the sorted valid values.
    uint16_t percentile(double p) const {
        const size_t k = std::min(total_ - 1, static_cast<size_t>(p * (total_ - 1)));
        size_t seen = 0;
        for (size_t v = 0; v < counts_.size(); ++v) {
            seen += counts_[v];
            if (seen > k) return static_cast<uint16_t>(v);
        }
        return 0;
    }

    uint16_t largest() const {
        for (size_t v = counts_.size(); v-- > 0;) {
            if (counts_[v] > 0) return static_cast<uint16_t>(v);
        }
        return 0;
    }

private:
    std::vector<uint32_t> counts_;
    size_t total_ = 0;
};

}  // namespace

DisplayRange distanceRange(const uint16_t* distance, size_t n) {
    const ValidHistogram valid(distance, n);
    if (valid.empty()) return {};
    return {valid.percentile(0.01), valid.percentile(0.99), true};
}

DisplayRange amplitudeRange(const uint16_t* amplitude, size_t n) {
    const ValidHistogram valid(amplitude, n);
    if (valid.empty()) return {1, 2, false};
    const uint16_t low = std::max<uint16_t>(1, valid.percentile(0.01));
    return {low, std::max<uint16_t>(low + 1, valid.largest()), true};
}

Canvas distancePreview(uint32_t width, uint32_t height, const uint16_t* distance,
                       const std::string& title) {
    const size_t n = size_t{width} * height;
    const Layout l = layoutWithCodes(width, height, distance);
    Canvas c(l.pictureWidth, l.pictureHeight + l.legendHeight, PANEL);
    const DisplayRange range = distanceRange(distance, n);
    const uint16_t near = range.low, far = range.high;
    const double span = std::max(1, far - near);
    // Bright is near: t = 1 at the near end.
    drawPicture(c, l, width, height, [&](size_t i) {
        const uint16_t d = distance[i];
        if (d >= FIRST_PIXEL_CODE) return codeColour(d);
        return colourMap(1.0 - (d - near) / span);
    });
    drawLegend(
        c, l, title, [](double t) { return colourMap(1.0 - t); },
        range.any ? std::to_string(near) + " MM" : "NO VALID PIXEL",
        range.any ? std::to_string((near + far) / 2) + " MM" : "",
        range.any ? std::to_string(far) + " MM" : "", distance, n);
    return c;
}

Canvas amplitudePreview(uint32_t width, uint32_t height, const uint16_t* amplitude,
                        const std::string& title) {
    const size_t n = size_t{width} * height;
    const Layout l = layoutWithCodes(width, height, amplitude);
    Canvas c(l.pictureWidth, l.pictureHeight + l.legendHeight, PANEL);
    const DisplayRange range = amplitudeRange(amplitude, n);
    const uint16_t low = range.low, top = range.high;
    const double logLow = std::log(static_cast<double>(low));
    const double logSpan = std::log(static_cast<double>(top)) - logLow;
    auto grey = [](double t) {
        const auto g = static_cast<uint8_t>(std::lround(255.0 * std::clamp(t, 0.0, 1.0)));
        return Rgb{g, g, g};
    };
    drawPicture(c, l, width, height, [&](size_t i) {
        const uint16_t a = amplitude[i];
        if (a >= FIRST_PIXEL_CODE) return codeColour(a);
        return grey((std::log(std::max<double>(a, 1.0)) - logLow) / logSpan);
    });
    // The bar's middle is the geometric middle of the logarithmic scale.
    const auto mid = static_cast<long>(std::lround(std::exp(logLow + logSpan / 2)));
    drawLegend(c, l, title, grey, std::to_string(low), std::to_string(mid) + " (LOG SCALE)",
               std::to_string(top), amplitude, n);
    return c;
}

}  // namespace capture
