// One page of a formatted report: loaded from a page file (PAGE.<n>), a built-in page whose
// frame and header this program draws (the 12-lead contents), or a picture page that plays one
// or four metafiles into that frame. Annotations (user text items) belong to pages loaded from a
// page file, which keeps them: the other pages have nowhere to write them and take none.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/report_files.h"
#include "framework/core/draw_context.h"
#include "tolbex/reports/page_items.h"

namespace tv {

// The logical page box (200,200 x 286,000 µm / 32, plus 5 and 20) and its size at 100 %.
constexpr std::int32_t kPageBoxWidth = 6261;
constexpr std::int32_t kPageBoxHeight = 8957;
constexpr std::int32_t kPageViewportWidth = 800;
constexpr std::int32_t kPageViewportHeight = 1131;

// Strings of the built-in pages.
constexpr int kIdsPatientName = 1496, kIdsPatientNo = 1497, kIdsPage = 1498, kIdsStripsGroup = 1499,
              kIdsIntervalGroup = 1500, kIdsStGroup = 1501, kIdsTwelveLeadViews = 1502;
void register_report_page_strings();  // English defaults, once

// A 12-lead metafile of the report (emflist.dat), with its group (1 to 3).
struct EmfEntry {
    std::string name;
    std::string title;
    std::int32_t group = 0;
};

// "60"/"61" -> 1, "62" -> 2, "64" -> 3, else 0: the two characters before the first '.'.
std::int32_t metafile_group(std::string_view name);
// The legend strip: the name with its fifth character from the end set to '3' ("" when too short).
std::string legend_file_name(std::string_view name);
// Reads <folder>/emflist.dat: sorted by sample, titled "%d. %s %s", group 0 dropped, grouped
// 1, 2, 3. Empty when missing. Entries stop at the first bad length or short read; an unsafe name
// is left out. `problem` (when given) says what was left out of a list that is there: the whole
// list when it cannot be read or is shorter than its header, the entries after a cut, an unsafe
// name; it is left alone when nothing was.
std::vector<EmfEntry> read_emf_list(const ReportFolder& report_folder, std::string* problem = nullptr);
std::vector<EmfEntry> read_emf_list(const std::string& report_folder, std::string* problem = nullptr);

// PAGE.0 ... PAGE.(count - 1): count is the first n whose file is missing.
struct PageFileSet {
    ReportFolder folder;
    int count = 0;
    static PageFileSet enumerate(const ReportFolder& folder);
    static PageFileSet enumerate(const std::string& folder);
    // The existing name of page n (found without regard to case), else "PAGE.<n>".
    std::string name(int n) const;
    // folder's path joined with name(n).
    std::string path(int n) const;
};

class CReportPage {
public:
    enum class Kind { PageFile, BuiltIn };
    CReportPage() = default;
    CReportPage(const CReportPage&) = delete;
    CReportPage& operator=(const CReportPage&) = delete;

    // Loads the page file `name` of the report folder; nullptr when it cannot be read (`error`
    // says why). The page keeps the folder for the bitmaps it names.
    static std::unique_ptr<CReportPage> load(const ReportFolder& folder, const std::string& name, bool oem,
                                             std::string* error = nullptr);
    // The same for the page file at `path`.
    static std::unique_ptr<CReportPage> load(const std::string& path, bool oem, std::string* error = nullptr);
    // A built-in page holding the frame; `file_name` is kept as the page's name. Its metafiles
    // (a picture page's) are read from `folder`, by name.
    static std::unique_ptr<CReportPage> make_builtin(const std::string& file_name, const ReportFolder& folder = {});

    void add_header_texts(const std::string& patient_name, const std::string& patient_number, int page_number);
    void add_contents_line(const std::string& text, int& y);
    // Adds the title and the entries from `index` that fit; true when every entry is placed.
    bool fill_contents_page(const std::vector<EmfEntry>& entries, std::size_t& index);
    void add_picture_name(const std::string& path) { picture_names_.push_back(path); }
    void set_picture_page(bool on) { picture_page_ = on; }

    Kind kind() const { return kind_; }
    const std::string& file_name() const { return file_name_; }
    // Why the page file is not whole (page_items.h); "" when it is.
    const std::string& damage() const { return damage_; }
    std::size_t item_count() const { return items_.size(); }
    std::size_t picture_count() const { return picture_names_.size(); }
    const std::vector<std::string>& picture_names() const { return picture_names_; }
    bool is_picture_page() const { return picture_page_; }
    // The metafiles a picture page plays, in order: its one strip or interval picture, or the
    // legend strip and up to four pictures; none for other pages.
    std::vector<std::string> metafiles() const;
    // Whether a metafile reads as one (found without regard to case, as drawing finds it).
    bool can_read_metafile(const std::string& name) const;
    const PageItems& items() const { return items_; }
    std::int32_t first_annotation_index() const { return first_annotation_; }
    std::int64_t annotation_offset() const { return annotation_offset_; }
    bool is_modified() const { return modified_; }
    // The folder that holds the page file (bitmaps of shape 25 are read from it).
    std::string folder() const;
    const ReportFolder& report_folder() const { return folder_; }

    // Only a page file can keep annotations.
    bool keeps_annotations() const { return kind_ == Kind::PageFile; }
    // Annotations; indexes are item indexes. Out-of-range indexes do nothing; adding to a page
    // that cannot keep annotations adds nothing and returns -1.
    int add_annotation(const std::string& text, std::int32_t x, std::int32_t y);
    void replace_annotation_text(const std::string& text, int index);
    void delete_annotation(int index);
    std::string annotation_text(int index) const;
    int find_annotation(fw::DrawContext& dc, const PageFonts& fonts, std::int32_t x, std::int32_t y) const;

    // Draws on a context already mapped to the page box: pictures first, then every item.
    void draw(fw::DrawContext& dc, const PageFonts& fonts) const;
    // Writes the annotations back when modified. False when the write failed, or when the page
    // cannot keep annotations yet has changes (the page stays modified).
    bool save(bool oem, std::string* error = nullptr);
    void write_rtf(RtfWriter& out) const;

private:
    void add_item(std::unique_ptr<PageItem> item);
    void draw_pictures(fw::DrawContext& dc) const;

    Kind kind_ = Kind::PageFile;
    std::string file_name_, damage_;
    std::int32_t first_annotation_ = -1;
    std::int64_t annotation_offset_ = -1;
    bool modified_ = false;
    bool picture_page_ = false;
    std::vector<std::string> picture_names_;
    ReportFolder folder_;
    PageItems items_;
};

// Maps `dc` so that the page box fills the device rectangle `device` (printing without true
// scale, and the bitmaps).
void map_page_to_device(fw::DrawContext& dc, const fw::Rc& device);

}  // namespace tv
