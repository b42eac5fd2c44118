// Writes page files as the analysis system does, for the demo data, the tests and the fuzz seeds.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tolbex/reports/page_items.h"

namespace tv {

// Coordinates are logical units; they are stored multiplied by 32.
class PageFileBuilder {
public:
    void text(std::int32_t x, std::int32_t y, std::string_view cp1252, int size_code = kTextSmall);
    void polyline(const std::vector<fw::Pt>& points);  // kPenUp coordinates stay as they are
    void trace(std::int32_t x0, std::int32_t y0, std::int32_t base, std::int32_t gain,
               const std::vector<std::uint16_t>& samples);
    void dot_rows(std::uint32_t scale_code, std::int32_t a, std::int32_t b, const std::vector<std::int32_t>& rows);
    void shape(std::uint32_t code, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
    void clip(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    void label(std::string_view bytes);
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

}  // namespace tv
