#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "framework/core/recording_draw_context.h"
#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_page.h"
#include "tolbex/reports/tests/page_test_support.h"

namespace tv {
namespace {

using testing::hex;
using testing::words;

void write_file(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(platform::atomic_write_file(path, bytes));
}
std::string read_file(const std::string& path) { return platform::read_whole_file(path).value_or("<missing>"); }

// This test program saves a note on the page its environment names, before any test runs: the
// save under test in a process of its own that can be stopped and killed at any step.
const bool g_note_save_child = [] {
    const char* page_path = std::getenv("TV_TEST_NOTE_SAVE");
    if (!page_path) return false;
    auto page = CReportPage::load(page_path, false);
    if (page) page->add_annotation("Killed", 1, 1);
    std::_Exit(page && page->save(false) ? 0 : 3);
}();

// The names in `dir` that begin with `prefix`.
std::vector<std::string> names_with(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().starts_with(prefix)) names.push_back(e.path().filename().string());
    return names;
}

TEST(PageRecords, AnnotationAndMarkerBytes) {
    EXPECT_EQ(hex(annotation_marker_record()),
              "1d 00 00 00 ad 00 00 00 56 00 00 00 64 00 00 00 3f 00 00 00 e0 ff ff ff e0 ff ff ff 01 00 00 00 20");
    EXPECT_EQ(hex(PageItem::make_text("Hi", 100, 200)->record_bytes(false)),
              "1e 00 00 00 ad 00 00 00 56 00 00 00 64 00 00 00 3f 00 00 00 80 0c 00 00 00 19 00 00 02 00 00 00 48 69");
    // Only text items write records.
    EXPECT_EQ(PageItem::from_record(PageRecordKind::Polyline, words({0}), false)->record_bytes(false), "");
}

TEST(PageRecords, EveryTypeReadsAsTheFormatSays) {
    std::string f;
    f += testing::label_record();
    f += make_page_record(PageRecordKind::Clip, words({64, 6400, -31, -64}));
    f += make_page_record(PageRecordKind::Shape, words({6, 99, 320, 640, 960, 1280}));
    f += make_page_record(PageRecordKind::Band, words({1, 2, 3, 32, 64, 96, 3, 320, 640, 960}));
    f += make_page_record(PageRecordKind::Trace,
                          words({1 << 30, 3200, 6400, 320, 1}) + std::string("\x10\x00\x00\x00", 4));
    f += make_page_record(PageRecordKind::Polyline, words({3, 320, 640, INT32_MIN, 640, 960, INT32_MIN}));
    f += make_page_record(PageRecordKind::Text, words({3200, 6400, 6}) + std::string("\x1b\x03H\0i!", 6));
    f += make_page_record(PageRecordKind::DotRows, words({8, 0, 0, 3200, 4, -47, -48, 15, 16}));
    f += make_page_record(PageRecordKind::DotColumns, words({8, 0, 0, 3200, 3, -31, 31, -32}));
    f += make_page_record(PageRecordKind::DottedPolyline, words({3, 32, 64, INT32_MIN, 0, 32, 65536 * 32}));
    f += make_page_record(PageRecordKind{99}, words({1, 2}));
    const auto c = parse_page_file(f, false);
    ASSERT_EQ(c.items.size(), 11u);
    EXPECT_EQ(c.first_annotation_index, -1);
    EXPECT_EQ(c.annotation_offset, -1);
    const auto& label = std::get<LabelData>(c.items[0]->data());
    EXPECT_EQ(label.code, 1);
    EXPECT_EQ(label.bytes, "abc");
    const auto& clip = std::get<ClipData>(c.items[1]->data());
    EXPECT_EQ(clip.left, 2);
    EXPECT_EQ(clip.right, 200);
    EXPECT_EQ(clip.top, 0);  // truncated toward zero
    EXPECT_EQ(clip.bottom, -2);
    const auto& shape = std::get<ShapeData>(c.items[2]->data());
    EXPECT_EQ(shape.code, 6u);
    EXPECT_EQ(shape.x1, 10);
    EXPECT_EQ(shape.y2, 40);
    EXPECT_EQ(std::get<BandData>(c.items[3]->data()).values, (std::vector<std::int32_t>{10, 20, 30}));
    const auto& trace = std::get<TraceData>(c.items[4]->data());
    EXPECT_EQ(trace.x0, 100);
    EXPECT_EQ(trace.samples, (std::vector<std::uint16_t>{0x10}));  // count clamped to the payload
    const auto& poly = std::get<PolylineData>(c.items[5]->data()).points;
    ASSERT_EQ(poly.size(), 3u);
    EXPECT_EQ(poly[1], (fw::Pt{INT32_MIN, 20}));  // the pen-up mark is kept undivided
    EXPECT_EQ(poly[2], (fw::Pt{30, INT32_MIN}));
    auto text = c.items[6]->text();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text, "\x1b\x03Hi!");  // prefix kept, NUL dropped
    EXPECT_EQ(text_size_code(text->text), kTextMedium);
    EXPECT_EQ(std::get<DotsData>(c.items[7]->data()).positions, (std::vector<std::int32_t>{0, -1, 0, 1}));
    EXPECT_EQ(std::get<DotsData>(c.items[8]->data()).positions, (std::vector<std::int32_t>{0, 0, -1}));
    const auto& dotted = std::get<PolylineData>(c.items[9]->data()).points;
    ASSERT_EQ(dotted.size(), 2u);  // the last point lies beyond 65,535 units
    EXPECT_EQ(dotted[1], (fw::Pt{kDividedPenUp, 0}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(c.items[10]->data()));
}

TEST(PageRecords, MarkerSeparatesAnnotations) {
    const std::string before = testing::hline_record(0, 3200, 3200);
    const std::string f = before + annotation_marker_record() + testing::text_record(3200, 3200, "note") +
                          testing::text_record(-31, -31, " ");
    const auto c = parse_page_file(f, false);
    ASSERT_EQ(c.items.size(), 3u);
    EXPECT_EQ(c.first_annotation_index, 1);
    EXPECT_EQ(c.annotation_offset, static_cast<std::int64_t>(before.size()));
    // The same text at (-31, -31) is an ordinary item at (0, 0).
    EXPECT_EQ(c.items[2]->text()->x, 0);
    EXPECT_FALSE(c.items[2]->is_annotation_marker());
}

TEST(PageRecords, HostileFilesAreRefusedWithoutOverrun) {
    const std::string good = testing::text_record(32, 32, "ok");
    // A length below 16 ends the page; what came before is kept.
    auto c = parse_page_file(good + words({15, 0, 0, 0, 63}) + good, false);
    EXPECT_EQ(c.items.size(), 1u);
    // A payload over 4096 bytes is stepped over.
    c = parse_page_file(make_page_record(PageRecordKind::Text, std::string(5000, 'x')) + good, false);
    EXPECT_EQ(c.items.size(), 1u);
    // A length past the end of the file ends the page.
    c = parse_page_file(good + words({0xFFFFFFF0u, 0, 0, 0, 63}) + "abc", false);
    EXPECT_EQ(c.items.size(), 1u);
    // Truncated headers and empty payloads.
    c = parse_page_file(good + std::string("\x10\0\0", 3), false);
    EXPECT_EQ(c.items.size(), 1u);
    c = parse_page_file(make_page_record(PageRecordKind::Text, "") + good, false);
    EXPECT_EQ(c.items.size(), 1u);
    // Huge counts are clamped to the payload, in every counted type.
    for (std::int32_t type : {17, 57, 59, 62, 63, 64, 65, 70}) {
        std::string payload = words(
            {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu});
        auto item = PageItem::from_record(PageRecordKind{type}, payload, false);
        fw::RecordingDrawContext dc;
        map_page_to_device(dc, {0, 0, 2496, 3520});
        PageDrawState state;
        item->draw(dc, default_page_fonts(), state);  // must not read past the payload
        SCOPED_TRACE(type);
        if (PageRecordKind{type} == PageRecordKind::Text) {
            EXPECT_LE(item->text()->text.size(), payload.size());
        }
    }
    // Short payloads give items with no data.
    for (std::int32_t type : {17, 35, 56, 57, 59, 62, 63, 64, 65, 70})
        EXPECT_TRUE(
            std::holds_alternative<std::monostate>(PageItem::from_record(PageRecordKind{type}, "ab", false)->data()));
    // Type 70 with no points, and type 57 with fewer than three values, draw nothing.
    fw::RecordingDrawContext dc;
    PageDrawState state;
    PageItem::from_record(PageRecordKind::DottedPolyline, words({0}), false)->draw(dc, default_page_fonts(), state);
    PageItem::from_record(PageRecordKind::Band, words({0, 0, 0, 0, 0, 0, 2, 5, 6}), false)
        ->draw(dc, default_page_fonts(), state);
    for (const auto& line : dc.commands()) EXPECT_EQ(line.find("line"), std::string::npos) << line;
}

TEST(PageRecords, ShapeBitmapNamesStayInTheFolder) {
    auto name_of = [](const std::string& tail) {
        auto item = PageItem::from_record(PageRecordKind::Shape, words({25, 0, 0, 0, 32, 32}) + tail, false);
        return std::get<ShapeData>(item->data()).file_name;
    };
    EXPECT_EQ(name_of(std::string("logo.bmp\0junk", 13)), "logo.bmp");
    EXPECT_EQ(name_of("noterminator.bmp"), "noterminator.bmp");
    EXPECT_EQ(name_of(std::string("../secret\0", 10)), "");
    EXPECT_EQ(name_of(std::string("/etc/passwd\0", 12)), "");
    EXPECT_EQ(name_of(std::string("..\\x.bmp\0", 9)), "");
    EXPECT_EQ(name_of(std::string("..\0", 3)), "");
}

TEST(PageRecords, DotGridCodeIsRememberedWithinOnePageOnly) {
    std::int64_t last = -1;
    EXPECT_EQ(dot_grid_step(16, 1000, last), 1024000);
    EXPECT_EQ(dot_grid_step(13, 0, last), 1024000);
    EXPECT_EQ(dot_grid_step(16, 1000, last), 2048000);
    EXPECT_EQ(dot_grid_step(15, 0, last), 682666);
    EXPECT_EQ(dot_grid_step(16, 999, last), 1024000);
    EXPECT_EQ(dot_grid_step(3, 0, last), 512000);
    // Two draws of the same page record the same commands whatever was drawn in between.
    auto page_with = [](std::uint32_t code) {
        return make_page_record(PageRecordKind::DotRows, words({code, 1000, 0, 320, 1, 320}));
    };
    auto p13 = parse_page_file(page_with(13), false);
    auto p16 = parse_page_file(page_with(16), false);
    fw::RecordingDrawContext a, b;
    PageDrawState s1, s2, s3;
    p16.items[0]->draw(a, default_page_fonts(), s1);
    p13.items[0]->draw(b, default_page_fonts(), s2);
    b.clear();
    p16.items[0]->draw(b, default_page_fonts(), s3);
    EXPECT_EQ(a.commands(), b.commands());
}

TEST(PageRecords, OemTextReadsAndWritesBack) {
    const std::string raw = std::string(
        "a\xf3"
        "b\xf2"
        "c\x82",
        6);
    auto item = PageItem::from_record(PageRecordKind::Text, words({0, 0, 6}) + raw, true);
    EXPECT_EQ(item->text()->text, "a<=b>=c\xe9");
    const std::string rec = item->record_bytes(true);
    EXPECT_EQ(rec.substr(32), "a<=b>=c\x82");
}

class PageFileTest : public ::testing::Test {
protected:
    platform::testing::TempRoot root;
    std::string dir = root.path();
    std::string path = dir + "/PAGE.1";
};

TEST_F(PageFileTest, AnnotationSavesAppendOnceAndCutBack) {
    const std::string original = testing::label_record() + testing::hline_record(0, 200352, 3200);
    write_file(path, original);
    auto page = CReportPage::load(path, false);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->item_count(), 2u);
    const std::string hi = PageItem::make_text("Hi", 100, 200)->record_bytes(false);
    page->add_annotation("Hi", 100, 200);
    ASSERT_TRUE(page->save(false));
    EXPECT_EQ(read_file(path), original + annotation_marker_record() + hi);
    EXPECT_FALSE(page->is_modified());
    EXPECT_EQ(page->annotation_offset(), static_cast<std::int64_t>(original.size()));

