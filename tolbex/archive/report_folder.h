// What a sound report folder holds: per report type, the files the program that stores that type
// writes. The one definition every reader uses (the repair tool's check, the store of a received
// transfer file), so that a report one program takes in is never one another removes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "tolbex/archive/report_types.h"

namespace tv {

// The sets of file names of which a sound folder of `type` holds at least one set whole; a name
// "*.EXT" asks for some file with that extension. A set that is empty is always satisfied; a type
// without a table (unknown) has no sets and is never sound.
const std::vector<std::vector<std::string>>& report_file_sets(ReportType type);

// True when the plain files `file_names` (compared without regard to case) make a sound folder
// of `type`.
bool is_sound_report_folder(ReportType type, const std::vector<std::string>& file_names);
// The same for the plain files directly in `folder` (never through a link); false when it cannot
// be read.
bool is_sound_report_folder(ReportType type, const std::string& folder);

}  // namespace tv
