// The names the programs' settings are kept under in the profile (common/profile.h): each
// section, and each value more than one file reads or writes, spelled once.
#pragma once

namespace tv {

// The programs' profile keys under HKCU.
inline constexpr const char* kMainProgramProfileKey = "Software\\Torvane Medical\\Calvera";
inline constexpr const char* kCardProgramProfileKey = "Software\\Torvane Medical\\VOND";

// Sections of the main program's profile.
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kArchivesSection = "Archives";
inline constexpr const char* kPelwinSection = "Pelwin";  // the default clinic code
inline constexpr const char* kEmailSection = "eMail";
inline constexpr const char* kExternalProgramSection = "External Program";
inline constexpr const char* kLetterOptionsSection = "Letter Options";
inline constexpr const char* kTimiPrintSection = "TIMI Print";
inline constexpr const char* kTimiHeadFontSection = "TIMI Print\\Head Font";
inline constexpr const char* kTimiBodyFontSection = "TIMI Print\\Body Font";
inline constexpr const char* kWindowPosSection = "WindowPos";
inline constexpr const char* kRecentFileListSection = "Recent File List";

// "Archives": the default group, the mail archive, and the groups of the last run ("Archive 0", ...).
inline constexpr const char* kDefaultArchiveValue = "Default Archive";
inline constexpr const char* kMailArchiveValue = "Mail Archive";
inline constexpr const char* kMailIndexValue = "Mail Index";
inline constexpr const char* kArchiveNValueFormat = "Archive %d";
// "Settings": the Options' default folder for compressed ECG files, which the intake saves into.
inline constexpr const char* kCefStoreValue = "CEF Store";
// "Pelwin": the default clinic code.
inline constexpr const char* kClinicCodeValue = "Clinic";

// The card program's section and its one value: the drive of the last card.
inline constexpr const char* kCardProgramSettingsSection = "Settings";
inline constexpr const char* kDefaultDriveValue = "Default Drive";

}  // namespace tv
