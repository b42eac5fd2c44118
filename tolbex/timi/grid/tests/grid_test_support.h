// A grid of text cells laid out like a small window, with an editor and a clock the tests drive.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv::gridtest {

class FakeEditor : public GridEditor {
public:
    void set_text(const std::string& t) override { text_ = t; }
    std::string text() const override { return text_; }
    void set_mask(const std::string& m) override { mask = m; }
    void set_font(const fw::Font*) override {}
    void place(int s, const fw::Rc& r) override {
        section = s;
        rect = r;
    }
    void show() override { shown = true; }
    void hide() override { shown = false; }
    void type_char(int ch) override { text_ = std::string(1, static_cast<char>(ch)); }
    std::string text_, mask;
    int section = 0;
    fw::Rc rect{};
    bool shown = false;
};

class FakeClock : public GridClock {
public:
    std::int64_t now_ms() const override { return now; }
    std::int64_t now = 1000;
};

// Records the notifications a user's actions cause.
class RecordingGrid : public GridCtrl {
public:
    void on_cell_change(std::int32_t oc, std::int32_t orow, std::int32_t nc, std::int32_t nr) override {
        log.push_back("cell " + std::to_string(oc) + "," + std::to_string(orow) + "->" + std::to_string(nc) + "," +
                      std::to_string(nr));
    }
    void on_top_row_change(std::int32_t o, std::int32_t n) override {
        log.push_back("top " + std::to_string(o) + "->" + std::to_string(n));
    }
    int can_move(std::int32_t, std::int32_t, std::int32_t nc, std::int32_t nr) override {
        return !(nc == refuse_col && nr == refuse_row);
    }
    int on_cell_type_notify(int type, std::int32_t c, std::int32_t r, int msg, long value) override {
        log.push_back("notify " + std::to_string(type) + " " + std::to_string(c) + "," + std::to_string(r) + " " +
                      std::to_string(msg) + "=" + std::to_string(value));
        return 1;
    }
    void on_not_found() override { log.push_back("Item not found"); }
    void on_col_sized(std::int32_t c, std::int32_t* w) override {
        log.push_back("col sized " + std::to_string(c) + "=" + std::to_string(*w));
    }
    void on_row_sizing_end(std::int32_t r, std::int32_t* h) override {
        log.push_back("row sized " + std::to_string(r) + "=" + std::to_string(*h));
    }
    void on_heading_sizing_end(std::int32_t h) override { log.push_back("heading " + std::to_string(h)); }
    void on_side_heading_sizing_end(std::int32_t w) override { log.push_back("side " + std::to_string(w)); }
    void on_col_dropped(std::int32_t c, std::int32_t t) override {
        log.push_back("dropped " + std::to_string(c) + "->" + std::to_string(t));
    }
    void on_th_lclicked(std::int32_t c, std::int32_t r, bool down, const fw::Rc&, fw::Pt, int) override {
        log.push_back(std::string("top ") + (down ? "down " : "up ") + std::to_string(c) + "," + std::to_string(r));
    }
    void on_sh_lclicked(std::int32_t c, std::int32_t r, bool down, const fw::Rc&, fw::Pt, int) override {
        log.push_back(std::string("side ") + (down ? "down " : "up ") + std::to_string(c) + "," + std::to_string(r));
    }
    void on_paint_section(fw::DrawContext&, int section) override { log.push_back("paint " + std::to_string(section)); }
    void on_corner_lclicked(bool down, const fw::Rc&, fw::Pt, int sized) override {
        log.push_back(std::string("corner ") + (down ? "down " : "up ") + std::to_string(sized));
    }
    std::vector<std::string> log;
    std::int32_t refuse_col = -1, refuse_row = -1;
};

// 8 columns x 100 rows of "c,r" texts in a 400 x 236 window: a 344 x 200 cell area showing
// rows of 20 and columns of 75 pixels, both scroll bars shown.
struct GridFixture : ::testing::Test {
    void SetUp() override {
        grid.set_num_cols(8);
        grid.set_num_rows(100);
        for (std::int32_t r = 0; r < 100; ++r)
            for (std::int32_t c = 0; c < 8; ++c) grid.set_cell_text(c, r, std::to_string(c) + "," + std::to_string(r));
        grid.layout(400, 236);
        grid.set_editors(&editor, &masked);
        grid.set_clock(&clock);
    }
    void keys(std::initializer_list<int> ks) {
        for (int k : ks) {
            grid.key_down(k);
            grid.key_up(k);
        }
    }
    std::pair<int, int> cursor() const { return {grid.get_current_col(), grid.get_current_row()}; }

    RecordingGrid grid;
    FakeEditor editor, masked;
    FakeClock clock;
};

}  // namespace tv::gridtest