    // A second save in the same session rewrites from the marker: one marker, two texts.
    page->add_annotation(
        "\x1b\x01"
        "Big",
        300, 400);
    ASSERT_TRUE(page->save(false));
    const std::string big = PageItem::make_text(
                                "\x1b\x01"
                                "Big",
                                300, 400)
                                ->record_bytes(false);
    EXPECT_EQ(read_file(path), original + annotation_marker_record() + hi + big);

    auto again = CReportPage::load(path, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->item_count(), 4u);
    EXPECT_EQ(again->first_annotation_index(), 2);
    EXPECT_EQ(again->annotation_text(3),
              "\x1b\x01"
              "Big");
    // Replacing keeps the place and position.
    again->replace_annotation_text("Bye", 2);
    EXPECT_EQ(again->items()[2]->text()->x, 100);
    EXPECT_EQ(again->annotation_text(2), "Bye");
    // Items that came with the report cannot be changed.
    again->delete_annotation(1);
    EXPECT_EQ(again->item_count(), 4u);
    again->delete_annotation(3);
    again->delete_annotation(2);
    EXPECT_EQ(again->first_annotation_index(), -1);
    ASSERT_TRUE(again->save(false));
    EXPECT_EQ(read_file(path), original + annotation_marker_record());
}

// A note save killed after writing its temporary: while it is stopped another save waits for it
// and leaves the temporary; once it is killed the next save clears it and saves.
TEST_F(PageFileTest, AKilledNoteSaveIsClearedByTheNextSave) {
    if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is needed";
    const std::string original = testing::hline_record(0, 3200, 3200);
    write_file(path, original);
    const pid_t tracer = ::fork();
    if (tracer == 0) {
        ::setenv("TV_TEST_NOTE_SAVE", path.c_str(), 1);
        ::setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1", 1);  // no leak check under a tracer
        std::vector<std::string> args = {"/usr/bin/strace",
                                         "-qq",
                                         "-o",
                                         "/dev/null",
                                         "-e",
                                         "trace=fsync",
                                         "-e",
                                         "inject=fsync:signal=STOP:when=1",
                                         "--",
                                         "/proc/self/exe"};
        args.back() = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // The saver, stopped at the flush of its whole temporary.
    auto saver_stopped = [&]() -> pid_t {
        std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) + "/children");
        pid_t pid = 0;
        if (!(children >> pid)) return 0;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        const char state = close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
        return state == 't' || state == 'T' ? pid : 0;
    };
    pid_t saver = 0;
    int status = 0;
    for (int i = 0; i < 6000 && !saver; ++i) {
        ASSERT_NE(::waitpid(tracer, &status, WNOHANG), tracer) << "the save ended without stopping";
        if (!names_with(dir, ".PAGE.1.tmp.").empty()) saver = saver_stopped();
        if (!saver) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(saver, 0);
    // Still stopped a moment later: held by the signal, not at a traced call.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(saver_stopped(), saver);
    auto page = CReportPage::load(path, false);
    ASSERT_TRUE(page);
    page->add_annotation("After", 2, 2);
    std::string error;
    EXPECT_FALSE(page->save(false, &error));
    EXPECT_NE(error.find("being saved by another program"), std::string::npos) << error;
    EXPECT_EQ(names_with(dir, ".PAGE.1.tmp.").size(), 1u);
    ::kill(saver, SIGKILL);
    ASSERT_EQ(::waitpid(tracer, &status, 0), tracer);
    EXPECT_EQ(read_file(path), original);
    ASSERT_EQ(names_with(dir, ".PAGE.1.tmp.").size(), 1u);
    ASSERT_TRUE(page->save(false, &error)) << error;
    EXPECT_TRUE(names_with(dir, ".PAGE.1.tmp.").empty());
    EXPECT_EQ(read_file(path),
              original + annotation_marker_record() + PageItem::make_text("After", 2, 2)->record_bytes(false));
}

