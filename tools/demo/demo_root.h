// The demo root: what a new user sees on first start. Two archive groups with several archives
// each (one of them "Deleted Reports"), sample reports of several types with their patient files
// (Full, Partial and Raw ECG folders complete as the analysis system leaves them, the recordings
// with the patient's sound), one signed report per group (signed with the demo signer's
// certificate, see demo_signing.h), DEVICE.DAT listing both groups, a letter template that Create
// Letter uses without asking, and the profile values that make tolbex reopen the groups and name
// its clinic. No external program is set. One patient's week of day reports in "Cardiology" is
// ready for TIMI (demo_timi.h). Every person in it is made up.
#pragma once
#include <string>
#include <vector>

namespace tv::demo {

// The clinic code the demo root sets; its reports' transfer names begin with it.
inline constexpr const char* kDemoClinicCode = "DEMO";

struct DemoSummary {
    std::vector<std::string> group_folders;   // the two group folders
    int reports = 0;                          // report folders stored
    std::vector<std::string> signed_reports;  // one signed report folder per group
    std::vector<std::string> timi_days;       // the TIMI week's report folders, day 1 first
};

// The DEVICE.DAT that tolbex reads under the current TORVANE_ROOT.
std::string device_dat_path();
// True when the demo's DEVICE.DAT already lists a group.
bool demo_root_exists();
// Makes the demo root (groups, reports, DEVICE.DAT, profile). Fails when a demo root exists.
// `error` receives why it failed.
bool make_demo_root(DemoSummary* summary, std::string* error);
// Writes the demo report's page files (PAGE.0 to PAGE.3) into the folder `staging`; `name` is the
// patient name on the pages, the other details are the defaults of DemoPatientDetails.
bool write_demo_pages(const std::string& staging, const std::string& name);

}  // namespace tv::demo
