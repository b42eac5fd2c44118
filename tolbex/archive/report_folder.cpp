#include "tolbex/archive/report_folder.h"

#include <map>

#include "common/audit_log.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/handles.h"

namespace tv {

namespace {

using FileSets = std::vector<std::vector<std::string>>;

// A full report whose 12-lead recording was removed has no RAWECG1.DAT and still loads; a
// formatted report needs its summary and page 0 only (one-page reports, 12-lead reports whose
// pages are pictures); a compressed recording is kept as the file or unpacked; a card recording
// is the card's files or the samples read from it (three channels or twelve leads); a signed
// report is its signed data alone.
const std::map<ReportType, FileSets>& tables() {
    static const std::map<ReportType, FileSets> sets = {
        {kReportPartial, {{"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"}}},
        {kReportFull, {{"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"}}},
        {kReportFormatted, {{"SUMMARY.TXT", "PAGE.0"}}},
        {kReportRawEcg, {{"MAIN.DAT", "RAWECG1.DAT"}}},
        {kReportOstrabel, {{}}},
        {kReportOstrabelCf, {{"ECG.DAT", "CONFIG.DAT"}, {"RAWECG1.DAT"}, {"OS12ECG1.DAT"}}},
        {kReportCef, {{"*.CEF"}, {"CEFDESC.TXT", "RAWECG1.DAT"}, {"CEFDESC.TXT", "OS12ECG1.DAT"}}},
        {kReportNoske,
         {{"NOSKE1_PAR.TXT", "NOSKE1_S.DAT", "NOSKE1_J.DAT", "NOSKE1_QTN.DAT", "NOSKE1_QTO.DAT", "NOSKE1_R.DAT",
           "NOSKE1_RRC.DAT", "NOSKE1_RRN.DAT"}}},
        {kReportGavrille, {{"ARCHIVE.XML"}}},
        {kReportTimiData, {{"DATA.TIMI"}}},
        {kReportTimiSummary, {{"TIMI_SUMMARY.TXT"}}},
        {kReportTimiArrhythmia, {{"TIMI_ARRH.TXT"}}},
        {kReportSigned, {{kSignedDataFileName}}},
        {kReportFullOstrabel12, {{}}},
        {kReportVarUdiri, {{}}},
    };
    return sets;
}

bool has_file(const std::vector<std::string>& names, std::string_view wanted) {
    const bool any_of_extension = wanted.substr(0, 2) == "*.";
    const std::string_view extension = wanted.substr(1);
    for (const std::string& n : names) {
        if (any_of_extension ? n.size() > extension.size() &&
                                   platform::iequals(std::string_view(n).substr(n.size() - extension.size()), extension)
                             : platform::iequals(n, wanted))
            return true;
    }
    return false;
}

}  // namespace

const std::vector<std::vector<std::string>>& report_file_sets(ReportType type) {
    static const FileSets none;
    const auto it = tables().find(type);
    return it == tables().end() ? none : it->second;
}

bool is_sound_report_folder(ReportType type, const std::vector<std::string>& file_names) {
    for (const auto& set : report_file_sets(type)) {
        bool whole = true;
        for (const std::string& name : set) whole = whole && has_file(file_names, name);
        if (whole) return true;
    }
    return false;
}

bool is_sound_report_folder(ReportType type, const std::string& folder) {
    const platform::UniqueFd dir = open_folder_no_link(folder);
    const auto entries = dir ? list_folder_at(dir.get()) : std::nullopt;
    if (!entries) return false;
    std::vector<std::string> files;
    for (const FolderEntry& e : *entries)
        if (e.regular) files.push_back(e.name);
    return is_sound_report_folder(type, files);
}

}  // namespace tv
