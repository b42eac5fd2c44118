// A report packed as a transfer file (TVZ) with its REPINFO.TXT: the one way "/export", the
// export to a folder, the external program and mail make one.
#pragma once
#include <cstdint>
#include <string>

namespace tv {

class AuditTrail;

// What REPINFO.TXT says of the report when its folder has none of its own.
struct RepInfoFields {
    std::string description;
    int type = 0;
    std::int64_t time = 0;
    std::int64_t size = 0;
};

// Packs every file of the report folder into `target`. A folder without its own REPINFO.TXT gets
// one made from `info`, written into a private temporary folder that goes when the packing is
// done; when it cannot be written nothing is packed. False on failure, with `refusal` the
// sentence to show (empty: the general one, kReportPackFailed).
bool pack_report_transfer_file(const std::string& report_folder, const RepInfoFields& info, const std::string& target,
                               std::string* refusal = nullptr);

inline constexpr const char* kReportPackFailed = "The compressed copy of the report could not be created.";
inline constexpr const char* kReportPackFailedTitle = "File Compression Error";

// The same as an export, with its messages: the audit log is opened first (a report whose export
// cannot be logged is not exported) and the "Export report" entry is written once the transfer
// file is whole.
bool export_report_transfer_file(AuditTrail& audit, const std::string& report_folder, const RepInfoFields& info,
                                 const std::string& target);

}  // namespace tv
