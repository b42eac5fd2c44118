#include "tolbex/reports/report_page.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <span>

#include "common/report_files.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/rtf_export.h"

namespace tv {
namespace {

const StringEntry kPageStrings[] = {
    {kIdsPatientName, "Patient Name :"},
    {kIdsPatientNo, "Patient No :"},
    {kIdsPage, "Page "},
    {kIdsStripsGroup, "12-lead Strips"},
    {kIdsIntervalGroup, "12-lead Interval Measurements"},
    {kIdsStGroup, "12-lead ST Measurements"},
    {kIdsTwelveLeadViews, "12-lead Views"},
};

// A polyline payload from points in hundredths of a centimetre (100 fine units each).
std::string polyline_payload(std::initializer_list<std::pair<int, int>> cm100) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(cm100.size()));
    for (auto [x, y] : cm100) {
        append_le32(p, static_cast<std::uint32_t>(x * 100));
        append_le32(p, static_cast<std::uint32_t>(y * 100));
    }
    return p;
}

std::string group_heading(std::int32_t group) {
    switch (group) {
        case 1: return load_resource_string(kIdsStripsGroup);
        case 2: return load_resource_string(kIdsIntervalGroup);
        case 3: return load_resource_string(kIdsStGroup);
        default: return {};
    }
}

// The sample number between the first and second '-' of a metafile name; 0 without one.
std::int64_t metafile_sample(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos) return 0;
    const std::string_view digits = name.substr(dash + 1);
    if (digits.empty() || digits[0] < '0' || digits[0] > '9') return 0;
    return parse_integer(digits, 0, std::int64_t{1} << 40).value;
}

// emflist.dat and the legend rule give names whose case need not match the files on disk.
// A page made without its folder reads the metafile's own folder, as it is found now.
std::optional<EmfFile> load_metafile(const ReportFolder& folder, const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::string name;
    const ReportFolder own = folder.is_open() ? ReportFolder() : folder_of_file(path, name);
    auto bytes = (folder.is_open() ? folder : own).read(get_path_file_name(path), ReportFileKind::Metafile);
    if (!bytes) return std::nullopt;
    return EmfFile::parse(std::move(*bytes));
}

}  // namespace

void register_report_page_strings() {
    static std::once_flag once;
    std::call_once(once, [] { register_string_table(kPrimaryLanguageEnglish, kPageStrings, std::size(kPageStrings)); });
}

std::int32_t metafile_group(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot < 2) return 0;
    const std::string_view g = name.substr(dot - 2, 2);
    if (g == "60" || g == "61") return 1;
    if (g == "62") return 2;
    if (g == "64") return 3;
    return 0;
}

std::string legend_file_name(std::string_view name) {
    if (name.size() < 5) return {};
    std::string s(name);
    s[s.size() - 5] = '3';
    return s;
}

std::vector<EmfEntry> read_emf_list(const std::string& report_folder, std::string* problem) {
    return read_emf_list(ReportFolder(report_folder), problem);
}

