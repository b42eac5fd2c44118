// The tape dialogs offscreen, and one tape read end to end through them: the built KELMOTH on the
// simulated deck, the loading dialog polling it on its own timer, the CEF unpacked again.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/profile.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/timer.h"
#include "platform/fs.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/tape/ecg_mappings.h"
#include "tolbex/tape/tests/tape_test_support.h"
#include "tolbex/tape/ui/tape_dialogs.h"

namespace tv::tape_test {
namespace {

class TapeDialogs : public TapeTest {
protected:
    TapeDialogs() { fw::testing::qt_app(); }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        TapeTest::TearDown();
    }
};

TEST_F(TapeDialogs, OptionsOpenWithTheStoredValuesAndStoreOnOk) {
    struct Case {
        bool for_mail;
        int stored_type, stored_level, shown_type, shown_position, stored_after;
    } cases[] = {
        {false, 4, 1, 4, 2, 2},  // level 1 has no position of its own: OK without moving stores 2
        {true, 9, 0, 0, 3, 0},   // a stored type outside the list reads as the first
        {false, -3, 4, 0, 0, 4},
    };
    for (const auto& c : cases) {
        const char* level_key = c.for_mail ? "CEF BitRed Mail" : "CEF BitRed";
        write_profile_int(kSettingsSection, "CEF Tape Type", c.stored_type);
        write_profile_int(kSettingsSection, level_key, c.stored_level);
        gui::TapeOptionsDlg dialog;
        dialog.set_for_mail(c.for_mail);
        dialog.on_init_dialog();
        EXPECT_EQ(dialog.type_list()->count(), 6);
        EXPECT_EQ(dialog.type_list()->currentIndex(), c.shown_type);
        EXPECT_EQ(dialog.size_slider()->value(), c.shown_position);
        EXPECT_TRUE(dialog.ddssr_box()->isChecked());
        EXPECT_TRUE(dialog.pacing_box()->isChecked());
        EXPECT_FALSE(dialog.ignore_time_track_box()->isChecked() || dialog.skip_24_box()->isChecked() ||
                     dialog.half_gain_box()->isChecked());
        dialog.on_ok();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(get_profile_int(kSettingsSection, level_key, -1), c.stored_after);
        EXPECT_EQ(get_profile_int(kSettingsSection, "CEF Tape Type", -1), c.shown_type);
        EXPECT_EQ(dialog.options().bit_reduction, c.stored_after);
    }
}

TEST_F(TapeDialogs, LoadingShowsTheMappingsKeepsOpenOnCancelAndEndsWithTheReader) {
    fw::ManualTimers timers;
    TapeMappings mappings;
    ASSERT_TRUE(mappings.all_mapped());
    const std::string gate = (t / "gate").string();
    TapeReader reader;  // a reader that ends when the test says so
    ASSERT_TRUE(reader.start("/bin/sh", {"-c", "while [ ! -e '" + gate + "' ]; do sleep 0.02; done; exit 112"}));
    TapeLoadSession session(mappings, reader);
    gui::TapeLoadDlg dialog(session);
    dialog.show();
    EXPECT_EQ(dialog.status_label()->text(), "IDLE");
    EXPECT_EQ(dialog.amount_label()->text(), "00:00:00");
    EXPECT_EQ(dialog.progress_bar()->maximum(), 11520000);
    EXPECT_EQ(dialog.status_label()->font().weight(), QFont::Bold);

    mappings.tape_data()->deck_state = kDeckLoading;
    mappings.control()[0].samples_written = 11059200;
    ASSERT_EQ(timers.fire_interval(500), 1);
    EXPECT_EQ(dialog.status_label()->text(), "LOADING");
    EXPECT_EQ(dialog.amount_label()->text(), "(1) 00:00:00");
    EXPECT_EQ(dialog.progress_bar()->value(), 11059200);

    for (int i = 0; i < 3; ++i) static_cast<QDialog&>(dialog).reject();  // Cancel, any number of times
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(scripted.shown.size(), 3u);
    EXPECT_EQ(scripted.shown[2].text, kPressStopText);

    testing_root::write_file(gate, "");
    for (int i = 0; i < 500 && dialog.isVisible(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        timers.fire_interval(500);
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(session.exit_code(), 112);
}

// Wendle 3, pacing and DDSSR, the slider at Largest (no bit reduction): the channels of the CEF are
// the trace's samples word for word.
TEST_F(TapeDialogs, ATapeThroughTheLoadingDialogBecomesACefOfTheTracesSamples) {
    tapegen::Options tape;
    tape.type = 2;
    tape.packets = 2000;
    const tapegen::Expected e = play(tape);
    ASSERT_FALSE(e.events.empty());
    ASSERT_FALSE(e.serial_text.empty());

    int ticks_seen = 0;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* options = dynamic_cast<gui::TapeOptionsDlg*>(&d)) {
            options->type_list()->setCurrentIndex(1);
            options->size_slider()->setValue(3);
            options->on_ok();
            return options->result();
        }
        auto* loading = dynamic_cast<gui::TapeLoadDlg*>(&d);
        EXPECT_NE(loading, nullptr);
        QObject::connect(loading->progress_bar(), &QProgressBar::valueChanged, [&] { ++ticks_seen; });
        return loading->QDialog::exec();  // shown, its own 500 ms timer
    });
    PatientDetails d;
    d.patient_name = "Doe Jane";
    d.recording_id = "ABCD1234566";
    d.description = "Tape of Jane";
    d.level = 0;
    TapeIntakeSteps s = gui::tape_dialog_steps(nullptr);
    const TapeIntakeSteps test_steps = steps({}, d);
    s.reader_program = test_steps.reader_program;
    s.ask_patient_details = test_steps.ask_patient_details;
    s.deliver = test_steps.deliver;
    const auto result = create_cef_from_tape(kTapeToFolder, s);
    ASSERT_EQ(result, TapeIntakeResult::delivered);
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_GE(ticks_seen, 1);
    EXPECT_EQ(prefilled.recorder_id, e.serial_text);
    EXPECT_EQ(prefilled.recording_date, e.recording_date);
    EXPECT_EQ(prefilled.level, 0);  // the level the options dialog just stored
    EXPECT_FALSE(asked_for_mail);
    EXPECT_EQ(delivered_name, "ABCD1234566.CEF");
    EXPECT_EQ(delivered_to, kTapeToFolder);
    EXPECT_EQ(get_profile_int(kSettingsSection, "CEF Tape Type", -1), 1);

