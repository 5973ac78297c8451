#pragma once
// Draws a layer tree with Cairo into a bitmap. Thread: main (it reads the layer tree).
//
// The root is drawn in its own coordinate space: the picture covers the root's bounds (its own
// position and frame do not matter), at `zoom` pixels per point, with y upward (bounds origin at
// the bottom-left pixel corner). Opacities are the presentation values at the given time.
//
// One Renderer keeps its image and Cairo context between frames: rendering a tree of the same size
// again allocates nothing of its own.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "display/Image.h"
#include "display/Layer.h"
#include "display/TraceStroke.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_font_face cairo_font_face_t;

namespace vornik {

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Clears the image and draws `root` into it at `zoom`. The image is the root's bounds size
    // times the zoom, truncated to whole pixels. A zoom that is not a positive number is logged
    // and gives an empty image.
    const Image& render(const Layer& root, double zoom, double now);
    // As above, at the layer clock's present time.
    const Image& render(const Layer& root, double zoom);
    // As render(), unless `root` would draw the very picture of the last render (same size and
    // zoom, same drawings): then the image is left as it is and false is returned. Between frames
    // it keeps the picture of the layers drawn first that did not change (the waveform under the
    // moving cursors) and draws only what lies above them.
    bool renderIfChanged(const Layer& root, double zoom, double now);

    const Image& image() const { return *image_; }
    double zoom() const { return zoom_; }

    // The pixel under a point of the root's space (y upward) in the last render.
    Rgba8 pixelAtPoint(double x, double y) const;
    Rgba8 pixelAtPoint(Point p) const { return pixelAtPoint(p.x, p.y); }

    // Writes the last render as PNG; logs a line and returns false on failure.
    bool writePng(const std::string& path) const { return image_->writePng(path); }

private:
    friend struct RenderPass;
    cairo_font_face_t* fontFace(const std::string& name);
    void prepare(int width, int height, bool clear);

    std::shared_ptr<Image> image_;
    cairo_t* cr_ = nullptr;
    double zoom_ = 1.0;
    Point origin_;              // the root's bounds origin in the last render
    std::uint64_t digest_ = 0;  // of the tree as last rendered; 0 for none
    std::string lineBuffer_;
    std::vector<Point> tracePoints_;
    struct KeptLeaf {  // a translucent box's own picture, kept while it stays the same
        std::uint64_t key = 0;
        cairo_surface_t* own = nullptr;      // drawn opaque
        cairo_surface_t* painted = nullptr;  // at `alpha`, clipped: what a render copies
        double alpha = -1.0;
        std::vector<const std::uint32_t*> rows;  // of `painted`, repeated rows shared
        std::uint64_t render = 0;                // the render that last painted it
        void release() const;
    };
    std::unordered_map<const Layer*, KeptLeaf> keptLeaves_;
    std::uint64_t renders_ = 0;
    TraceStroke trace_;

    // What renderIfChanged draws, in order: a layer's own paint where its sublayers can be drawn
    // straight into its parent's picture (opaque, no mask, clip or border), else the layer whole.
    struct Unit {
        const Layer* layer;
        bool own;      // its own paint only, its sublayers being units of their own
        Point offset;  // added to the root's space before the draw (points)
        std::uint64_t digest;
    };
    void collectUnits(const Layer& layer, Point parentOffset, double now);
    void drawUnits(cairo_t* cr, std::size_t first, std::size_t last, double now);
    std::vector<Unit> units_, lastUnits_;
    std::shared_ptr<Image> prefix_;  // the first prefixUnits_ units of the last frame, drawn
    cairo_t* prefixCr_ = nullptr;
    std::size_t prefixUnits_ = 0;
    struct FontEntry {
        std::string name;
        cairo_font_face_t* face;
    };
    std::vector<FontEntry> fonts_;
};

// `root` drawn into a new image at `zoom` (e.g. a 30 x 30 point icon at 2 gives 60 x 60 pixels),
// at the layer clock's present time.
std::shared_ptr<Image> renderLayerToImage(const Layer& root, double zoom);

// Drops the drawing libraries' global caches (Cairo's and fontconfig's) so that leak checkers
// see a clean exit. Call once, at exit, after the last drawing. While a Renderer is alive the
// caches are in use: the call then logs a line and does nothing.
void releaseDrawingCaches();

}  // namespace vornik
