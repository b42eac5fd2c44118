// Pictures in window tests: how much of an area the drawing inked.
#pragma once
#include <QImage>
#include <QRect>

namespace tv::testing_pictures {

// Pixels darker than mid grey inside `area` (text strokes, box outlines, the black focus dots);
// the part of `area` outside the image counts nothing.
inline int dark_pixels(const QImage& image, const QRect& area) {
    const QRect r = area.intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += qGray(image.pixel(x, y)) < 100;
    return n;
}

}  // namespace tv::testing_pictures
