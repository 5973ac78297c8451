#pragma once
// The coverage of a stroked trace: a polyline whose x only grows (the oscilloscope), with butt
// caps and miter or bevel joins, as Cairo's stroke covers it. Cairo's scan converter walks every
// edge of the stroke down every sub-row; a noisy trace is all steep edges, which costs it several
// milliseconds a frame. A trace is narrow in x, so this walks pixel columns instead: at a few x
// positions in each column the stroke is a handful of exact y intervals (its segments and joins
// overlapping there), whose union covers the column's pixels.
// Thread: any, one thread at a time per object.

#include <cstdint>
#include <vector>

#include "display/Geometry.h"

namespace vornik {

// Whole pixels, x0 <= x < x1 and y0 <= y < y1 (device space: y down).
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
    bool isEmpty() const { return x1 <= x0 || y1 <= y0; }
    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

class TraceStroke {
public:
    static constexpr int kSamples = 8;  // x positions sampled in each pixel column

    // The stroke of `points` (device pixels, x strictly growing) `halfWidth` pixels to each
    // side, clipped to `clip`. Miter joins fall back to bevels past `miterLimit` (Cairo's
    // rule); with `miter` false every join is a bevel. Returns false, leaving nothing, when the
    // points are not such a trace: fewer than two, x not strictly growing, a coordinate or the
    // width not a finite number.
    bool draw(const std::vector<Point>& points, double halfWidth, bool miter, double miterLimit,
              PixelBox clip);

    // The covered box (the stroke's extent within the clip; may be empty) and its coverage, one
    // byte per pixel (255 covered), rows top to bottom, `stride` bytes apart (a multiple of 4).
    const PixelBox& box() const { return box_; }
    const std::uint8_t* data() const { return mask_.data(); }
    std::uint8_t* data() { return mask_.data(); }  // for Cairo, which only reads it
    int stride() const { return stride_; }

private:
    // Samples are numbered across the whole device: sample s lies at x = (s + 0.5) / kSamples.
    struct Edge {  // the samples from first to last cross it at y, y + step, ...
        int first, last;
        float y, step;
        int top;  // 0: the piece's upper bound there (least y), 1: its lower bound
    };
    struct Piece {        // a convex polygon of the stroke: a segment's band or a join's wedge
        int first, last;  // its samples
        int edges;
        Edge edge[4];
    };
    bool cover(const std::vector<Point>& points, double halfWidth, bool miter, double miterLimit,
               PixelBox clip);
    void addPiece(std::initializer_list<Point> vertices, const PixelBox& clip);
    void coverColumn(int column);

    struct Extent {
        double x0, y0, x1, y1;
    };
    Extent extent_{};  // of every piece's corners
    std::vector<Piece> pieces_;
    std::vector<int> offsets_;  // per sample in the box: where its intervals start in spans_
    std::vector<int> fill_;
    std::vector<float> spans_;             // lo, hi pairs, sample by sample
    std::vector<float> partial_, starts_;  // one column: partly covered rows, full runs
    std::vector<std::uint8_t> mask_;
    PixelBox box_;
    int stride_ = 0;
    // The last trace covered, while its coverage stands.
    bool kept_ = false;
    std::vector<Point> keptPoints_;
    double keptHalfWidth_ = 0.0, keptMiterLimit_ = 0.0;
    bool keptMiter_ = false;
    PixelBox keptClip_;
};

}  // namespace vornik
