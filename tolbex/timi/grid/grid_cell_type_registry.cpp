#include "tolbex/timi/grid/grid_cell_type_registry.h"

#include <new>

namespace tv {

int GridCellTypeRegistry::grow() {
    try {
        slots_.resize(slots_.size() + 10);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

int GridCellTypeRegistry::add_type(GridCellType* type, std::int32_t user_value, const Id* id) {
    if (count_ >= get_capacity() && grow() != 0) return -1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.used) continue;
        s.used = true;
        s.type = type;
        s.user_value = user_value;
        if (id) s.id = *id;
        ++count_;
        return static_cast<int>(i);
    }
    return -1;
}

GridCellType* GridCellTypeRegistry::get_type(int index) const {
    if (index < 0 || index >= get_capacity() || !slots_[static_cast<std::size_t>(index)].used) return nullptr;
    return slots_[static_cast<std::size_t>(index)].type;
}

}  // namespace tv
