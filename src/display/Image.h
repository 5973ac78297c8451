#pragma once
// A bitmap: Cairo ARGB32 pixels (premultiplied alpha, rows top to bottom). Layers show one as their
// contents; the renderer draws into one. Thread: any, one thread at a time per image.

#include <cstdint>
#include <memory>
#include <string>

typedef struct _cairo_surface cairo_surface_t;

namespace vornik {

// One pixel with straight (not premultiplied) alpha.
struct Rgba8 {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba8&, const Rgba8&) = default;
};

class Image {
public:
    // A transparent image. Sizes below 0 count as 0; sizes above kMaxImageSide are refused
    // (logged) and give a 0 x 0 image.
    static std::shared_ptr<Image> create(int width, int height);
    // Reads a PNG file; on failure logs a line and returns null.
    static std::shared_ptr<Image> loadPng(const std::string& path);

    static constexpr int kMaxImageSide = 32767;  // Cairo's limit

    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // The pixel in column x, row y (row 0 at the top); transparent outside the image.
    Rgba8 pixel(int x, int y) const;

    // Writes the image as PNG; logs a line and returns false on failure.
    bool writePng(const std::string& path) const;

    // Makes every pixel transparent.
    void clear();

    // A new image with the same pixels.
    std::shared_ptr<Image> copy() const;

    // Raw pixels: `stride` bytes per row, native-endian 32-bit premultiplied ARGB (for copying
    // the picture into a window texture). Null for an empty image.
    const unsigned char* data() const;
    int stride() const;

    cairo_surface_t* surface() const { return surface_; }

private:
    Image(cairo_surface_t* surface, int width, int height);
    cairo_surface_t* surface_;
    int width_;
    int height_;
};

}  // namespace vornik
