// A hidden "/compresscf" that needs the operator: the program brings up its own windows, and the
// operator (played here through a timer, as a user at the screen would act) answers them.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "common/bytes.h"
#include "common/registry.h"
#include "formats/cef.h"
#include "framework/qt/qt_text.h"
#include "testing/app_test_root.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/intake/ui/intake_dialogs.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

class CompressCfWindowsTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        register_tolbex_strings();
        gui::connect_intake_to_application();
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
        rec = t / "REC";
        fs::create_directories(rec);
        write(rec / "PATSUMM.DAT", "Doe Jane\r\nP123\r\n01/02/2003 10:20:31\r\nREC9\r\n1\r\n3\r\n24\r\n\r\n\r\n");
        write(rec / "OTHER.DAT", std::string(832, 'o'));
        profile = t / "req.ini";
        write(profile, "[Patient Details]\r\nPatientName=doe jane\r\nPatientId=p123\r\nRecordingID=ABCD1234566\r\n");
        // The starter the program offers, with the operator's hands armed once the windows are up.
        set_intake_window_starter([this]() -> std::shared_ptr<void> {
            auto held = std::make_shared<Held>();
            held->windows = gui::start_request_windows();
            if (!held->windows) return nullptr;
            held->timer = std::make_unique<QTimer>();
            QObject::connect(held->timer.get(), &QTimer::timeout, [this] { act(); });
            held->timer->start(10);
            return held;
        });
    }
    void TearDown() override {
        set_intake_window_starter({});
        set_compress_cf_action({});
        RootTest::TearDown();
    }

    void three_channels() {
        std::string words;
        for (int n = 0; n < 5000; ++n)
            for (std::uint16_t w : {0, 3, 100, 4090}) append_le16(words, w);
        for (int c = 1; c <= 3; ++c) write(rec / ("RAWECG" + std::to_string(c) + ".DAT"), words);
    }
    void twelve_leads() {
        // Each file's own header: one byte, its length (5), two more bytes; samples follow.
        const std::string file = std::string("\x01\x05\x00HH", 5) + std::string(4000, 'w');
        for (int c = 1; c <= 8; ++c) write(rec / ("os12ecg" + std::to_string(c) + ".dat"), file);
    }

    // The program's own hidden start, as a caller runs it.
    int run(std::vector<std::string> operands) {
        operands.insert(operands.begin(), {"/compresscf", rec.string(), profile.string()});
        CTolbexApp app;
        EXPECT_TRUE(app.init_instance_headless(operands));
        return app.exit_instance();
    }

    // What the operator does with the window in front of them.
    void act() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            shown.push_back("message: " + from_qstring(box->text()));
            box->reject();
        } else if (auto* details = dynamic_cast<gui::PatientDetailsDlg*>(w)) {
            shown.push_back("Patient Details: " + from_qstring(details->field("Patient Name:")->text()));
            details->field("Description of recording:")->setText(QStringLiteral("Holter of Jane Doe"));
            auto* buttons = details->findChild<QDialogButtonBox*>();
            buttons->button(press_ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        } else if (auto* save = qobject_cast<QFileDialog*>(w)) {
            shown.push_back("Save: " + from_qstring(save->windowTitle()));
            save->selectFile(to_qstring(chosen.string()));
            static_cast<QDialog*>(save)->accept();  // as the Save button does
        }
    }

    struct Held {
        std::shared_ptr<void> windows;
        std::unique_ptr<QTimer> timer;  // goes before the windows it acts on
    };
    fs::path rec, profile, chosen;
    bool press_ok = true;
    std::vector<std::string> shown;
};

TEST_F(CompressCfWindowsTest, TheOperatorConfirmsThePatientDetails) {
    three_channels();
    const QCoreApplication* before = QApplication::instance();
    ASSERT_EQ(run({"4"}), 0);
    EXPECT_EQ(shown, std::vector<std::string>{"Patient Details: Doe Jane"});
    CefHeader h;
    ASSERT_TRUE(read_cef_header((rec / "ABCD1234566.CEF").string(), h));
    EXPECT_EQ(get_cef_description(h), "Holter of Jane Doe");
    EXPECT_EQ(h.channel_count, 3);
    EXPECT_EQ(QApplication::instance(), before);  // the windows went with the request

    fs::remove(rec / "ABCD1234566.CEF");
    shown.clear();
    press_ok = false;
    EXPECT_EQ(run({"4"}), kCompressCfCancelled);
    EXPECT_EQ(shown, std::vector<std::string>{"Patient Details: Doe Jane"});
    EXPECT_FALSE(fs::exists(rec / "ABCD1234566.CEF"));
}

TEST_F(CompressCfWindowsTest, ATwelveLeadRecordingIsSavedWhereTheOperatorChooses) {
    twelve_leads();
    fs::create_directories(t / "chosen");
    chosen = t / "chosen" / "picked.CEF";
    ASSERT_EQ(run({"4", "y"}), 0);
    EXPECT_EQ(shown, std::vector<std::string>{"Save: Saving Compressed ECG File"});
    CefHeader h;
    ASSERT_TRUE(read_cef_header(chosen.string(), h));
    EXPECT_EQ(h.kind, kCefKindTwelveLead);
    EXPECT_EQ(h.channel_count, 8);
    EXPECT_FALSE(fs::exists(rec / "ABCD1234566.CEF"));
}

}  // namespace
}  // namespace tv