    // Nothing of the intake is left: no mappings, no temporary files.
    EXPECT_TRUE(intake_mappings(shared_objects()).empty());
    for (const auto& name : platform::testing::sorted_names(root.tmp()))
        EXPECT_EQ(name.rfind("runtime-", 0), 0u) << name;  // Qt's own

    const std::string out = (t / "out").string();
    fs::create_directories(out);
    CefUnpacker cef((t / "delivered.CEF").string(), out);
    ASSERT_EQ(cef.get_error(), 0);
    ASSERT_TRUE(cef.unpack());
    const CefHeader& h = cef.get_description();
    EXPECT_EQ(h.kind, 1);
    EXPECT_EQ(h.channel_count, 3);
    TapeDataBlock data{};
    data.start_time_code = e.start_time_code;
    data.start_offset = e.start_offset;
    EXPECT_EQ(h.start_sample, cef_start_sample(data));
    EXPECT_EQ(get_cef_description(h), "Tape of Jane");
    ASSERT_EQ(cef.trailers().size(), 3u);
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(cef.trailers()[c].scale, 410);
        EXPECT_EQ(cef.trailers()[c].channel_value, e.channel_words[c]);
        EXPECT_EQ(cef.trailers()[c].bit_reduction, 0);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(platform::read_whole_file(out + "/RAWECG" + std::to_string(c + 1) + ".DAT", bytes));
        ASSERT_EQ(bytes.size(), 2u * static_cast<std::size_t>(e.samples_written));
        std::size_t differ = 0;
        for (std::int64_t i = 0; i < e.samples_written; ++i)
            if (load_le16(&bytes[2 * i]) != tapegen::sample_value(i, c + 1)) ++differ;
        EXPECT_EQ(differ, 0u);
    }
    std::string events;
    for (std::int32_t p : e.events) events += std::to_string(p / 128) + "\r\n";
    EXPECT_EQ(platform::read_whole_file(out + "/PATEVENT.DAT").value_or("?"), events);
    const std::string patient = platform::read_whole_file(out + "/PATIENT.TXT").value_or("");
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at <= patient.size(); at = end + 2) {
        end = patient.find("\r\n", at);
        if (end == std::string::npos) end = patient.size();
        lines.push_back(patient.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[2], "Doe Jane");
    EXPECT_EQ(lines[7], "ABCD1234566");
    EXPECT_EQ(lines[12], e.recording_date);
    EXPECT_EQ(lines[13], e.serial_text);
    EXPECT_EQ(lines[14], e.serial_text);
    EXPECT_EQ(lines[16], "--");
}

}  // namespace
}  // namespace tv::tape_test
