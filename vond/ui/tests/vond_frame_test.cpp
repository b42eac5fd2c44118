// vond's frame and its drive prompt and conditioning progress, offscreen.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <filesystem>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "platform/drives.h"
#include "platform/handles.h"
#include "vond/messages.h"
#include "vond/ui/vond_frame.h"
#include "vond/ui/tests/vond_ui_test.h"
#include "vond/ui/vond_windows.h"

namespace {

namespace fs = std::filesystem;

class VondFrameTest : public tv::vond::test::VondUiTest {
protected:
    // A labelled drive-map card holding the four card files (contents do not matter to the search).
    void card(char letter) {
        const fs::path c = t / "cards" / std::string(1, letter);
        fs::create_directories(c);
        for (const char* n : {"config.dat", "cnav.dat", "patient.wav", "ecg.dat"})
            tv::platform::open_file((c / n).string(), "w");
        tv::platform::MappedDrive d;
        d.letter = letter;
        d.folder = c.string();
        d.label = "QUX_CFR";
        d.capacity = 4 << 20;
        ASSERT_TRUE(tv::platform::map_drive(d));
    }
    template <class W>
    static W* child(QWidget& w, const char* name) {
        auto* c = w.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
};

TEST_F(VondFrameTest, FrameHoldsAnEmptyDocumentAndFollowsTheShowState) {
    {
        tv::vond::VondFrame hidden(tv::vond::FrameState::Hidden);
        ASSERT_NE(hidden.main_frame(), nullptr);
        EXPECT_FALSE(hidden.main_frame()->isVisible());
        EXPECT_EQ(hidden.main_frame()->resource_id(), 128);
        EXPECT_EQ(tv::from_qstring(hidden.main_frame()->windowTitle()), "Ostrabel CF Interface Program");
        ASSERT_NE(hidden.document(), nullptr);
        EXPECT_EQ(hidden.application().documents().size(), 1u);
        EXPECT_EQ(hidden.document()->views().size(), 1u);
        EXPECT_TRUE(hidden.document()->on_save_document((t / "never").string()));
        EXPECT_FALSE(fs::exists(t / "never"));
        EXPECT_EQ(tv::fw::app(), &hidden.application());
    }
    EXPECT_EQ(tv::fw::app(), nullptr);
    tv::vond::VondFrame shown(tv::vond::FrameState::Minimised);
    EXPECT_TRUE(shown.main_frame()->isVisible());
    EXPECT_TRUE(shown.main_frame()->isMinimized());
}

TEST_F(VondFrameTest, WindowsMakeTheFrameWithTheirFirstWindowOnly) {
    tv::vond::QtVondWindows w;
    w.start(10);
    EXPECT_FALSE(w.active());
    EXPECT_EQ(w.frame(), nullptr);
    auto p = w.open_progress(true);
    ASSERT_TRUE(w.active());
    EXPECT_EQ(w.frame()->state(), tv::vond::FrameState::Hidden);
    EXPECT_FALSE(w.frame()->main_frame()->isVisible());
    // Conditioning counts the sectors of large cards: no 16-bit wrap.
    p->set_range(5000000);
    p->set_position(2500000);
    p.reset();
    w.finish();
    EXPECT_FALSE(w.active());

    tv::vond::QtVondWindows m;
    m.start(14);
    auto q = m.open_progress(false);
    EXPECT_TRUE(m.frame()->main_frame()->isMinimized());
}

TEST_F(VondFrameTest, ProgressBarsShowTheClampedRange) {
    tv::vond::QtVondWindows w;
    auto p = w.open_progress(false);
    QProgressBar* bar = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "readProgress" && top->isVisible()) bar = top->findChild<QProgressBar*>("progressBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->maximum(), 100);
    p->set_range(70000);
    p->set_position(80000);
    EXPECT_EQ(bar->maximum(), 65535);
    EXPECT_EQ(bar->value(), 65535);
}

TEST_F(VondFrameTest, DrivePromptChoosesSearchesAgainAndCancels) {
    card('E');
    card('F');
    tv::vond::QtVondWindows w;
    tv::vond::DrivePromptRules rules('?', false);
    rules.search();
    std::string text;
    int rows = 0;
    tv::fw::Dialog::set_test_hook([&](tv::fw::Dialog& d) {
        text = tv::from_qstring(child<QLabel>(d, "promptText")->text());
        auto* list = child<QListWidget>(d, "drives");
        rows = list->count();
        list->setCurrentRow(1);
        child<QPushButton>(d, "ok")->click();
        return d.result();
    });
    w.choose_drive(rules);
    EXPECT_EQ(text, tv::vond::message_text(151));
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(rules.outcome(), tv::vond::DrivePromptRules::Outcome::Chosen);
    EXPECT_EQ(rules.result().letter, 'F');

    rules.search();
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        child<QPushButton>(d, "searchAgain")->click();
        return d.result();
    });
    w.choose_drive(rules);
    EXPECT_EQ(rules.outcome(), tv::vond::DrivePromptRules::Outcome::SearchAgain);