std::vector<EmfEntry> read_emf_list(const ReportFolder& report_folder, std::string* problem) {
    std::vector<EmfEntry> out;
    auto list_name = report_folder.find("emflist.dat");
    if (!list_name) return out;
    const std::string path = report_folder.path_of(*list_name);
    auto bytes = report_folder.read(*list_name, ReportFileKind::EmfList);
    if (!bytes || bytes->size() < 64) {
        if (problem)
            *problem = (bytes ? "The metafile list is too short: " : "The metafile list cannot be read: ") + path;
        return out;
    }
    const std::string& b = *bytes;
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    std::tm start{};
    start.tm_sec = static_cast<unsigned char>(b[19]);
    start.tm_min = static_cast<unsigned char>(b[20]);
    start.tm_hour = static_cast<unsigned char>(b[21]);
    start.tm_mday = static_cast<unsigned char>(b[22]);
    start.tm_mon = static_cast<unsigned char>(b[23]) - 1;
    start.tm_year = static_cast<unsigned char>(b[24]) + 100;
    const std::time_t start_time = timegm(&start);
    const unsigned count = load_le16(data, 25);

    struct Raw {
        std::string name, description;
        std::int64_t sample;
    };
    std::vector<Raw> raw;
    std::size_t pos = 64;
    unsigned read = 0;
    for (; read < count; ++read) {
        if (b.size() - pos < 2) break;
        const unsigned l = load_le16(data, pos);
        pos += 2;
        if (l >= 260 || b.size() - pos < l) break;
        std::string name = b.substr(pos, l);
        pos += l;
        if (b.size() - pos < 2) break;
        const unsigned m = load_le16(data, pos);
        pos += 2;
        if (b.size() - pos < m) break;
        std::string description = b.substr(pos, m);
        pos += m;
        // The names are joined to the report folder: plain names only.
        if (!is_safe_path_component(name) || name.find('\\') != std::string::npos) {
            if (problem) *problem = "The metafile list names a file outside the report: " + path;
            continue;
        }
        const std::int64_t sample = metafile_sample(name);
        raw.push_back({std::move(name), std::move(description), sample});
    }
    if (read < count && problem)
        *problem = format_string("The metafile list ends after %u of its %u entries: ", read, count) + path;
    std::stable_sort(raw.begin(), raw.end(), [](const Raw& a, const Raw& c) { return a.sample < c.sample; });
    int numbers[4] = {0, 0, 0, 0};
    std::vector<EmfEntry> by_group[4];
    for (Raw& r : raw) {
        const std::int32_t g = metafile_group(r.name);
        if (g == 0) continue;
        const std::time_t t = start_time + static_cast<std::time_t>(r.sample / 128);
        std::tm tm{};
        char when[64] = "";
        if (gmtime_r(&t, &tm)) std::strftime(when, sizeof when, "%X %x", &tm);
        EmfEntry e;
        e.group = g;
        e.title = format_string("%d. %s %s", ++numbers[g], when, r.description.c_str());
        e.name = std::move(r.name);
        by_group[g].push_back(std::move(e));
    }
    for (int g = 1; g <= 3; ++g)
        for (EmfEntry& e : by_group[g]) out.push_back(std::move(e));
    return out;
}

PageFileSet PageFileSet::enumerate(const std::string& folder) { return enumerate(ReportFolder(folder)); }

PageFileSet PageFileSet::enumerate(const ReportFolder& folder) {
    PageFileSet set;
    set.folder = folder;
    // One listing, not one search of the folder a page.
    const std::vector<std::string> names = folder.names();
    auto has = [&](const std::string& wanted) {
        for (const std::string& n : names)
            if (platform::iequals(n, wanted)) return true;
        return false;
    };
    while (has("PAGE." + std::to_string(set.count))) ++set.count;
    return set;
}

std::string PageFileSet::name(int n) const {
    const std::string wanted = "PAGE." + std::to_string(n);
    return folder.find(wanted).value_or(wanted);
}

std::string PageFileSet::path(int n) const { return folder.path_of(name(n)); }

std::unique_ptr<CReportPage> CReportPage::load(const std::string& path, bool oem, std::string* error) {
    std::string name;
    const ReportFolder folder = folder_of_file(path, name);
    return load(folder, name, oem, error);
}

std::unique_ptr<CReportPage> CReportPage::load(const ReportFolder& folder, const std::string& name, bool oem,
                                               std::string* error) {
    auto page = std::make_unique<CReportPage>();
    page->folder_ = folder;
    auto contents = read_page_file(folder, name, oem, page.get(), error);
    if (!contents) return nullptr;
    page->kind_ = Kind::PageFile;
    page->file_name_ = folder.path_of(name);
    page->items_ = std::move(contents->items);
    page->first_annotation_ = contents->first_annotation_index;
    page->damage_ = std::move(contents->damage);
    page->annotation_offset_ = contents->annotation_offset;
    if (page->first_annotation_ >= static_cast<std::int32_t>(page->items_.size())) page->first_annotation_ = -1;
    return page;
}

