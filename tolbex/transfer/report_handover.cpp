#include "tolbex/transfer/report_handover.h"

#include <utility>

#include "common/files.h"
#include "common/ui.h"

namespace tv {

namespace {

struct Handlers {
    MailHandler mail;
    ExternalProgramHandler external;
    LetterHandler letter;
    ViewLettersHandler view_letters;
};

Handlers& handlers() {
    static Handlers h;
    return h;
}

}  // namespace

void set_mail_handler(MailHandler handler) { handlers().mail = std::move(handler); }
void set_external_program_handler(ExternalProgramHandler handler) { handlers().external = std::move(handler); }
void set_letter_handler(LetterHandler handler) { handlers().letter = std::move(handler); }
void set_view_letters_handler(ViewLettersHandler handler) { handlers().view_letters = std::move(handler); }

bool has_mail_handler() { return static_cast<bool>(handlers().mail); }
bool has_external_program_handler() { return static_cast<bool>(handlers().external); }
bool has_letter_handler() { return static_cast<bool>(handlers().letter); }
bool has_view_letters_handler() { return static_cast<bool>(handlers().view_letters); }

// Each call takes a copy, so a handler may replace itself while it runs.
bool hand_over_mail(const std::vector<MailReportEntry>& entries) {
    MailHandler h = handlers().mail;
    return h && h(entries);
}

bool hand_over_external_jobs(const std::vector<ExternalJobEntry>& jobs) {
    ExternalProgramHandler h = handlers().external;
    return h && h(jobs);
}

bool hand_over_letter(const std::string& folder, const std::string& name) {
    LetterHandler h = handlers().letter;
    return h && h(folder, name);
}

bool hand_over_view_letters(const std::string& folder) {
    ViewLettersHandler h = handlers().view_letters;
    return h && h(folder);
}

void clear_report_handlers() { handlers() = Handlers{}; }

ReportType formatted_report_type(const std::string& folder) {
    const Result<int> product = get_report_source_product(folder);
    if (!product) show_error(product.error().message);
    return product && *product == 1 ? kReportFormatted520 : kReportFormatted;
}

MailReportEntry make_mail_entry(const std::string& folder, const std::string& name, std::uint32_t size,
                                std::int64_t time) {
    MailReportEntry e;
    e.folder = folder;
    e.name = name;
    e.type = formatted_report_type(folder);
    e.size = size;
    e.time = time;
    return e;
}

ExternalJobEntry make_external_entry(const std::string& folder, const std::string& name) {
    ExternalJobEntry e;
    e.folder = folder;
    e.name = name;
    e.kind = 0;
    return e;
}

int external_job_kind(ReportType type) {
    switch (type) {
        case kReportFull: return 2;
        case kReportPartial: return 1;
        case kReportRawEcg: return 3;
        case kReportOstrabel: return 4;
        case kReportOstrabelCf: return 5;
        case kReportCef: return 6;
        default: return 0;
    }
}

bool folder_has_letters(const std::string& folder) {
    if (folder.empty()) return false;
    // A folder that happens to be called X.DOC is no letter.
    for (FileFinder f(join_path(folder, "*.DOC"), kFindFiles); !f.at_end(); f.next())
        if (!f.is_folder()) return true;
    return false;
}

}  // namespace tv
