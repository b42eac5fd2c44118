// The report catalogue of the archive browser: the listed reports, in list order, printed as a
// short catalogue (one line per report, landscape) or a long one (a block per report with the
// whole patient-details text). The pages are laid out on any DrawContext, in device pixels, so
// tests lay them out on the recording context.
#pragma once
#include <cstdint>
#include <string>

#include "framework/core/page_source.h"
#include "tolbex/archive/patient_txt.h"

namespace tv {

class BrowserListModel;
class BrowserListCore;

inline constexpr const char* kCatalogueFontFace = "Times New Roman";
inline constexpr int kCataloguePointSize = 10;
inline constexpr const char* kUnknownText = "<unknown>";

// The reports a catalogue prints, by list position.
class CatalogueRows {
public:
    virtual ~CatalogueRows() = default;
    virtual std::int32_t count() const = 0;
    // The list's column text (0 name, 1 archive, 2 date, 3 size, 4 type).
    virtual std::string column_text(std::int32_t item, int column) const = 0;
    // The report's PATIENT.TXT; a record that is not loaded gives unknown values.
    virtual PatientTxt patient(std::int32_t item) const = 0;
    // The patient-details text with its confirmation paragraph.
    virtual std::string details_text(std::int32_t item) const = 0;
};

// The rows an archive browser lists, in its order.
class BrowserCatalogueRows : public CatalogueRows {
public:
    BrowserCatalogueRows(const BrowserListModel& list, const BrowserListCore& doc) : list_(list), doc_(doc) {}
    std::int32_t count() const override;
    std::string column_text(std::int32_t item, int column) const override;
    PatientTxt patient(std::int32_t item) const override;
    std::string details_text(std::int32_t item) const override;

private:
    const BrowserListModel& list_;
    const BrowserListCore& doc_;
};

// A date in the user's short date form; "<unknown>" when null.
std::string catalogue_date_text(const PatientDate& date);
// A text, or "<unknown>" when blank.
std::string catalogue_text(const std::string& text);
// The short catalogue's line of one report. With the description equal to the patient name
// (without regard to case) the patient number follows it in brackets.
std::string short_catalogue_line(const std::string& description, const std::string& date, const std::string& type,
                                 const PatientTxt& patient);

class CataloguePrinter : public fw::PageSource {
public:
    // `title` heads every page (the document's title).
    CataloguePrinter(const CatalogueRows& rows, std::string title, bool short_catalogue)
        : rows_(rows), title_(std::move(title)), short_(short_catalogue) {}

    bool is_short() const { return short_; }
    std::int32_t position() const { return position_; }

    int page_count() const override { return 0; }  // found while printing
    void begin_printing(bool preview) override;
    bool continue_printing(int number) const override;
    void print_page(fw::DrawContext& dc, int number, const fw::Rc& page) override;

private:
    void print_short_page(fw::DrawContext& dc, int top, const fw::Rc& page);
    void print_long_page(fw::DrawContext& dc, int top, const fw::Rc& page);

    const CatalogueRows& rows_;
    std::string title_;
    bool short_;
    std::int32_t position_ = 0;
    std::string heading_;  // the archive heading printed last
    fw::Font regular_, bold_;
    int line_ = 1;
};

}  // namespace tv
