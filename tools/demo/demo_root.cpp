#include "tools/demo/demo_root.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/browser/archive_dialogs.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/reports/page_items.h"
#include "tools/demo/demo_pages.h"
#include "tools/demo/demo_recordings.h"
#include "tools/demo/demo_signing.h"
#include "tools/demo/demo_timi.h"
#include "tools/demo/page_file_builder.h"

namespace tv::demo {

namespace {

struct Patient {
    const char* name;
    const char* dob;  // yyyy-mm-dd
    int age;
    const char* sex;
    const char* physician;
    const char* hospital;
};

// Made-up people.
constexpr Patient kPatients[] = {
    {"Alder, Mira", "1956-03-14", 68, "Female", "Dr. Quillon", "St. Averin Hospital"},
    {"Brennic, Tomas", "1948-11-02", 75, "Male", "Dr. Quillon", "St. Averin Hospital"},
    {"Castell, Ione", "1971-07-21", 52, "Female", "Dr. Marrow", "Northwing Clinic"},
    {"Dunmore, Pell", "1963-01-30", 61, "Male", "Dr. Marrow", "Northwing Clinic"},
    {"Everard, Lusa", "1980-09-09", 43, "Female", "Dr. Hesk", "St. Averin Hospital"},
    {"Farrow, Odo", "1939-05-17", 84, "Male", "Dr. Hesk", "Northwing Clinic"},
    {"Galloway, Senna", "1992-12-01", 31, "Female", "Dr. Quillon", "St. Averin Hospital"},
    {"Hartigan, Bram", "1958-04-26", 65, "Male", "Dr. Marrow", "Northwing Clinic"},
    {"Ivers, Caro", "1967-08-08", 56, "Female", "Dr. Hesk", "St. Averin Hospital"},
    {"Jessop, Rune", "1975-02-12", 49, "Male", "Dr. Quillon", "Northwing Clinic"},
    {"Kellan, Vey", "1944-10-19", 79, "Female", "Dr. Marrow", "St. Averin Hospital"},
    {"Lorne, Aster", "1986-06-03", 37, "Male", "Dr. Hesk", "Northwing Clinic"},
    {"Mabry, Oriel", "1953-03-28", 71, "Female", "Dr. Quillon", "St. Averin Hospital"},
};

struct Sample {
    int group;            // 0 or 1
    const char* archive;  // display name
    ReportType type;
    bool confirmed;            // formatted reports only
    bool twelve_lead = false;  // formatted: a 12-lead section instead of Holter pages
};

constexpr Sample kSamples[] = {
    {0, "STANDARD", kReportFull, false},
    {0, "STANDARD", kReportFormatted, true},
    {0, "STANDARD", kReportFormatted, false, true},
    {0, "STANDARD", kReportPartial, false},
    {0, "STANDARD", kReportRawEcg, false},
    {0, "STANDARD", kReportFullOstrabel12, false},
    {0, "Cardiology", kReportFull, false},
    {0, "Cardiology", kReportFormatted, true},
    {0, "Cardiology", kReportOstrabel, false},
    {0, "Cardiology", kReportPartial, false},
    {0, "Sleep Clinic", kReportFull, false},
    {0, "Sleep Clinic", kReportFormatted, false},
    {0, "Sleep Clinic", kReportRawEcg, false},
    {0, "Deleted Reports", kReportFull, false},
    {0, "Deleted Reports", kReportFormatted, true},
    {1, "STANDARD", kReportFull, false},
    {1, "STANDARD", kReportFormatted, true},
    {1, "STANDARD", kReportPartial, false},
    {1, "STANDARD", kReportFullOstrabel12, false},
    {1, "Ward 7", kReportFull, false},
    {1, "Ward 7", kReportFormatted, false},
    {1, "Ward 7", kReportRawEcg, false},
    {1, "Ward 7", kReportOstrabel, false},
    {1, "Deleted Reports", kReportPartial, false},
};

// 4 March 2024 09:00 UTC.
constexpr std::int64_t kFirstRecording = 1709542800;

bool write_text(const std::string& path, const std::string& text) { return platform::atomic_write_file(path, text); }

std::string iso_date_time(std::int64_t t, bool with_time) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    ::gmtime_r(&tt, &tm);
    char text[64];
    std::snprintf(text, sizeof text, with_time ? "%04d-%02d-%02d %02d:%02d" : "%04d-%02d-%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

// A transfer file name of the demo clinic.
std::string transfer_name(int serial) {
    const std::string digits = format_string("%06d", serial % 1000000);
    return kDemoClinicCode + digits + compute_check_digit(digits);
}

std::string patient_number(int i) { return format_string("PN%05d", 4000 + i * 13); }

// Patient `p` as the i-th demo patient, recorded at `recorded`.
DemoPatientDetails details_of(const Patient& p, int i, std::int64_t recorded, int variant) {
    return {.name = p.name,
            .number = patient_number(i),
            .birth_date = p.dob,
            .sex = p.sex,
            .age = p.age,
            .physician = p.physician,
            .hospital = p.hospital,
            .recorded = recorded,
            .variant = variant};
}

std::string patient_txt(const Patient& p, int i, std::int64_t recorded) {
    std::string t;
    auto line = [&](const std::string& s) { t += (s.empty() ? std::string("--") : s) + "\r\n"; };
    line("PATIENT DETAILS");
    line(iso_date_time(recorded + 86400, true));
    line(p.name);
    line(p.dob);
    line(format_string("%d", p.age));
    line(p.sex);
    line(i % 2 ? "R. Tallis" : "J. Okonkwe");
    line(transfer_name(100 + i * 37));
    line(patient_number(i));
    line(p.physician);
    line(i % 3 ? "Meridian Health" : "");
    line(p.hospital);
    line(iso_date_time(recorded, true));
    line(format_string("REC-%03d", 10 + i % 7));
    line(format_string("REC-%03d", 10 + i % 7));
    line(iso_date_time(recorded + 86400, true));
    t += i % 4 == 0 ? "Palpitations at night.\r\nReferred for 24 h Holter.\r\n" : "Routine follow-up.\r\n";
    return t;
}

// A value for an ANALSUM.TXT field that looks like a 24-hour recording.
std::string analsum_value(int n, int i) {
    const std::string name = AnalysisData::get_field_name(n);
    const int type = analysis_fields[static_cast<std::size_t>(n - 1)].type;
    if (type == kFieldText) return format_string("%02d:%02d:%02d", (9 + n + i) % 24, (n * 7 + i) % 60, (n * 13) % 60);
    if (name == "QRS") return format_string("%d", 98000 + i * 731);
    if (name == "normal") return format_string("%d", 96500 + i * 700);
    if (name == "HR.mean") return format_string("%d", 64 + i % 20);
    if (name == "HR.fastest.rate") return format_string("%d", 128 + i % 30);
    if (name == "HR.slowest.rate") return format_string("%d", 42 + i % 10);
    if (name == "AF.duration") return format_string("%d", (i % 3) * 600 * 128);  // stored times 128
    if (type == kFieldReal) {
        if (name == "recording.length") return "24.0";
        // In tenths: "%f" would take a decimal comma from the user's locale into the file.
        const int tenths = 10 + (n % 5) * 5;
        return format_string("%d.%d", tenths / 10, tenths % 10);
    }
    return format_string("%d", (n * 17 + i * 5) % 60);
}

std::string analsum_txt(int i) {
    std::vector<std::string> lines;
    for (int n = kFirstAnalsumField; n <= kAnalysisFieldCount; ++n) {
        switch (analsum_line_kind(n)) {
            case kAnalsumSameLine:
                if (!lines.empty()) lines.back() += analsum_value(n, i);
                break;
            case kAnalsumFlagsLine: lines.push_back(i % 2 ? "level" : "up"); break;
            default: lines.push_back(format_string("%-12s", analsum_value(n, i).c_str())); break;
        }
    }
    std::string t;
    for (const auto& l : lines) t += l + "\r\n";
    return t;
}

// A Full, Partial, 12-lead Full or Raw ECG report folder as the analysis system leaves it: the
// analysis files of the analysed kinds, MAIN.DAT of a Raw ECG report, and where the kind keeps its
// ECG the recording's channel files and sound, or the 12-lead ECG files that "/delete_os12_ecg"
// and Delete Ostrabel12 ECG Files remove. The analysis files are the analysis system's own and
// nothing here reads them, so each is a one-line stand-in, as are the 12-lead ECG files.
bool write_analysis_files(const std::string& staging, const DemoPatientDetails& details, ReportType type) {
    const bool analysed = type == kReportFull || type == kReportPartial || type == kReportFullOstrabel12;
    const bool recording = type == kReportFull || type == kReportRawEcg;
    std::vector<std::string> files;
    if (analysed) files = {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"};
    if (type == kReportRawEcg) files = {"MAIN.DAT"};
    if (type == kReportFullOstrabel12) {
        for (int lead = 1; lead <= 8; ++lead) files.push_back(format_string("os12ecg%d.dat", lead));
        files.push_back("os12pac.dat");
    }
    for (const std::string& name : files)
        if (!write_text(staging + name, "Demo stand-in for the analysis system's " + name + "\r\n")) return false;
    return !recording ||
           (write_demo_channels(staging, details) && write_text(staging + "PATIENT.WAV", demo_patient_sound()));
}

// The demo's letter template: a letter to the referring physician with a few fields, a condition
// and a formatted value. RTF, which Writer and Word both read as a template, so no office is
// needed to make it.
std::string letter_template_rtf() {
    const char* const paragraphs[] = {
        "<patdet.hospital>",
        "",
        "Dear <patdet.physician>,",
        "",
        "Re: <patdet.name>, born <patdet.dob>, patient number <patdet.patient.number>",
        "",
        "The Holter recording of <patdet.recording.date> has been analysed. The mean heart rate was <HR.mean> "
        "bpm<HR.mean>[< 60], which is slow</HR.mean>[< 60]<HR.mean>[> 100], which is fast</HR.mean>[> 100]; the "
        "slowest rate was <HR.slowest.rate> bpm at <HR.slowest.when> and the fastest <HR.fastest.rate> bpm at "
        "<HR.fastest.when>. The longest pause lasted <pause.longest.length>[%.1f] seconds.",
        "",
        "The full report is enclosed.",
        "",
        "Yours sincerely,",
    };
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Liberation Sans;}}\\f0\\fs22\r\n";
    for (const char* p : paragraphs) rtf += std::string(p) + "\\par\r\n";
    return rtf + "}\r\n";
}

std::string description(const Patient& p, ReportType type) {
    std::string d = p.name;
    const std::string kind = report_type_description(type);
    if (!kind.empty()) d += " - " + kind;
    return d;
}

// A new group with the given archives (display names; "STANDARD" and "Deleted Reports" get
// their fixed folders, the others fresh ones).
bool make_group(const std::string& folder, const std::vector<std::string>& archives, std::string* error) {
    if (!create_folder_path(folder)) {
        *error = "cannot create " + folder;
        return false;
    }
    const std::string index = join_path(folder, kGroupIndexName);
    for (const auto& name : archives) {
        bool ok;
        if (name == kStandardArchiveName || name == kDeletedArchiveName) {
            const std::string sub = name == kStandardArchiveName ? kStandardArchiveName : kDeletedArchiveFolder;
            ok = create_folder_path(join_path(folder, sub)) && add_group_entry(index, sub, name).ok();
        } else {
            ok = create_archive_in_group(folder, name, nullptr);
        }
        if (!ok) {
            *error = "cannot add archive " + name + " to " + index;
            return false;
        }
    }
    return true;
}

// The files every sample report has: VERSION.TXT, PATIENT.TXT, ANALSUM.TXT and those of its kind.
bool write_sample_files(const std::string& staging, const Patient& p, int i, const DemoPatientDetails& details,
                        ReportType type) {
    return write_text(staging + "VERSION.TXT", "V8.006\r\n") &&
           write_text(staging + "PATIENT.TXT", patient_txt(p, i, details.recorded)) &&
           write_text(staging + "ANALSUM.TXT", analsum_txt(i)) && write_analysis_files(staging, details, type);
}

// Stores a report whose files `write` puts into a fresh staging folder (ending in '/'), which goes
// again on every path.
bool store_sample(const ReportArchive& archive, const std::function<bool(const std::string&)>& write,
                  const std::string& report_description, std::int64_t recorded, ReportType type,
                  std::string* stored_folder, std::string* error) {
    std::string staging = create_temp_folder();
    if (staging.empty()) {
        *error = "cannot create a temporary folder";
        return false;
    }
    FolderRemover remove_staging(staging, true, false);
    if (!write(staging)) {
        *error = "cannot write the sample files in " + staging;
        return false;
    }
    const std::int64_t size = get_folder_size_64(staging, false);
    const int rc =
        store_report_in_archive(archive.get_path(), trim_right_char(staging, '/'), report_description,
                                static_cast<std::int32_t>(size), recorded, type, stored_folder, nullptr, true);
    if (rc != kStoreOk) {
        *error = format_string("storing a sample report failed (%d)", rc);
        return false;
    }
    return true;
}

// The TIMI week: seven Full reports of one recording in "Cardiology", a day apart, with the same
// recorder and patient number.
bool store_timi_week(const std::string& group_folder, std::vector<std::string>* folders, std::string* error) {
    static constexpr Patient kPatient = {"Nyland, Tavi", "1950-08-15", 73, "Male", "Dr. Hesk", "Northwing Clinic"};
    constexpr int kIndex = 50;  // numbers no other sample has
    const std::int64_t start = kFirstRecording + 30 * 86400LL;
    ArchiveGroup group(join_path(group_folder, kGroupIndexName), false, false, false);
    const ReportArchive* archive = group.get_archive(group.find_archive_by_name("Cardiology"));
    if (!archive) {
        *error = "no archive Cardiology";
        return false;
    }
    const TimiData week = demo_timi_week(patient_number(kIndex), transfer_name(100 + kIndex * 37), start);
    for (int day = 1; day <= kDemoTimiDays; ++day) {
        const std::int64_t recorded = start + (day - 1) * 86400LL;
        const DemoPatientDetails details = details_of(kPatient, kIndex, recorded, kIndex + day);
        const auto write = [&](const std::string& staging) {
            return write_sample_files(staging, kPatient, kIndex, details, kReportFull) &&
                   write_demo_timi_day(staging, week, day);
        };
        std::string stored;
        const std::string name = format_string("%s - TIMI day %d", kPatient.name, day);
        if (!store_sample(*archive, write, name, recorded, kReportFull, &stored, error)) return false;
        folders->push_back(stored);
    }
    return true;
}

}  // namespace

std::string device_dat_path() {
    const std::string gui = join_path(get_analyser_user_root(), "GUI");
    if (auto found = platform::find_name_ci(gui, kArchiveConfigFileName)) return *found;
    return join_path(gui, kArchiveConfigFileName);
}

bool demo_root_exists() {
    ArchiveConfigList config;
    config.load(device_dat_path());
    return config.get_count() > 0;
}

bool write_demo_pages(const std::string& staging, const std::string& name) {
    DemoPatientDetails details;
    details.name = name;
    return write_demo_pages(staging, details);
}

bool make_demo_root(DemoSummary* summary, std::string* error) {
    std::string local_error;
    if (!error) error = &local_error;
    if (demo_root_exists()) {
        *error = "a demo root exists already";
        return false;
    }
    const std::string user_root = get_analyser_user_root();
    const std::string groups[2] = {join_path(user_root, "ARCHIVE"), join_path(user_root, "GROUPS/NORTHWING")};
    if (!make_group(groups[0], {"STANDARD", "Cardiology", "Sleep Clinic", "Deleted Reports"}, error) ||
        !make_group(groups[1], {"STANDARD", "Ward 7", "Deleted Reports"}, error))
        return false;

    int stored = 0;
    int i = 0;
    struct ToSign {
        std::string folder, description;
    } to_sign[2];
    for (const Sample& s : kSamples) {
        const Patient& p = kPatients[static_cast<std::size_t>(i) % std::size(kPatients)];
        const std::int64_t recorded = kFirstRecording + static_cast<std::int64_t>(i) * 97200;  // a day and 3 h apart
        ArchiveGroup group(join_path(groups[s.group], kGroupIndexName), false, false, false);
        const ReportArchive* archive = group.get_archive(group.find_archive_by_name(s.archive));
        if (!archive) {
            *error = std::string("no archive ") + s.archive;
            return false;
        }
        const DemoPatientDetails details = details_of(p, i, recorded, i);
        const auto write = [&](const std::string& staging) {
            bool ok = write_sample_files(staging, p, i, details, s.type);
            if (ok && is_formatted_type(s.type)) {
                ok = write_text(staging + "SUMMARY.TXT", description(p, s.type) + "\r\n");
                if (ok && s.confirmed) ok = write_text(staging + "CONFIRM.TXT", i % 2 ? "Dr. Quillon" : "Dr. Marrow");
                if (ok && s.twelve_lead) {
                    PageFileBuilder label;
                    label.label("12-lead");
                    ok = platform::atomic_write_file(staging + "PAGE.0", label.bytes()) &&
                         write_demo_twelve_lead(staging, details);
                } else if (ok) {
                    ok = write_demo_pages(staging, details);
                }
            }
            return ok;
        };
        std::string stored_folder;
        if (!store_sample(*archive, write, description(p, s.type), recorded, s.type, &stored_folder, error))
            return false;
        ++stored;
        // The first Holter formatted report of each group also gets a signed copy.
        if (s.type == kReportFormatted && !s.twelve_lead && to_sign[s.group].folder.empty())
            to_sign[s.group] = {stored_folder, p.name + std::string(" - ") + report_type_description(kReportSigned)};
        ++i;
    }
    std::vector<std::string> timi_days;
    if (!store_timi_week(groups[0], &timi_days, error)) return false;
    stored += static_cast<int>(timi_days.size());

    auto certificate = make_demo_certificate();
    if (!certificate) {
        *error = certificate.error().message;
        return false;
    }
    std::vector<std::string> signed_reports;
    for (const auto& [folder, signed_description] : to_sign) {
        auto signed_folder = sign_demo_report(*certificate, folder, signed_description);
        if (!signed_folder) {
            *error = "signing a sample report failed: " + signed_folder.error().message;
            return false;
        }
        signed_reports.push_back(*signed_folder);
        ++stored;
    }

    create_folder_path(get_path_folder(device_dat_path()));
    ArchiveConfigList config;
    config.load(device_dat_path());
    for (const auto& g : groups)
        if (const int added = config.add(g); added != kConfigOk) {
            if (added == kConfigRefused)
                ui().message_box(config.refusal().message, archive_error_caption(kArchiveConfigRefused), MsgIcon::Error,
                                 MsgButtons::Ok);
            *error = "cannot write " + device_dat_path();
            return false;
        }
    for (int n = 0; n < 2; ++n)
        write_profile_string(kArchivesSection, format_string(kArchiveNValueFormat, n),
                             join_path(groups[n], kGroupIndexName));
    // Create Letter fills the demo template at once, and the letter is kept with its report.
    const std::string letter_template = join_path(user_root, "LETTERS/Demo letter.rtf");
    letters::LetterOptions letters;
    letters.template_name = letter_template;
    letters.prompt_for_template = false;
    if (!create_folder_path(get_path_folder(letter_template)) || !write_text(letter_template, letter_template_rtf()) ||
        !letters::write_letter_options(letters)) {
        *error = "cannot write the letter template " + letter_template;
        return false;
    }
    // Without a clinic code every windowed start would stop at a warning.
    if (!set_default_clinic_code(kDemoClinicCode)) {
        *error = "cannot store the clinic code";
        return false;
    }
    // TIMI on, so the week's TIMI commands are offered; it brings signing and logging, and logging
    // runs only with the event-log message file installed.
    const std::string message_file = join_path(get_analyser_system_root(), "LOG/tvevents.msg");
    if (!create_folder_path(get_path_folder(message_file)) ||
        !write_text(message_file, "Torvane workstation events\r\n") ||
        !reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", message_file) ||
        !reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "Yes")) {
        *error = "cannot switch TIMI on";
        return false;
    }
    if (!make_demo_media(nullptr, error)) return false;
    if (summary) {
        summary->group_folders.assign(std::begin(groups), std::end(groups));
        summary->reports = stored;
        summary->signed_reports = std::move(signed_reports);
        summary->timi_days = std::move(timi_days);
    }
    return true;
}

}  // namespace tv::demo
