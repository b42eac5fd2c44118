// Turns the small integer of a cell's cell-type property into the type that draws and edits the
// cell. Slots are handed out from index 0, never given back, and the table grows by 10; the
// registry borrows the types.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace tv {

class GridCellType;

class GridCellTypeRegistry {
public:
    using Id = std::array<std::uint32_t, 4>;
    // The slot's index, or -1 when the table could not grow.
    int add_type(GridCellType* type, std::int32_t user_value, const Id* id = nullptr);
    // None for an index outside the table or a free slot.
    GridCellType* get_type(int index) const;
    int get_count() const { return count_; }
    int get_capacity() const { return static_cast<int>(slots_.size()); }
    // 0, or 1 when memory ran out (the registry is unchanged).
    int grow();

private:
    struct Slot {
        bool used = false;
        GridCellType* type = nullptr;
        std::int32_t user_value = 0;
        Id id{};
    };
    std::vector<Slot> slots_;
    int count_ = 0;
};

}  // namespace tv
