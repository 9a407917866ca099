#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace capture {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void onError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// The libpng calls alone, with nothing but plain locals, since an error
// returns here by longjmp. False on an error, its text in `error`.
bool encode(std::FILE* file, std::string* error, uint32_t width, uint32_t height, int colourType,
            int bitDepth, png_bytep* rows, png_text* chunks, int chunkCount) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (chunkCount > 0) png_set_text(png, info, chunks, chunkCount);
    png_set_compression_level(png, 3);  // fast: files are written per frame
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Encodes rows of `rowBytes` bytes each into `file`; the rows are already in
// PNG byte order (16-bit samples big-endian). Returns an empty string, or
// what went wrong.
std::string encodeInto(std::FILE* file, uint32_t width, uint32_t height, int colourType,
                       int bitDepth, const std::vector<uint8_t>& bytes, size_t rowBytes,
                       const PngText& text) {
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = const_cast<png_bytep>(bytes.data() + y * rowBytes);
    }
    std::vector<png_text> chunks(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        chunks[i] = png_text{};
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<char*>(text[i].first.c_str());
        chunks[i].text = const_cast<char*>(text[i].second.c_str());
    }
    std::string error;
    if (!encode(file, &error, width, height, colourType, bitDepth, rows.data(), chunks.data(),
                static_cast<int>(chunks.size()))) {
        return error;
    }
    if (std::fflush(file) != 0) return std::strerror(errno);
    return {};
}

std::string writePng(const std::string& path, uint32_t width, uint32_t height, int colourType,
                     int bitDepth, const std::vector<uint8_t>& bytes, size_t rowBytes,
                     const PngText& text) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return "cannot create " + path + ": " + std::strerror(errno);
    if (std::string error =
            encodeInto(file.get(), width, height, colourType, bitDepth, bytes, rowBytes, text);
        !error.empty()) {
        return path + ": " + error;
    }
    return {};
}

std::vector<uint8_t> bigEndian16(const uint16_t* pixels, size_t n) {
    std::vector<uint8_t> bytes(2 * n);
    for (size_t i = 0; i < n; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(pixels[i] >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(pixels[i] & 0xFF);
    }
    return bytes;
}

}  // namespace

std::string writeGray16Png(const std::string& path, uint32_t width, uint32_t height,
                           const uint16_t* pixels, const PngText& text) {
    const std::vector<uint8_t> bytes = bigEndian16(pixels, size_t{width} * height);
    return writePng(path, width, height, PNG_COLOR_TYPE_GRAY, 16, bytes, size_t{width} * 2, text);
}

std::string encodeGray16Png(std::string& png, uint32_t width, uint32_t height,
                            const uint16_t* pixels, const PngText& text) {
    const std::vector<uint8_t> bytes = bigEndian16(pixels, size_t{width} * height);
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* memory = open_memstream(&buffer, &size);
    if (!memory) return std::strerror(errno);
    std::string error =
        encodeInto(memory, width, height, PNG_COLOR_TYPE_GRAY, 16, bytes, size_t{width} * 2, text);
    std::fclose(memory);
    if (error.empty()) png.assign(buffer, size);
    std::free(buffer);
    return error;
}

std::string writeRgb8Png(const std::string& path, uint32_t width, uint32_t height,
                         const uint8_t* rgb, const PngText& text) {
    std::vector<uint8_t> bytes(rgb, rgb + size_t{width} * height * 3);
    return writePng(path, width, height, PNG_COLOR_TYPE_RGB, 8, bytes, size_t{width} * 3, text);
}

}  // namespace capture