std::unique_ptr<CReportPage> CReportPage::make_builtin(const std::string& file_name, const ReportFolder& folder) {
    register_report_page_strings();
    auto page = std::make_unique<CReportPage>();
    page->kind_ = Kind::BuiltIn;
    page->file_name_ = file_name;
    page->folder_ = folder;
    CReportPage* p = page.get();
    p->add_item(PageItem::from_record(PageRecordKind::Polyline,
                                      polyline_payload({{0, 0},
                                                        {2000, 0},
                                                        {2000, 2830},
                                                        {1940, 2830},
                                                        {1940, 2850},
                                                        {1700, 2850},
                                                        {1700, 2830},
                                                        {210, 2830},
                                                        {210, 2850},
                                                        {60, 2850},
                                                        {60, 2830},
                                                        {0, 2830},
                                                        {0, 0}}),
                                      false, p));
    p->add_item(PageItem::from_record(PageRecordKind::Polyline,
                                      polyline_payload({{10, 10},
                                                        {1990, 10},
                                                        {1990, 2820},
                                                        {1940, 2820},
                                                        {1940, 2800},
                                                        {1700, 2800},
                                                        {1700, 2820},
                                                        {210, 2820},
                                                        {210, 2800},
                                                        {60, 2800},
                                                        {60, 2820},
                                                        {10, 2820},
                                                        {10, 10}}),
                                      false, p));
    std::string logo;
    for (std::uint32_t v : {5u, 0u, 8200u, 280600u, 21000u, 284600u}) append_le32(logo, v);
    p->add_item(PageItem::from_record(PageRecordKind::Shape, logo, false, p));
    p->add_item(PageItem::from_record(PageRecordKind::Polyline, polyline_payload({{10, 110}, {1990, 110}}), false, p));
    p->add_item(PageItem::make_text(load_resource_string(kIdsPatientName), 100, 200, p));
    p->add_item(PageItem::make_text(load_resource_string(kIdsPatientNo), 3000, 200, p));
    p->add_item(PageItem::make_text(load_resource_string(kIdsPage), 5450, 8860, p));
    return page;
}

void CReportPage::add_item(std::unique_ptr<PageItem> item) {
    item->set_page(this);
    items_.push_back(std::move(item));
}

void CReportPage::add_header_texts(const std::string& patient_name, const std::string& patient_number,
                                   int page_number) {
    add_item(PageItem::make_text(patient_name, 1000, 200));
    add_item(PageItem::make_text(patient_number, 4000, 200));
    add_item(PageItem::make_text(format_string("%d", page_number), 5700, 8860));
}

void CReportPage::add_contents_line(const std::string& text, int& y) {
    add_item(PageItem::make_text(size_prefix(kTextLarge) + text, 100, y));
    y += 250;
}

bool CReportPage::fill_contents_page(const std::vector<EmfEntry>& entries, std::size_t& index) {
    register_report_page_strings();
    if (index >= entries.size()) return true;
    add_item(PageItem::make_text(size_prefix(kTextLarge) + load_resource_string(kIdsTwelveLeadViews), 2500, 600));
    int y = 900;
    std::int32_t group = entries[index].group;
    add_contents_line(group_heading(group), y);
    while (index < entries.size()) {
        const EmfEntry& e = entries[index];
        if (e.group != group) {
            y += 150;
            group = e.group;
            add_contents_line(group_heading(group), y);
        }
        add_item(PageItem::make_text(e.title, 200, y));
        y += 150;
        ++index;
        if (y >= 8501) break;
    }
    return index >= entries.size();
}

std::string CReportPage::folder() const { return get_path_folder(file_name_); }

int CReportPage::add_annotation(const std::string& text, std::int32_t x, std::int32_t y) {
    if (!keeps_annotations()) return -1;
    if (first_annotation_ < 0) first_annotation_ = static_cast<std::int32_t>(items_.size());
    add_item(PageItem::make_text(note_text_for_page(text), x, y));
    modified_ = true;
    return static_cast<int>(items_.size()) - 1;
}

void CReportPage::replace_annotation_text(const std::string& text, int index) {
    if (first_annotation_ < 0 || index < first_annotation_ || index >= static_cast<int>(items_.size())) return;
    auto old = items_[static_cast<std::size_t>(index)]->text();
    if (!old) return;
    items_[static_cast<std::size_t>(index)] = PageItem::make_text(note_text_for_page(text), old->x, old->y, this);
    modified_ = true;
}

void CReportPage::delete_annotation(int index) {
    if (first_annotation_ < 0 || index < first_annotation_ || index >= static_cast<int>(items_.size())) return;
    items_.erase(items_.begin() + index);
    modified_ = true;
    if (first_annotation_ >= static_cast<std::int32_t>(items_.size())) first_annotation_ = -1;
}

