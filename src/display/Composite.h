#pragma once
// Premultiplied ARGB32 pixels composited OVER others, with the very arithmetic of Cairo's
// image backend (pixman): each channel d = s + d * (255 - alpha of s) / 255, rounded as pixman
// rounds and saturated. Used to put a kept picture down without Cairo's per-call set-up.
// Thread: any.

#include <cstdint>

namespace vornik {

// Whether compositeOver runs faster here than Cairo would (it has the CPU's wide vectors).
bool compositeOverIsFast();

// `height` rows of `width` pixels, from column `srcX` of each source row, over those of `dst`
// (its stride in pixels). Rows come by pointer: a picture whose rows repeat (a box's inside) can
// pass one row many times, which stays in the cache.
void compositeOver(const std::uint32_t* const* srcRows, int srcX, std::uint32_t* dst, int dstStride,
                   int width, int height);

}  // namespace vornik
