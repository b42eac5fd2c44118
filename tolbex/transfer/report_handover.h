// What the report window and the browser hand to mail, letters and the external program. Those
// services register their handlers here when they start; while a handler is missing, the
// commands that need it are disabled. Handlers run on the window thread.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tolbex/archive/report_types.h"

namespace tv {

// One report given to mail (the selection-list entry).
struct MailReportEntry {
    std::string folder;  // the report folder
    std::string name;    // the report's description
    ReportType type = kReportFormatted;
    std::uint32_t size = 0;
    std::int64_t time = 0;
    bool operator==(const MailReportEntry&) const = default;
};

// The site's external program ("External Program" in the profile).
struct ExternalProgramSettings {
    std::string error_file_name;
    std::string program_name;
    bool visible_window = false;
};

// One job for the external program.
struct ExternalJobEntry {
    std::string folder;
    std::string name;
    int kind = 0;
    bool operator==(const ExternalJobEntry&) const = default;
};

// Each returns true when the hand-over was taken.
using MailHandler = std::function<bool(const std::vector<MailReportEntry>&)>;
using ExternalProgramHandler = std::function<bool(const std::vector<ExternalJobEntry>&)>;
using LetterHandler = std::function<bool(const std::string& folder, const std::string& name)>;
using ViewLettersHandler = std::function<bool(const std::string& folder)>;

// An empty function removes the handler.
void set_mail_handler(MailHandler handler);
void set_external_program_handler(ExternalProgramHandler handler);
void set_letter_handler(LetterHandler handler);
void set_view_letters_handler(ViewLettersHandler handler);

bool has_mail_handler();
bool has_external_program_handler();
bool has_letter_handler();
bool has_view_letters_handler();

// False when no handler is registered or the handler refused.
bool hand_over_mail(const std::vector<MailReportEntry>& entries);
bool hand_over_external_jobs(const std::vector<ExternalJobEntry>& jobs);
bool hand_over_letter(const std::string& folder, const std::string& name);
bool hand_over_view_letters(const std::string& folder);

// Removes every handler (tests, shutdown).
void clear_report_handlers();

// --- the entries as the report window forms them ---

// 520 when the folder's version.txt names the screening product, else 519.
ReportType formatted_report_type(const std::string& folder);
MailReportEntry make_mail_entry(const std::string& folder, const std::string& name, std::uint32_t size,
                                std::int64_t time);
// The report window always hands kind 0.
ExternalJobEntry make_external_entry(const std::string& folder, const std::string& name);
// The browser's kind by report type: 510 -> 2, 511 -> 1, 513 -> 3, 514 -> 4, 515 -> 5, 516 -> 6,
// every other type 0.
int external_job_kind(ReportType type);

// Whether the report folder holds a letter: a regular file named *.DOC (any case).
bool folder_has_letters(const std::string& folder);

}  // namespace tv
