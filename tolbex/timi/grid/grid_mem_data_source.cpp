#include "tolbex/timi/grid/grid_mem_data_source.h"

#include <algorithm>
#include <vector>

#include "common/text.h"

namespace tv {

GridMemDataSource::~GridMemDataSource() { GridMemDataSource::delete_all(); }

void GridMemDataSource::free_cells(RowNode* row) {
    for (CellNode* c = row->first; c;) {
        CellNode* next = c->next;
        delete c;
        c = next;
    }
    row->first = nullptr;
}

void GridMemDataSource::rewind_cells() {
    cell_ = row_ ? row_->first : nullptr;
    col_index_ = row_ ? row_->first_col : 0;
}

void GridMemDataSource::rewind_rows() {
    if (!row_) return;
    while (row_->prev) {
        row_ = row_->prev;
        --row_index_;
    }
    rewind_cells();
}

bool GridMemDataSource::goto_row(std::int32_t row) {
    if (!row_) return false;
    if (row == row_index_) {
        if (!cell_) rewind_cells();
        return true;
    }
    while (row_index_ < row && row_->next) {
        row_ = row_->next;
        ++row_index_;
    }
    while (row_index_ > row && row_->prev) {
        row_ = row_->prev;
        --row_index_;
    }
    rewind_cells();
    return row_index_ == row;
}

bool GridMemDataSource::goto_col(std::int32_t col) {
    if (!cell_) return false;
    while (col_index_ < col && cell_->next) {
        cell_ = cell_->next;
        ++col_index_;
    }
    while (col_index_ > col && cell_->prev) {
        cell_ = cell_->prev;
        --col_index_;
    }
    return col_index_ == col;
}

const GridCell* GridMemDataSource::cell_at(std::int32_t col, std::int32_t row) {
    if (!goto_row(row) || !goto_col(col)) return nullptr;
    return cell_->cell.get();
}

std::int32_t GridMemDataSource::get_num_rows() {
    if (!row_) return 0;
    while (row_->next) {
        row_ = row_->next;
        ++row_index_;
    }
    rewind_cells();
    return row_index_ < 0 ? 0 : row_index_ + 1;
}

int GridMemDataSource::insert_row(std::int32_t row) {
    if (!goto_row(row)) return 1;
    auto* node = new RowNode;
    node->next = row_;
    node->prev = row_->prev;
    if (row_->prev) row_->prev->next = node;
    row_->prev = node;
    ++row_index_;  // the cursor stays on the old row
    return 0;
}

int GridMemDataSource::insert_col(std::int32_t col) {
    if (!row_) return 1;
    std::int32_t at = col;
    GridSourceHost* host = grid();
    if (host) {
        const std::int32_t n = host->get_number_cols();
        for (std::int32_t i = 0; i < n; ++i) {
            if (host->get_col_data_column(i) == col) {
                at = i;
                break;
            }
        }
    }
    rewind_rows();
    for (RowNode* r = row_;; r = r->next) {
        row_ = r;
        rewind_cells();
        if (goto_col(at)) insert_cell_before(r);  // rows that end before the column stay
        if (!r->next) break;
        ++row_index_;
    }
    rewind_cells();
    if (host) {
        const std::int32_t n = host->get_number_cols();
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t d = host->get_col_data_column(i);
            if (d >= at) host->set_col_data_column(i, d + 1);
        }
    }
    return 0;
}

void GridMemDataSource::insert_cell_before(RowNode* r) {
    {
        auto* node = new CellNode;
        node->next = cell_;
        node->prev = cell_->prev;
        if (cell_->prev) {
            cell_->prev->next = node;
        } else {
            r->first = node;
        }
        cell_->prev = node;
    }
}

int GridMemDataSource::delete_row(std::int32_t row) {
    if (!goto_row(row)) return 0;
    RowNode* gone = row_;
    free_cells(gone);
    if (gone->prev) gone->prev->next = gone->next;
    if (gone->next) gone->next->prev = gone->prev;
    if (gone->next) {
        row_ = gone->next;  // same index
    } else if (gone->prev) {
        row_ = gone->prev;
        --row_index_;
    } else {
        row_ = nullptr;
        row_index_ = 0;
    }
    delete gone;
    rewind_cells();
    return 0;
}

int GridMemDataSource::delete_col(std::int32_t col) {
    if (!row_) return 1;
    rewind_rows();
    for (RowNode* r = row_;; r = r->next) {
        row_ = r;
        rewind_cells();
        if (goto_col(col)) {
            CellNode* node = cell_;
            node->cell.reset();
            if (node->next) {
                if (node->prev) {
                    node->prev->next = node->next;
                } else {
                    r->first = node->next;
                }
                node->next->prev = node->prev;
                delete node;
            }
        }
        if (!r->next) break;
        ++row_index_;
    }
    rewind_cells();
    if (GridSourceHost* host = grid()) {
        const std::int32_t n = host->get_number_cols();
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t d = host->get_col_data_column(i);
            if (d >= col) host->set_col_data_column(i, d - 1);
        }
    }
    return 0;
}

int GridMemDataSource::delete_cell(std::int32_t col, std::int32_t row) {
    if (!goto_row(row) || !goto_col(col) || !cell_->cell) return 1;
    cell_->cell.reset();
    return 0;
}

int GridMemDataSource::delete_all() {
    rewind_rows();
    while (row_) {
        RowNode* next = row_->next;
        free_cells(row_);
        delete row_;
        row_ = next;
    }
    row_index_ = 0;
    cell_ = nullptr;
    col_index_ = 0;
    return 0;
}

int GridMemDataSource::get_cell(std::int32_t col, std::int32_t row, GridCell& cell) {
    const GridCell* stored = cell_at(col, row);
    if (!stored) return 1;
    cell.add_from(*stored);
    return 0;
}

