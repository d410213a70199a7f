#pragma once
// A small square of ARGB pixels that the program paints its pictures on
// (toolbar buttons, list icons), with anti-aliased shapes: each shape is a
// test "is (x, y) inside", sampled 4 x 4 times per pixel.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/ui/Icon.h"

namespace ui {

class Canvas {
public:
    explicit Canvas(int size) : size_(size), px(static_cast<size_t>(size) * static_cast<size_t>(size), 0) {}
    int Size() const { return size_; }

    // Paints the colour (0xRRGGBB) where inside(x, y) holds.
    void Fill(uint32_t rgb, const std::function<bool(double, double)>& inside) {
        for (int y = 0; y < size_; ++y)
            for (int x = 0; x < size_; ++x) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        if (inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)) ++hits;
                if (hits) Blend(px[static_cast<size_t>(y * size_ + x)], rgb, hits / 16.0);
            }
    }
    win::Icon ToIcon() const { return IconFromPixels(size_, px.data()); }

private:
    static void Blend(uint32_t& dst, uint32_t rgb, double a) {
        double da = (dst >> 24) / 255.0;
        double oa = a + da * (1 - a);
        auto ch = [&](int shift) {
            double s = (rgb >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
            return static_cast<uint32_t>(std::lround((s * a + d * da * (1 - a)) / oa)) << shift;
        };
        dst = (static_cast<uint32_t>(std::lround(oa * 255)) << 24) | ch(16) | ch(8) | ch(0);
    }
    int size_;

public:
    std::vector<uint32_t> px;  // 0xAARRGGBB, straight alpha, top row first
};

inline auto Circle(double cx, double cy, double r) {
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}
inline auto Rect(double l, double t, double r, double b) {
    return [=](double x, double y) { return x >= l && x < r && y >= t && y < b; };
}
// A stroke of width w from (x0, y0) to (x1, y1) with round ends.
inline auto Stroke(double x0, double y0, double x1, double y1, double w) {
    return [=](double x, double y) {
        double dx = x1 - x0, dy = y1 - y0;
        double t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy);
        t = t < 0 ? 0 : t > 1 ? 1 : t;
        double px = x0 + t * dx - x, py = y0 + t * dy - y;
        return px * px + py * py <= w * w / 4;
    };
}
inline auto Polygon(std::vector<std::pair<double, double>> p) {
    return [p = std::move(p)](double x, double y) {
        bool in = false;
        for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
            if ((p[i].second > y) != (p[j].second > y) &&
                x < (p[j].first - p[i].first) * (y - p[i].second) / (p[j].second - p[i].second) + p[i].first)
                in = !in;
        return in;
    };
}
// The part of a ring between two angles (degrees, clockwise from three o'clock).
inline auto Arc(double cx, double cy, double r0, double r1, double from, double to) {
    return [=](double x, double y) {
        double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 < r0 * r0 || d2 > r1 * r1) return false;
        double a = std::atan2(y - cy, x - cx) * 180 / 3.14159265358979;
        if (a < 0) a += 360;
        return from <= to ? a >= from && a <= to : a >= from || a <= to;
    };
}

}  // namespace ui
