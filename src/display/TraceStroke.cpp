#include "display/TraceStroke.h"

#include <algorithm>
#include <cmath>

namespace vornik {

namespace {

constexpr int N = TraceStroke::kSamples;

int floorToInt(double v) {
    const int i = static_cast<int>(v);
    return i - (v < i);
}

// The samples from x0 to x1, both included.
int firstSample(double x) { return -floorToInt(0.5 - x * N); }
int lastSample(double x) { return floorToInt(x * N - 0.5); }

}  // namespace

void TraceStroke::addPiece(std::initializer_list<Point> vertices, const PixelBox& clip) {
    const Point* v = vertices.begin();
    const std::size_t n = vertices.size();
    Extent e{v[0].x, v[0].y, v[0].x, v[0].y};
    double area = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point a = v[i], b = v[i + 1 < n ? i + 1 : 0];
        area += a.x * b.y - b.x * a.y;
        e = Extent{std::min(e.x0, a.x), std::min(e.y0, a.y), std::max(e.x1, a.x),
                   std::max(e.y1, a.y)};
    }
    // Wholly outside the clip (a spike's tip far above the strip): nothing to cover.
    if (e.x1 <= clip.x0 || e.x0 >= clip.x1 || e.y1 <= clip.y0 || e.y0 >= clip.y1) return;
    Piece piece{};
    piece.first = firstSample(e.x0);
    piece.last = lastSample(e.x1);
    if (piece.first > piece.last) return;
    extent_ = Extent{std::min(extent_.x0, e.x0), std::min(extent_.y0, e.y0),
                     std::max(extent_.x1, e.x1), std::max(extent_.y1, e.y1)};
    for (std::size_t i = 0; i < n; ++i) {
        Point a = v[i], b = v[i + 1 < n ? i + 1 : 0];
        // Going round the piece one way, the edges that run to growing x bound it from one side
        // and those running back from the other.
        const int top = (a.x < b.x) == (area > 0.0) ? 0 : 1;
        if (a.x > b.x) std::swap(a, b);
        const int first = firstSample(a.x), last = lastSample(b.x);
        if (first > last) continue;  // between two samples (a vertical edge, too)
        const double slope = (b.y - a.y) / (b.x - a.x);
        const double x = (first + 0.5) / N;
        piece.edge[piece.edges++] = Edge{first, last, static_cast<float>(a.y + (x - a.x) * slope),
                                         static_cast<float>(slope / N), top};
    }
    pieces_.push_back(piece);
}

bool TraceStroke::draw(const std::vector<Point>& points, double halfWidth, bool miter,
                       double miterLimit, PixelBox clip) {
    // The oscilloscope's captures come less often than frames: the same trace keeps its coverage.
    if (kept_ && halfWidth == keptHalfWidth_ && miter == keptMiter_ &&
        miterLimit == keptMiterLimit_ && clip == keptClip_ && points == keptPoints_) {
        return true;
    }
    kept_ = cover(points, halfWidth, miter, miterLimit, clip);
    if (kept_) {
        keptPoints_ = points;
        keptHalfWidth_ = halfWidth;
        keptMiter_ = miter;
        keptMiterLimit_ = miterLimit;
        keptClip_ = clip;
    }
    return kept_;
}

