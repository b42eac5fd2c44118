// The checks of the Patient Details dialog's OK, without the window.
#include <gtest/gtest.h>

#include "testing/app_test_root.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/intake/patient_details.h"

namespace tv {
namespace {

TEST(DialogDate, LocaleOrderAndLimits) {
    const struct {
        const char* text;
        int order;
        bool ok;
    } cases[] = {
        {"31/02/2001", 1, true},  // no month-length check
        {"1/2/01", 1, false},    {"15/06/1950", 1, true},  {"06/15/1950", 0, true},
        {"1950-06-15", 2, true}, {"15/13/1950", 1, false}, {"15/06/1799", 1, false},
        {"15/06/50", 1, false},  {"15 06 1950", 1, false}, {"15/06/1950/1", 1, false},
    };
    for (const auto& c : cases) {
        DialogDate d;
        EXPECT_EQ(parse_dialog_date(c.text, c.order, d), c.ok) << c.text;
    }
}

TEST(DialogDate, AgeOnTheBirthday) {
    EXPECT_EQ(compute_age("15/06/1950", "14/06/2000", 1), "49");
    EXPECT_EQ(compute_age("15/06/1950", "15/06/2000", 1), "50");
    EXPECT_EQ(compute_age("15/06/2000", "14/06/1950", 1), "");
}

class PatientDetailsOk : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        d.description = "Holter";
        d.date_of_birth = "15/06/1950";
        d.recording_date = "15/06/2000";
        d.recording_id = "abcd1234566";
    }
    PatientDetails d;
};

TEST_F(PatientDetailsOk, AnEmptyAgeIsOfferedTheComputedOne) {
    scripted.answers = {MsgResult::Ok};
    DetailsField focus = DetailsField::None;
    EXPECT_TRUE(patient_details_ok(d, 1, scripted, &focus));
    EXPECT_EQ(d.age, "50");
    EXPECT_EQ(d.recording_id, "ABCD1234566");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Please confirm patient's age");
    EXPECT_NE(scripted.shown[0].text.find("from \"\" to \"50\""), std::string::npos);
    // Cancel keeps the dialog open with the age as it was.
    d.age = "12";
    EXPECT_FALSE(patient_details_ok(d, 1, scripted, &focus));
    EXPECT_EQ(d.age, "12");
    EXPECT_EQ(focus, DetailsField::Age);
}

TEST_F(PatientDetailsOk, RecordingBeforeBirthCannotGiveAnAge) {
    d.recording_date = "14/06/1950";
    EXPECT_FALSE(patient_details_ok(d, 1, scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Age cannot be calculated");
}

}  // namespace
}  // namespace tv
