#include "tolbex/browser/catalogue_printing.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/browser_list_model.h"

namespace tv {

namespace {

constexpr int kDetailsTabChars = 40;
constexpr int kBlockTabChars = 20;
// Lines of a long block besides the details: five fields, "Patient Details:", a gap before the
// details and one after them.
constexpr int kBlockLines = 8;
constexpr int kDetailsOffsetLines = 7;
// A new archive heading mid-page needs room for itself and a few lines under it.
constexpr int kHeadingRoomLines = 5;

fw::TextOpts details_options() {
    fw::TextOpts o;
    o.word_wrap = true;
    o.expand_tabs = true;
    o.tab_chars = kDetailsTabChars;
    return o;
}

}  // namespace

std::int32_t BrowserCatalogueRows::count() const { return list_.item_count(); }

std::string BrowserCatalogueRows::column_text(std::int32_t item, int column) const {
    return list_.item_text(item, column);
}

PatientTxt BrowserCatalogueRows::patient(std::int32_t item) const {
    PatientTxt p;
    const std::string folder = doc_.get_report_folder(list_.row_of_item(item));
    if (!folder.empty()) p.read_folder(folder);
    return p;
}

std::string BrowserCatalogueRows::details_text(std::int32_t item) const {
    return doc_.get_details_text(list_.row_of_item(item));
}

std::string catalogue_date_text(const PatientDate& date) {
    if (!date.is_valid()) return kUnknownText;
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = date.day;
    tm.tm_hour = date.hour;
    tm.tm_min = date.minute;
    tm.tm_sec = date.second;
    // The user's short date form for this call only; the process-wide locale stays as it is.
    locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) loc = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (!loc) return kUnknownText;
    char buffer[128];
    const std::size_t n = ::strftime_l(buffer, sizeof buffer, "%x", &tm, loc);
    ::freelocale(loc);
    return n ? std::string(buffer, n) : std::string(kUnknownText);
}

std::string catalogue_text(const std::string& text) { return is_blank(text) ? std::string(kUnknownText) : text; }

std::string short_catalogue_line(const std::string& description, const std::string& date, const std::string& type,
                                 const PatientTxt& patient) {
    const std::string recording = catalogue_text(patient.m_recording_id);
    const std::string recorded = catalogue_date_text(patient.m_recording_date);
    const std::string analysed = catalogue_date_text(patient.m_analysis_date);
    if (platform::iequals(description, patient.m_name))
        return catalogue_text(description) + " (" + catalogue_text(patient.m_patient_number) + "), " +
               catalogue_text(date) + ", " + catalogue_text(type) + ", Recording: " + recording + ", Recorded " +
               recorded + ", Analysed " + analysed;
    return catalogue_text(description) + ", " + catalogue_text(date) + ", " + catalogue_text(type) +
           ", Recording: " + recording + ", Recorded " + recorded + ", Analysed " + analysed;
}

void CataloguePrinter::begin_printing(bool) {
    position_ = 0;
    heading_.clear();
}

bool CataloguePrinter::continue_printing(int) const { return position_ < rows_.count(); }

void CataloguePrinter::print_page(fw::DrawContext& dc, int number, const fw::Rc& page) {
    dc.set_map_mode(fw::MapMode::Text);
    dc.clear_clip();
    dc.set_text_colour({0, 0, 0});
    // 10 points at the device's vertical resolution.
    regular_ = fw::Font{kCatalogueFontFace, std::max(kCataloguePointSize * dc.dpi().cy / 72, 1), 400, false};
    bold_ = regular_;
    bold_.weight = 700;
    dc.set_font(regular_);
    line_ = std::max(fw::get_text_line_height(dc), 1);

    dc.set_font(bold_);
    dc.text_out({page.l, page.t}, title_ + format_string(",  page %d", number));
    if (short_)
        print_short_page(dc, page.t + 2 * line_, page);
    else
        print_long_page(dc, page.t + 2 * line_, page);
}

void CataloguePrinter::print_short_page(fw::DrawContext& dc, int y, const fw::Rc& page) {
    bool first = true;
    while (position_ < rows_.count()) {
        const std::string archive = rows_.column_text(position_, kColumnArchive);
        if (first || archive != heading_) {
            if (!first) {
                y += line_;
                if (y + kHeadingRoomLines * line_ > page.b) break;
            }
            dc.set_font(bold_);
            dc.text_out({page.l, y}, "Archive: " + archive);
            heading_ = archive;
            y += 2 * line_;
        }
        if (!first && y + line_ > page.b) break;
        const std::string text =
            short_catalogue_line(rows_.column_text(position_, kColumnName), rows_.column_text(position_, kColumnDate),
                                 rows_.column_text(position_, kColumnType), rows_.patient(position_));
        dc.set_font(regular_);
        dc.text_out({page.l, y}, text);
        y += line_;
        ++position_;
        first = false;
    }
}

void CataloguePrinter::print_long_page(fw::DrawContext& dc, int y, const fw::Rc& page) {
    static const char* const kLabels[] = {"Archive", "Report", "Date", "Size", "Type"};
    static const int kColumns[] = {kColumnArchive, kColumnName, kColumnDate, kColumnSize, kColumnType};
    const int width = page.width();
    bool first = true;
    while (position_ < rows_.count()) {
        dc.set_font(regular_);
        const std::string details = rows_.details_text(position_);
        const fw::TextMetrics m = dc.metrics();
        const std::vector<fw::TextLine> lines =
            fw::layout_text(details, details_options(), width, m.avg_char_width,
                            [&dc](std::string_view s) { return static_cast<int>(dc.text_extent(s).cx); });
        const int pitch = std::max(m.height, 1);
        const int measured = static_cast<int>(lines.size()) * pitch;
        if (!first && y + kBlockLines * line_ + measured > page.b) break;

        fw::TextOpts tabbed;
        tabbed.expand_tabs = true;
        tabbed.tab_chars = kBlockTabChars;
        dc.set_font(bold_);
        for (int i = 0; i < 5; ++i)
            dc.text({page.l, y + i * line_, page.r, y + (i + 1) * line_},
                    std::string(kLabels[i]) + ":\t" + rows_.column_text(position_, kColumns[i]), tabbed);
        dc.text({page.l, y + 5 * line_, page.r, y + 6 * line_}, "Patient Details:", tabbed);

        // The details run to the page bottom; a block taller than the page is cut there.
        dc.set_font(regular_);
        fw::TextOpts one_line;
        one_line.expand_tabs = true;
        one_line.tab_chars = kDetailsTabChars;
        int ty = y + kDetailsOffsetLines * line_;
        for (const fw::TextLine& l : lines) {
            if (ty + pitch > page.b) break;
            dc.text({page.l, ty, page.r, ty + pitch}, l.text, one_line);
            ty += pitch;
        }
        y += kBlockLines * line_ + measured + 1;
        ++position_;
        first = false;
    }
}

}  // namespace tv
