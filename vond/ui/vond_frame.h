// vond's single-document structure. It exists only to give the program a main window and a message
// loop: the document and the view hold nothing, and the frame stays hidden or minimised.
#pragma once
#include <memory>
#include <string>

#include "framework/qt/application.h"
#include "framework/qt/document.h"
#include "framework/qt/frame.h"
#include "vond/dialogs.h"

namespace tv::vond {

inline constexpr int kVondTemplateResource = 128;
inline constexpr const char* kVondDocStrings = "\nVond\nVond\n\n\nVond.Document\nVond Document";

class CVondDoc : public fw::Document {
public:
    // Nothing is kept, so storing always succeeds without writing.
    bool on_save_document(const std::string&) override { return true; }
};

class CVondView : public fw::View {
protected:
    void paintEvent(QPaintEvent*) override {}
};

class CMainFrame : public fw::MainFrame {
public:
    explicit CMainFrame(fw::Application& app) : fw::MainFrame(app, kVondTemplateResource) {}
};

// The template, the frame titled with the program's name, shown in `state`, and the empty
// document. Needs the QApplication.
class VondFrame {
public:
    explicit VondFrame(FrameState state);
    ~VondFrame();
    VondFrame(const VondFrame&) = delete;
    VondFrame& operator=(const VondFrame&) = delete;

    fw::Application& application() { return app_; }
    CMainFrame* main_frame() const { return frame_.get(); }
    CVondDoc* document() const { return document_; }
    FrameState state() const { return state_; }

private:
    FrameState state_;
    fw::Application app_;
    std::unique_ptr<CMainFrame> frame_;
    CVondDoc* document_ = nullptr;
};

}  // namespace tv::vond
