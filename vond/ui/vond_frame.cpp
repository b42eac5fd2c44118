#include "vond/ui/vond_frame.h"

#include "framework/qt/qt_text.h"
#include "vond/messages.h"

namespace tv::vond {

VondFrame::VondFrame(FrameState state) : state_(state) {
    app_.add_doc_template(std::make_unique<fw::DocTemplate>(
        kVondTemplateResource, kVondDocStrings, [] { return std::make_unique<CVondDoc>(); },
        [](fw::Document&) -> fw::View* { return new CVondView; }));
    app_.set_show_cmd(state == FrameState::Hidden ? 0 : 6);
    frame_ = std::make_unique<CMainFrame>(app_);
    frame_->setObjectName("vondMainFrame");
    frame_->setWindowTitle(to_qstring(message_text(133)));
    document_ = static_cast<CVondDoc*>(app_.doc_templates().front()->open_document_file({}, false));
    if (state == FrameState::Minimised) frame_->showMinimized();
}

VondFrame::~VondFrame() {
    // Documents first: their frames live inside the main frame.
    app_.close_all_documents();
    if (frame_) frame_->hide();
    frame_.reset();
}

}  // namespace tv::vond
