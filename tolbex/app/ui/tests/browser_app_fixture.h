// The running application on an archive group of the test's own, offscreen: the application core
// and its windows, the group's browser, and the steps the scenario tests take in it. A test's
// SetUp puts the pieces together in its order (make_group, its own files, start_app,
// open_browser); TearDown closes the windows before the core and forgets the report handlers.
#pragma once
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/audit_log.h"
#include "framework/qt/frame.h"
#include "platform/system.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv::uitest {

using Texts = std::vector<std::string>;

// Today's audit log messages of an archive folder, oldest first; none when there is no log.
inline Texts audit_messages(const std::filesystem::path& archive) {
    Texts out;
    for (const auto& r :
         read_audit_log_file(AuditLog::make_file_name(archive.string(), platform::system().now())).records)
        out.push_back(r.message);
    return out;
}

// Applies `change` to the application's settings, with logging on.
inline void set_settings(CTolbexApp& app, const std::function<void(TolbexSettings&)>& change = {}) {
    TolbexSettings settings = app.settings();
    settings.switches.logging_enabled = true;
    if (change) change(settings);
    app.set_settings(std::move(settings));
}

class BrowserAppTest : public UiRootTest {
protected:
    // The tests' own words, without using-declarations of their own.
    using Texts = uitest::Texts;
    static void settle() { uitest::settle(); }

    // `clinic_code`: the machine's default clinic code, set before anything else; none when empty.
    explicit BrowserAppTest(std::string clinic_code = {}) : clinic_code_(std::move(clinic_code)) {}

    void SetUp() override {
        UiRootTest::SetUp();
        if (!clinic_code_.empty()) {
            ASSERT_TRUE(set_default_clinic_code(clinic_code_));
        }
    }
    void TearDown() override {
        close_app();
        UiRootTest::TearDown();
    }

    // The group in root/GROUP with these archives and reports; the path of its index.
    const std::string& make_group(const std::vector<testing_root::TestArchive>& archives) {
        group = std::filesystem::path(root.path()) / "GROUP";
        group_index = testing_root::make_test_group(group, archives);
        return group_index;
    }
    std::filesystem::path report_folder(const std::string& name) const { return group / "STANDARD" / name; }
    // Turns a report of the group into a formatted one of a single text page.
    void make_formatted(const std::string& name, const std::string& page_text) const {
        const std::filesystem::path folder = report_folder(name);
        testing_root::write_file(folder / "SUMMARY.TXT", "x\r\n");
        testing_root::write_file(folder / "PAGE.0", testing::label_record());
        testing_root::write_file(folder / "PAGE.1", testing::text_record(3200, 6400, page_text));
    }

    // The core and its windows, started as the program starts them; logging on unless told.
    bool start_app(bool logging = true) {
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        if (!windows->init_instance({})) return false;
        if (logging) set_settings();
        return true;
    }
    // Windows first: they still use the core while they close.
    void close_app() {
        browser = nullptr;
        windows.reset();
        core.reset();
        clear_report_handlers();
    }
    void set_settings(const std::function<void(TolbexSettings&)>& change = {}) { uitest::set_settings(*core, change); }

    // Opens the browser on a group index (this test's group by default), or brings back the one
    // open on it, lets it settle and forgets what was shown so far. Null when it does not open.
    gui::CBrowserFrame* open_browser(const std::string& index = {}) {
        gui::CBrowserListDoc* doc = gui::open_archive_group(index.empty() ? group_index : index);
        browser = doc ? dynamic_cast<gui::CBrowserFrame*>(doc->views().front()) : nullptr;
        settle();
        scripted.shown.clear();
        return browser;
    }
    gui::CBrowserListView& list() { return *browser->list_view(); }
    // The first row of that description; -1 when there is none.
    int item_named(const std::string& description) {
        for (int i = 0; i < list().list_model().item_count(); ++i)
            if (list().list_model().item_text(i, 0) == description) return i;
        return -1;
    }
    // Selects every row of those descriptions (none: nothing selected); their descriptions in list
    // order. A description without a row fails the test.
    Texts select(const Texts& descriptions) {
        std::vector<int> items;
        Texts selected;
        for (int i = 0; i < list().list_model().item_count(); ++i) {
            const std::string text = list().list_model().item_text(i, 0);
            if (std::find(descriptions.begin(), descriptions.end(), text) == descriptions.end()) continue;
            items.push_back(i);
            selected.push_back(text);
        }
        for (const std::string& d : descriptions)
            if (std::find(selected.begin(), selected.end(), d) == selected.end()) ADD_FAILURE() << "no row of " << d;
        list().select_items(items);
        return selected;
    }
    // Whether the browser offers the command for the rows selected now.
    bool enabled(fw::CommandId id) {
        fw::CommandUi u(id);
        list().update_state(u);
        return u.enabled();
    }
    // Runs a browser command on the rows of those descriptions, each found once, from an empty
    // message list, and lets what it posted run. False when a row is missing or the command is not run.
    bool run(fw::CommandId command, const Texts& descriptions) {
        if (select(descriptions).size() != descriptions.size()) return false;
        scripted.shown.clear();
        const bool ran = browser->execute(command);
        settle();
        return ran;
    }

    // The main window's child frames showing a document of that kind, and those documents.
    template <class Doc>
    std::vector<fw::ChildFrame*> frames_of() const {
        std::vector<fw::ChildFrame*> out;
        for (fw::ChildFrame* f : windows->main_frame()->child_frames())
            if (dynamic_cast<Doc*>(f->active_document())) out.push_back(f);
        return out;
    }
    template <class Doc>
    std::vector<Doc*> documents_of() const {
        std::vector<Doc*> out;
        for (fw::ChildFrame* f : frames_of<Doc>()) out.push_back(dynamic_cast<Doc*>(f->active_document()));
        return out;
    }

    Texts audit_messages(const std::string& archive = "STANDARD") const {
        return uitest::audit_messages(group / archive);
    }

    std::filesystem::path group;
    std::string group_index;
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
    gui::CBrowserFrame* browser = nullptr;

private:
    std::string clinic_code_;
};

}  // namespace tv::uitest