    rules.search();
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        child<QPushButton>(d, "cancel")->click();
        return d.result();
    });
    w.choose_drive(rules);
    EXPECT_EQ(rules.outcome(), tv::vond::DrivePromptRules::Outcome::Cancelled);
    EXPECT_TRUE(rules.result().several);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(VondFrameTest, DrivePromptWithNothingToChooseKeepsOkOff) {
    tv::vond::QtVondWindows w;
    tv::vond::DrivePromptRules rules('?', true);
    rules.search();
    bool ok_enabled = true;
    std::string text;
    tv::fw::Dialog::set_test_hook([&](tv::fw::Dialog& d) {
        ok_enabled = child<QPushButton>(d, "ok")->isEnabled();
        text = tv::from_qstring(child<QLabel>(d, "promptText")->text());
        d.on_cancel();  // Escape
        return d.result();
    });
    w.choose_drive(rules);
    EXPECT_FALSE(ok_enabled);
    EXPECT_EQ(text, tv::vond::message_text(200));
    EXPECT_EQ(rules.result().letter, '?');
}

TEST_F(VondFrameTest, CardDialogInitialisesAndClosesTheProgram) {
    const fs::path c = t / "cards" / "E";
    fs::create_directories(c);
    tv::platform::MappedDrive d;
    d.letter = 'E';
    d.folder = c.string();
    d.label = "QUX_CFR";
    d.capacity = 1 << 20;
    ASSERT_TRUE(tv::platform::map_drive(d));
    tv::vond::CardDisk disk;
    disk.set_mode(2);
    tv::vond::CardDialogRules rules(disk, t.string());
    rules.drive = "E:";
    rules.close_after_init = true;
    rules.automatic = false;
    tv::vond::QtVondWindows w;
    tv::vond::set_windows(&w);
    scripted.answers.push_back(tv::MsgResult::Yes);  // condition the card
    std::string drive_text;
    tv::fw::Dialog::set_test_hook([&](tv::fw::Dialog& dlg) {
        drive_text = tv::from_qstring(child<QComboBox>(dlg, "driveLetter")->currentText());
        child<QLineEdit>(dlg, "patientName")->setText("DOE");
        child<QPushButton>(dlg, "initialiseCard")->click();
        return dlg.result();
    });
    EXPECT_EQ(w.show_card_dialog(rules), -1);
    tv::vond::set_windows(nullptr);
    EXPECT_EQ(drive_text, "E");
    EXPECT_EQ(rules.name, "DOE");
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text, tv::vond::message_text(130));
    EXPECT_EQ(fs::file_size(c / "config.dat"), 512u);
    EXPECT_TRUE(w.active());  // the frame came with the dialog
}

}  // namespace

namespace {

// Sets or clears an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvOverride() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(VondFrameTest, AnUnreachableDisplayIsNoScreen) {
    // Qt would end the process on a display it cannot reach; such a run keeps its safe answers.
    EnvOverride platform("QT_QPA_PLATFORM", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    {
        EnvOverride display("DISPLAY", ":97");
        EXPECT_FALSE(tv::vond::QtVondWindows::user_can_answer());
    }
    {
        EnvOverride display("DISPLAY", ":x");
        EXPECT_FALSE(tv::vond::QtVondWindows::user_can_answer());
    }
    EnvOverride no_display("DISPLAY", nullptr);
    EXPECT_FALSE(tv::vond::QtVondWindows::user_can_answer());
    // A display server listening on its socket is a screen a person can answer at.
    const std::string path = (t / "wayland-0").string();
    tv::platform::UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(listener);
    const int fd = listener.get();
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    std::memcpy(a.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    {
        EnvOverride w("WAYLAND_DISPLAY", path.c_str());
        EXPECT_TRUE(tv::vond::QtVondWindows::user_can_answer());
    }
    listener.reset();
    {
        EnvOverride w("WAYLAND_DISPLAY", path.c_str());
        EXPECT_FALSE(tv::vond::QtVondWindows::user_can_answer());  // nobody listens any more
    }
    // Offscreen is a screen, but nobody answers at it.
    EnvOverride offscreen("QT_QPA_PLATFORM", "offscreen");
    EXPECT_FALSE(tv::vond::QtVondWindows::user_can_answer());
}

}  // namespace
