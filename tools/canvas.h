// ozr-capture: an 8-bit RGB picture with rectangles and a small built-in
// 5x7 bitmap font (digits, capital letters, a few signs; small letters are
// drawn as capitals, unknown characters as blanks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

struct Rgb {
    uint8_t r, g, b;
};

class Canvas {
public:
    static constexpr int GLYPH_WIDTH = 5;
    static constexpr int GLYPH_HEIGHT = 7;

    Canvas(int width, int height, Rgb background);

    int width() const { return width_; }
    int height() const { return height_; }
    const uint8_t* data() const { return pixels_.data(); }
    Rgb at(int x, int y) const;

    void set(int x, int y, Rgb colour);                  // ignored outside
    void fill(int x, int y, int w, int h, Rgb colour);   // clipped
    void frame(int x, int y, int w, int h, Rgb colour);  // 1-pixel outline
    // Draws text with its top-left corner at (x, y), each font pixel as a
    // scale x scale square; returns the x after the last character.
    int text(int x, int y, const std::string& s, int scale, Rgb colour);
    static int textWidth(const std::string& s, int scale);

private:
    int width_;
    int height_;
    std::vector<uint8_t> pixels_;
};

}  // namespace capture
