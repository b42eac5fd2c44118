// Ids of tolbex's string-table texts used by the application shell.
#pragma once

namespace tv {

inline constexpr unsigned kStrName = 1034;              // "Name"
inline constexpr unsigned kStrPreview = 1096;           // "Preview"
inline constexpr unsigned kStrReceivingMail = 1183;     // caption of the archive chooser for received files
inline constexpr unsigned kStrClinicCodeNotSet = 1389;  // start-up warning
inline constexpr unsigned kStrStoreLogHeader1 = 1396;   // store-result log header, first part
inline constexpr unsigned kStrStoreLogHeader2 = 1397;   // store-result log header, result codes
inline constexpr unsigned kStrNoReportFiles = 1398;     // "No report files in source folder:"
inline constexpr unsigned kStrBriscoReport = 1428;      // default print-job title

// Registers the English table; the program calls it once at start.
void register_tolbex_strings();

}  // namespace tv