TEST_F(PageFileTest, ReadOnlyPageIsLeftAlone) {
    const std::string original = testing::hline_record(0, 3200, 3200);
    write_file(path, original);
    auto page = CReportPage::load(path, false);
    ASSERT_TRUE(page);
    ::chmod(path.c_str(), 0444);
    page->add_annotation("x", 1, 1);
    std::string error;
    if (::geteuid() != 0) {
        EXPECT_FALSE(page->save(false, &error));
        EXPECT_TRUE(page->is_modified());
        EXPECT_EQ(read_file(path), original);
    }
    EXPECT_FALSE(CReportPage::load(dir + "/PAGE.9", false, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(PageFileTest, OemPageSavesLessOrEqualAsTwoCharacters) {
    write_file(path, make_page_record(PageRecordKind::Text, words({0, 0, 1}) + "\xf3"));
    auto page = CReportPage::load(path, true);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->annotation_text(0), "<=");
    page->add_annotation("<=", 10, 10);
    ASSERT_TRUE(page->save(true));
    auto again = CReportPage::load(path, true);
    EXPECT_EQ(again->annotation_text(1), "<=");
}

TEST(PageDrawing, GoldenRecordingOfOnePage) {
    std::string f;
    f += make_page_record(PageRecordKind::Clip, words({0, 3200, 0, 3200}));
    f += make_page_record(PageRecordKind::Polyline, words({4, 0, 3200, 3200, 3200, INT32_MIN, 0, 6400, 6400}));
    f += testing::text_record(3200, 6400, "Hello");
    f += make_page_record(PageRecordKind::DotColumns, words({3, 0, 0, 64, 1, 640}));
    f += make_page_record(PageRecordKind::Shape, words({8, 0, 320, 320, 640, 640}));
    f += make_page_record(PageRecordKind::Shape, words({11, 0, 320, 320, 320, 3200}));
    f += make_page_record(PageRecordKind::Trace, words({1 << 30, 0, 3200, 0, 2}) + std::string("\x00\x04\x00\x08", 4));
    CReportPage page;
    const auto c = parse_page_file(f, false);
    fw::RecordingDrawContext dc;
    map_page_to_device(dc, {0, 0, 2496, 3520});
    PageDrawState state;
    for (const auto& item : c.items) item->draw(dc, default_page_fonts(), state);
    // Device = round(logical * 2496 / 6261), round(logical * 3520 / 8957). The dot column has a
    // step of 7.8 units over 0..2, so one dot; the trace's s is 2,752,512.
    const std::string expected =
        "clip (0,0,41,39)\n"
        "polyline (0,39)(40,39)\n"
        "pixel (40,39) #000000\n"
        "pixel (80,79) #000000\n"
        "font Times New Roman/102/400\n"
        "text (40,79) \"Hello\"\n"
        "font Times New Roman/102/400\n"
        "pixel (8,0) #000000\n"
        "fill hatch #000000\n"
        "pen null #000000 w1\n"
        "rect (4,4,9,9)\n"
        "pen solid #000000 w1\n"
        "fill null #000000\n"
        "pen solid #bfbfbf w1\n"
        "line (4,4)-(4,39)\n"
        "pen solid #000000 w1\n"
        "polyline (0,567)(1,1096)";
    EXPECT_EQ(dc.joined(), expected);
}

}  // namespace
}  // namespace tv