bool TraceStroke::cover(const std::vector<Point>& points, double halfWidth, bool miter,
                        double miterLimit, PixelBox clip) {
    box_ = PixelBox{};
    pieces_.clear();
    if (points.size() < 2 || !(halfWidth > 0.0) || !std::isfinite(halfWidth)) return false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) return false;
        if (i > 0 && !(points[i].x > points[i - 1].x)) return false;
    }

    extent_ = Extent{1e300, 1e300, -1e300, -1e300};
    // The pieces: each segment's band, and at each corner the wedge on its outer side (the
    // bands overlap on the inner side).
    const double h = halfWidth;
    Point previousNormal{};
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const Point p = points[i], q = points[i + 1];
        const double length = std::hypot(q.x - p.x, q.y - p.y);
        const Point d{(q.x - p.x) / length, (q.y - p.y) / length};
        const Point n{-d.y, d.x};
        addPiece({{p.x + n.x * h, p.y + n.y * h},
                  {q.x + n.x * h, q.y + n.y * h},
                  {q.x - n.x * h, q.y - n.y * h},
                  {p.x - n.x * h, p.y - n.y * h}},
                 clip);
        if (i > 0) {
            const Point n0 = previousNormal;
            const double turn = n0.x * n.y - n0.y * n.x;
            const double cosine = n0.x * n.x + n0.y * n.y;
            if (turn != 0.0) {
                const double side = turn > 0.0 ? -h : h;  // the outer side
                const Point a{p.x + n0.x * side, p.y + n0.y * side};
                const Point b{p.x + n.x * side, p.y + n.y * side};
                // Cairo's limit: the miter's length over the width at most miterLimit.
                if (miter && 2.0 <= miterLimit * miterLimit * (1.0 + cosine)) {
                    const double k = side / (1.0 + cosine);
                    addPiece({p, a, {p.x + (n0.x + n.x) * k, p.y + (n0.y + n.y) * k}, b}, clip);
                } else {
                    addPiece({p, a, b}, clip);
                }
            }
        }
        previousNormal = n;
    }

    // The box: the pieces' extent within the clip.
    if (pieces_.empty()) return true;
    box_.x0 = static_cast<int>(std::floor(std::max<double>(clip.x0, extent_.x0)));
    box_.x1 = static_cast<int>(std::ceil(std::min<double>(clip.x1, extent_.x1)));
    box_.y0 = static_cast<int>(std::floor(std::max<double>(clip.y0, extent_.y0)));
    box_.y1 = static_cast<int>(std::ceil(std::min<double>(clip.y1, extent_.y1)));
    if (box_.isEmpty()) {
        box_ = PixelBox{};
        return true;
    }
    stride_ = (box_.width() + 3) & ~3;
    mask_.resize(static_cast<std::size_t>(stride_) * box_.height());
    std::fill(mask_.begin(), mask_.end(), std::uint8_t{0});
    partial_.assign(static_cast<std::size_t>(box_.height()) + 1, 0.0f);
    starts_.assign(static_cast<std::size_t>(box_.height()) + 1, 0.0f);

    // Every piece's interval at every sample it reaches, sorted by sample (a counting sort):
    // each sample's intervals end up side by side.
    const int firstInBox = box_.x0 * N, samples = box_.width() * N;
    offsets_.assign(static_cast<std::size_t>(samples) + 1, 0);
    for (Piece& piece : pieces_) {
        piece.first = std::max(piece.first, firstInBox);
        piece.last = std::min(piece.last, firstInBox + samples - 1);
        if (piece.first > piece.last) continue;
        ++offsets_[piece.first - firstInBox];
        --offsets_[piece.last + 1 - firstInBox];
    }
    int total = 0, count = 0;
    for (int& offset : offsets_) {  // counts, then where each sample's intervals start
        count += offset;
        offset = total;
        total += count;
    }
    spans_.resize(static_cast<std::size_t>(total) * 2);
    fill_.assign(offsets_.begin(), offsets_.end());
    float* const spans = spans_.data();
    int* const fill = fill_.data() - firstInBox;  // by sample number
    for (const Piece& piece : pieces_) {
        if (piece.first > piece.last) continue;
        for (int k = piece.first; k <= piece.last; ++k) {
            float* slot = spans + static_cast<std::size_t>(fill[k]++) * 2;
            slot[0] = slot[1] = 0.0f;  // empty, should no edge reach it
        }
        // The piece's own slots are now the last ones taken.
        for (int e = 0; e < piece.edges; ++e) {
            const Edge& edge = piece.edge[e];
            const int k0 = std::max(edge.first, piece.first), k1 = std::min(edge.last, piece.last);
            float y = edge.y + static_cast<float>(k0 - edge.first) * edge.step;
            for (int k = k0; k <= k1; ++k, y += edge.step) {
                spans[static_cast<std::size_t>(fill[k] - 1) * 2 + edge.top] = y;
            }
        }
    }
    for (int column = box_.x0; column < box_.x1; ++column) coverColumn(column);
    return true;
}

void TraceStroke::coverColumn(int column) {
    float* const partial = partial_.data();
    float* const starts = starts_.data();
    const int base = (column - box_.x0) * N;

    const int height = box_.height();
    const auto top0 = static_cast<float>(box_.y0), bottom0 = static_cast<float>(box_.y1);
    int top = height, bottom = -1;        // the rows touched
    auto cover = [&](float a, float b) {  // rows of the box, exact in y
        a = std::max(a - box_.y0, 0.0f);
        b = std::min(b - box_.y0, static_cast<float>(height));
        if (!(a < b)) return;
        const int ia = static_cast<int>(a), ib = static_cast<int>(b);
        top = std::min(top, ia);
        bottom = std::max(bottom, ib);
        if (ia == ib) {
            partial[ia] += b - a;
            return;
        }
        partial[ia] += (ia + 1) - a;
        starts[ia + 1] += 1.0f;
        starts[ib] -= 1.0f;
        partial[ib] += b - ib;  // row `height` is a spare
    };
    for (int k = 0; k < N; ++k) {
        float* row = &spans_[static_cast<std::size_t>(offsets_[base + k]) * 2];
        const int count = offsets_[base + k + 1] - offsets_[base + k];
        // The pieces' intervals, by their tops, then merged: the stroke is their union. One
        // that spans the box (a steep stretch of the trace) settles it at once.
        bool spans = false;
        for (int i = 0; i < count && !spans; ++i)
            spans = row[2 * i] <= top0 && row[2 * i + 1] >= bottom0;
        if (spans || count == 1) {
            cover(spans ? top0 : row[0], spans ? bottom0 : row[1]);
            continue;
        }
        for (int i = 1; i < count; ++i) {
            const float lo = row[2 * i], hi = row[2 * i + 1];
            int j = i;
            for (; j > 0 && row[2 * (j - 1)] > lo; --j) {
                row[2 * j] = row[2 * (j - 1)];
                row[2 * j + 1] = row[2 * (j - 1) + 1];
            }
            row[2 * j] = lo;
            row[2 * j + 1] = hi;
        }
        for (int i = 0; i < count;) {
            const float lo = row[2 * i];
            float hi = row[2 * i + 1];
            for (++i; i < count && row[2 * i] <= hi; ++i) hi = std::max(hi, row[2 * i + 1]);
            cover(lo, hi);
        }
    }
    std::uint8_t* out = mask_.data() + (column - box_.x0);
    float run = 0.0f;
    const int last = std::min(bottom, height - 1);
    for (int row = top; row <= last; ++row) {
        run += starts[row];
        const float coverage = (partial[row] + run) * (255.0f / N);
        out[static_cast<std::size_t>(row) * stride_] =
            static_cast<std::uint8_t>(std::clamp(coverage + 0.5f, 0.0f, 255.0f));
        partial[row] = 0.0f;
        starts[row] = 0.0f;
    }
    if (bottom >= 0) {
        partial[bottom] = 0.0f;  // the spare row, and the end of the last run
        starts[bottom] = 0.0f;
    }
}

}  // namespace vornik