std::string CReportPage::annotation_text(int index) const {
    if (index < 0 || index >= static_cast<int>(items_.size())) return {};
    auto t = items_[static_cast<std::size_t>(index)]->text();
    return t ? t->text : std::string();
}

int CReportPage::find_annotation(fw::DrawContext& dc, const PageFonts& fonts, std::int32_t x, std::int32_t y) const {
    if (first_annotation_ < 0) return -1;
    for (std::size_t i = static_cast<std::size_t>(first_annotation_); i < items_.size(); ++i)
        if (items_[i]->hit_test(dc, fonts, {x, y})) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> CReportPage::metafiles() const {
    if (!picture_page_) return {};
    if (picture_names_.empty()) {
        const std::int32_t group = metafile_group(get_path_file_name(file_name_));
        if (group != 1 && group != 2) return {};
        return {file_name_};
    }
    std::vector<std::string> names{legend_file_name(picture_names_.front())};
    for (std::size_t k = 0; k < picture_names_.size() && k < 4; ++k) names.push_back(picture_names_[k]);
    return names;
}

bool CReportPage::can_read_metafile(const std::string& name) const { return load_metafile(folder_, name).has_value(); }

void CReportPage::draw_pictures(fw::DrawContext& dc) const {
    const std::int64_t cx = dc.window_ext().cx, cy = dc.window_ext().cy;
    auto rect = [&](std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2) {
        return fw::Rc{static_cast<std::int32_t>(cx * x1 / 20000), static_cast<std::int32_t>(cy * y1 / 29700),
                      static_cast<std::int32_t>(cx * x2 / 20000), static_cast<std::int32_t>(cy * y2 / 29700)};
    };
    const std::vector<std::string> names = metafiles();
    if (picture_names_.empty()) {
        if (names.empty()) return;
        auto emf = load_metafile(folder_, names.front());
        if (!emf) return;
        const bool strip = metafile_group(get_path_file_name(file_name_)) == 1;
        play_metafile(dc, *emf, strip ? rect(400, 2000, 19466, 26642) : rect(400, 2000, 19674, 25990));
        return;
    }
    static const int kSlotX[5] = {300, 3000, 7200, 11400, 15600};
    static const int kSlotW[5] = {2500, 4000, 4000, 4000, 4000};
    for (std::size_t k = 0; k < names.size() && k < 5; ++k) {
        auto emf = load_metafile(folder_, names[k]);
        if (!emf) return;
        play_metafile(dc, *emf, rect(kSlotX[k], 2000, kSlotX[k] + kSlotW[k], 2000 + 24178));
    }
}

void CReportPage::draw(fw::DrawContext& dc, const PageFonts& fonts) const {
    PageDrawState state;
    dc.set_pen(fw::PenStyle::Solid, {0, 0, 0});
    dc.set_fill(fw::FillStyle::Null);
    dc.set_text_colour({0, 0, 0});
    dc.set_font(fonts[kTextSmall]);
    if (picture_page_) draw_pictures(dc);
    for (const auto& item : items_) item->draw(dc, fonts, state);
    dc.clear_clip();
}

bool CReportPage::save(bool oem, std::string* error) {
    if (!modified_) return true;
    if (!keeps_annotations()) {
        // Nothing to write them to: saying "saved" would lose them on the next opening.
        if (error) *error = "a 12-lead page cannot keep text";
        return false;
    }
    std::vector<const PageItem*> notes;
    if (first_annotation_ >= 0)
        for (std::size_t i = static_cast<std::size_t>(first_annotation_); i < items_.size(); ++i)
            notes.push_back(items_[i].get());
    std::int64_t marker = -1;
    if (!write_page_annotations(file_name_, annotation_offset_, notes, oem, &marker, error)) return false;
    annotation_offset_ = marker;
    modified_ = false;
    return true;
}

void CReportPage::write_rtf(RtfWriter& out) const {
    for (const auto& item : items_) item->write_rtf(out);
}

void map_page_to_device(fw::DrawContext& dc, const fw::Rc& device) {
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_org({0, 0});
    dc.set_window_ext({kPageBoxWidth, kPageBoxHeight});
    dc.set_viewport_org({device.l, device.t});
    dc.set_viewport_ext({device.width(), device.height()});
}

}  // namespace tv
