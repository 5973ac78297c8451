#include "display/Image.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "base/Log.h"

namespace vornik {

Image::Image(cairo_surface_t* surface, int width, int height)
    : surface_(surface), width_(width), height_(height) {}

Image::~Image() { cairo_surface_destroy(surface_); }

std::shared_ptr<Image> Image::create(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > kMaxImageSide || height > kMaxImageSide) {
        logf("image of %d x %d pixels is too large; using an empty one", width, height);
        width = height = 0;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    return std::shared_ptr<Image>(new Image(surface, width, height));  // starts transparent
}

std::shared_ptr<Image> Image::loadPng(const std::string& path) {
    cairo_surface_t* loaded = cairo_image_surface_create_from_png(path.c_str());
    const cairo_status_t status = cairo_surface_status(loaded);
    if (status != CAIRO_STATUS_SUCCESS) {
        logf("cannot read image \"%s\": %s", path.c_str(), cairo_status_to_string(status));
        cairo_surface_destroy(loaded);
        return nullptr;
    }
    const int width = cairo_image_surface_get_width(loaded);
    const int height = cairo_image_surface_get_height(loaded);
    if (cairo_image_surface_get_format(loaded) == CAIRO_FORMAT_ARGB32) {
        return std::shared_ptr<Image>(new Image(loaded, width, height));
    }
    // Opaque or grey PNGs load in other formats; keep one pixel format everywhere.
    auto image = create(width, height);
    cairo_t* cr = cairo_create(image->surface_);
    cairo_set_source_surface(cr, loaded, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(loaded);
    cairo_surface_flush(image->surface_);
    return image;
}

Rgba8 Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    std::uint32_t argb;
    std::memcpy(&argb, data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, 4);
    const unsigned a = argb >> 24;
    if (a == 0) return {};
    auto straight = [a](unsigned premultiplied) {
        return static_cast<std::uint8_t>(std::min(255u, (premultiplied * 255 + a / 2) / a));
    };
    return Rgba8{straight((argb >> 16) & 0xff), straight((argb >> 8) & 0xff), straight(argb & 0xff),
                 static_cast<std::uint8_t>(a)};
}

bool Image::writePng(const std::string& path) const {
    if (width_ == 0 || height_ == 0) {
        logf("cannot write image \"%s\": it is empty", path.c_str());
        return false;
    }
    cairo_surface_flush(surface_);
    const cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        logf("cannot write image \"%s\": %s", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

const unsigned char* Image::data() const {
    if (width_ == 0 || height_ == 0) return nullptr;
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_);
}

int Image::stride() const { return cairo_image_surface_get_stride(surface_); }

void Image::clear() {
    if (width_ == 0 || height_ == 0) return;
    cairo_surface_flush(surface_);
    std::memset(cairo_image_surface_get_data(surface_), 0,
                static_cast<std::size_t>(cairo_image_surface_get_stride(surface_)) * height_);
    cairo_surface_mark_dirty(surface_);
}

std::shared_ptr<Image> Image::copy() const {
    auto image = create(width_, height_);
    if (width_ == 0 || height_ == 0) return image;
    cairo_surface_flush(surface_);
    std::memcpy(cairo_image_surface_get_data(image->surface_),
                cairo_image_surface_get_data(surface_),
                static_cast<std::size_t>(cairo_image_surface_get_stride(surface_)) * height_);
    cairo_surface_mark_dirty(image->surface_);
    return image;
}

}  // namespace vornik
