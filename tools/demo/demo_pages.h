// Report pages and recordings of the demo: the page files of a Holter report (summary, event
// strips, conclusion), the metafiles of a 12-lead report with their emflist.dat, and the channel
// files and sound file a recording brings. The findings are made up but consistent (the summary's
// counts match its hourly trend and its strips), and the same details always give the same bytes,
// so the pages can be compared with reference pictures.
#pragma once
#include <cstdint>
#include <string>

namespace tv::demo {

struct DemoPatientDetails {
    std::string name = "Alder, Mira";
    std::string number = "PN04000";
    std::string birth_date = "1956-03-14";  // yyyy-mm-dd
    std::string sex = "Female";
    int age = 68;
    std::string physician = "Dr. Quillon";
    std::string hospital = "St. Averin Hospital";
    std::int64_t recorded = 1709542800;  // recording start, UTC seconds
    int variant = 0;                     // varies the findings between reports
};

// PAGE.0 (never shown), PAGE.1 summary, PAGE.2 event strips, PAGE.3 conclusion into the folder
// `staging` (ending in '/'). False when a file cannot be written.
bool write_demo_pages(const std::string& staging, const DemoPatientDetails& patient);

// A 12-lead section: emflist.dat, rhythm strips (group 1), interval measurements (group 2), four
// ST measurement columns (group 3) and their legend strip. False when a file cannot be written.
bool write_demo_twelve_lead(const std::string& staging, const DemoPatientDetails& patient);

// Seconds of ECG in a demo recording.
inline constexpr int kDemoRecordingSeconds = 60;

// RAWECG1.DAT to RAWECG3.DAT: kDemoRecordingSeconds of three channels (V5, V1, aVF) at 128 words a
// second, 12-bit values around 2048 (200 a millivolt) with no flag bits and never the no-data word
// 0; one ventricular premature beat. False when a file cannot be written.
bool write_demo_channels(const std::string& staging, const DemoPatientDetails& patient);

// The patient's recorded message of a demo recording (PATIENT.WAV): a two-note chime of 0.8 s as
// a canonical 44-byte-header RIFF WAVE file, PCM 16-bit mono at 8000 samples a second.
std::string demo_patient_sound();

}  // namespace tv::demo
