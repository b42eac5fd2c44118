#include "framework/core/page_source.h"

#include <algorithm>

namespace tv::fw {

PrintSetup& print_setup() {
    static PrintSetup setup;
    return setup;
}

ScopedPrintOrientation::ScopedPrintOrientation(PageOrientation orientation) : saved_(print_setup().orientation) {
    print_setup().orientation = orientation;
}

ScopedPrintOrientation::~ScopedPrintOrientation() { print_setup().orientation = saved_; }

int PageSequence::next(int page) const {
    if (page <= 0) return first;
    if (last > 0 && page == last) return 0;
    return page + step;
}

PageSequence make_page_sequence(int first, int last, int duplicate_limit, int page_count) {
    PageSequence s;
    s.duplicate_limit = duplicate_limit;
    if (page_count <= 0) {
        // A source that does not know its length is laid out from its first page on.
        s.first = 1;
        s.last = 0;
        return s;
    }
    if (first <= 0) first = 1;
    if (last <= 0) last = page_count;
    s.first = std::clamp(first, 1, page_count);
    s.last = std::clamp(last, 1, page_count);
    s.step = s.last < s.first ? -1 : 1;
    return s;
}

}  // namespace tv::fw
