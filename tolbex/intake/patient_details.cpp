#include "tolbex/intake/patient_details.h"

#include <cstdlib>

#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/intake/cef_settings.h"

namespace tv {

bool parse_dialog_date(const std::string& text, int order, DialogDate& date) {
    if (text.size() < 8 || text.size() > 51) return false;
    std::string parts[3];
    int part = 0;
    const char own = get_locale_date_separator();
    for (char c : text) {
        if (is_date_separator(c) || c == own) {
            if (++part > 2) return false;
        } else if (c >= '0' && c <= '9') {
            parts[part] += c;
        } else {
            return false;
        }
    }
    if (part != 2) return false;
    const int year_at = order == 2 ? 0 : 2, month_at = order == 0 ? 0 : 1, day_at = order == 0 ? 1 : order == 1 ? 0 : 2;
    for (const std::string& p : parts)
        if (p.empty() || p.size() > 4) return false;
    if (parts[year_at].size() != 4) return false;
    date.year = static_cast<int>(parse_integer(parts[year_at]).value);
    date.month = static_cast<int>(parse_integer(parts[month_at]).value);
    date.day = static_cast<int>(parse_integer(parts[day_at]).value);
    return date.day >= 1 && date.day <= 31 && date.month >= 1 && date.month <= 12 && date.year >= 1800 &&
           date.year <= 3000;
}

std::string compute_age(const std::string& birth, const std::string& recording, int order) {
    DialogDate b, r;
    if (!parse_dialog_date(birth, order, b) || !parse_dialog_date(recording, order, r)) return {};
    int age = r.year - b.year;
    if (r.month < b.month || (r.month == b.month && r.day < b.day)) --age;
    if (age < 0 || age > 150) return {};
    return format_string("%d", age);
}

bool patient_details_ok(PatientDetails& d, int order, Ui& u, DetailsField* focus) {
    auto stop = [&](DetailsField f) {
        if (focus) *focus = f;
        return false;
    };
    DialogDate scratch;
    const struct {
        const std::string& text;
        const char* name;
        DetailsField field;
    } dates[] = {{d.date_of_birth, "Date of Birth", DetailsField::DateOfBirth},
                 {d.recording_date, "Recording Date", DetailsField::RecordingDate},
                 {d.analysis_date, "Analysis Date", DetailsField::AnalysisDate}};
    for (const auto& x : dates) {
        if (is_blank(x.text) || parse_dialog_date(x.text, order, scratch)) continue;
        u.message_box(format_string("The %s is invalid.\n\nPlease ensure that you enter 4 digits for the year\nand "
                                    "that the month and day are in the right order.",
                                    x.name),
                      "Invalid Date", MsgIcon::Error, MsgButtons::Ok);
        return stop(x.field);
    }
    if (!d.date_of_birth.empty() && !d.recording_date.empty()) {
        const std::string age = compute_age(d.date_of_birth, d.recording_date, order);
        if (age.empty()) {
            u.message_box(
                "The patient's age cannot be calculated.\n\nPlease check that the Recording Date and Date of "
                "Birth are both correct.",
                "Age cannot be calculated", MsgIcon::Error, MsgButtons::Ok);
            return stop(DetailsField::Age);
        }
        if (age != d.age) {
            const MsgResult r = u.message_box(
                format_string("The Patient's age will be changed from \"%s\" to \"%s\",\nbased on a date of birth of "
                              "\"%s\" and a recording date of \"%s\".\n\nPlease Confirm.\n\n(If you click \"Cancel\", "
                              "you will be returned to the Patient Details Dialog.)",
                              d.age.c_str(), age.c_str(), d.date_of_birth.c_str(), d.recording_date.c_str()),
                "Please confirm patient's age", MsgIcon::Question, MsgButtons::OkCancel);
            if (r != MsgResult::Ok) return stop(DetailsField::Age);
            d.age = age;
        }
    }
    d.recording_id = to_upper_copy(d.recording_id);
    if (const int check = check_transfer_file_name(d.recording_id)) {
        u.message_box(transfer_name_message(check), kInvalidTransferNameTitle, MsgIcon::Error, MsgButtons::Ok);
        return stop(DetailsField::RecordingId);
    }
    if (is_blank(d.description)) {
        u.message_box("You must enter a description for the recording.",
                      "You must enter a description for the recording.", MsgIcon::Error, MsgButtons::Ok);
        return stop(DetailsField::Description);
    }
    if (d.level >= 0) {
        if (d.check_changeable) set_cef_want_comp(d.compress);
        if (d.group_enabled) set_cef_bitred(d.for_mail, d.level);
    }
    return true;
}

}  // namespace tv