int GridMemDataSource::set_cell(std::int32_t col, std::int32_t row, const GridCell& cell) {
    if (!row_) {
        row_ = new RowNode;
        row_index_ = 0;
        rewind_cells();
    }
    if (!goto_row(row)) {
        while (row_index_ < row) {
            auto* node = new RowNode;
            node->prev = row_;
            row_->next = node;
            row_ = node;
            ++row_index_;
        }
        while (row_index_ > row) {
            auto* node = new RowNode;
            node->next = row_;
            row_->prev = node;
            row_ = node;
            --row_index_;
        }
        rewind_cells();
    }
    if (!row_->first) {
        row_->first = new CellNode;
        row_->first_col = 0;
        rewind_cells();
    }
    if (!goto_col(col)) {
        while (col_index_ < col) {
            auto* node = new CellNode;
            node->prev = cell_;
            cell_->next = node;
            cell_ = node;
            ++col_index_;
        }
        while (col_index_ > col) {
            auto* node = new CellNode;
            node->next = cell_;
            cell_->prev = node;
            cell_ = node;
            --col_index_;
            row_->first = node;
            row_->first_col = col_index_;
        }
    }
    if (!cell_->cell) cell_->cell = std::make_unique<GridCell>();
    cell_->cell->copy_from(cell);
    return 0;
}

int GridMemDataSource::find_first(const std::string& text, std::int32_t& col, std::int32_t& row, int flags) {
    if (flags & GRID_FIND_ALLCOLS) {
        col = -1;
        row = 0;
    } else {
        row = -1;
    }
    return find_next(text, col, row, flags);
}

int GridMemDataSource::find_next(const std::string& search, std::int32_t& col, std::int32_t& row, int flags) {
    GridSourceHost* host = grid();
    if (!host) return 1;
    const std::int32_t rows = host->get_number_rows();
    const std::int32_t cols = host->get_number_cols();
    if (rows <= 0 || cols <= 0) return 1;
    const std::int32_t last_row = rows - 1, last_col = cols - 1;
    const bool nocase = flags & GRID_FIND_NOCASE;
    const bool up = flags & GRID_FIND_UP;
    const bool all_cols = flags & GRID_FIND_ALLCOLS;
    const std::string text = nocase ? to_upper_copy(search) : search;  // the caller's text stays as it is
    const std::string text_upper = to_upper_copy(search);
    search_col_ = col;
    search_row_ = row;
    std::int32_t c = col, r = row;
    std::int64_t changes = 0;
    const auto next_row = [&] {
        r += up ? -1 : 1;
        if (r > last_row || r < 0) r = up ? last_row : 0;
        ++changes;
    };
    for (;;) {
        if (all_cols) {
            c += up ? -1 : 1;
            if (c > last_col || c < 0) {
                c = up ? last_col : 0;
                next_row();
            }
        } else {
            next_row();
        }
        if (changes > rows) return 1;  // every cell once, the starting one last
        if (!goto_row(r)) {
            if (all_cols) c = up ? 0 : last_col;  // the next step changes the row
            continue;
        }
        const GridCell* cell = goto_col(c) ? cell_->cell.get() : nullptr;
        if (!cell) continue;
        const std::string value = cell->get_text();
        bool match;
        if (flags & GRID_FIND_PARTIAL) {
            match = (nocase ? to_upper_copy(value) : value).find(text) != std::string::npos;
        } else {
            match = !value.empty() && to_upper_copy(value) == text_upper;
        }
        if (match) {
            col = search_col_ = c;
            row = search_row_ = r;
            return 0;
        }
    }
}

int GridMemDataSource::sort_rows(const std::int32_t* cols, int count, int flags) {
    if (!row_) return 1;
    GridSourceHost* host = grid();
    if (!host || !cols || count <= 0) return 1;
    if (!goto_row(0)) return 1;
    std::vector<RowNode*> rows;
    for (RowNode* r = row_; r; r = r->next) rows.push_back(r);
    RowNode* before = rows.front()->prev;
    // Key cells of every row, looked up once.
    std::vector<std::vector<const GridCell*>> keys(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (int k = 0; k < count; ++k) {
            const GridCell* found = nullptr;
            std::int32_t index = rows[i]->first_col;
            for (CellNode* n = rows[i]->first; n; n = n->next, ++index) {
                if (index == cols[k]) {
                    found = n->cell.get();
                    break;
                }
            }
            keys[i].push_back(found);
        }
    }
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const GridCell empty;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (int k = 0; k < count; ++k) {
            const int result =
                host->compare_cells(keys[a][k] ? keys[a][k] : &empty, keys[b][k] ? keys[b][k] : &empty, flags);
            if (result != 0) return result < 0;
        }
        return false;
    });
    RowNode* prev = before;
    for (std::size_t i : order) {
        RowNode* r = rows[i];
        r->prev = prev;
        if (prev) prev->next = r;
        prev = r;
    }
    prev->next = nullptr;
    row_ = rows[order.front()];
    row_index_ = 0;
    rewind_cells();
    return 0;
}

int GridMemDataSource::find_prev_non_blank(std::int32_t& col, std::int32_t row) {
    if (!goto_row(row) || !cell_) return 1;
    if (!goto_col(col)) {
        if (col_index_ > col || !cell_->cell) return 1;  // the row ends before the column: its last cell
    }
    for (;;) {
        if (col_index_ != col && cell_->cell && cell_->cell->get_text_length() > 0) {
            col = col_index_;
            return 0;
        }
        if (!cell_->prev || col_index_ <= 0) return 1;
        cell_ = cell_->prev;
        --col_index_;
    }
}

}  // namespace tv
