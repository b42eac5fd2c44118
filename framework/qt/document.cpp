#include "framework/qt/document.h"

#include <algorithm>

#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/qt_text.h"
#include "platform/ascii.h"
#include "platform/fs.h"

namespace tv::fw {

// --- View

View::View(QWidget* parent) : QWidget(parent) {}

View::~View() {
    if (document_) document_->remove_view(this);
}

ChildFrame* View::frame() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* f = dynamic_cast<ChildFrame*>(w)) return f;
    return nullptr;
}

void View::on_initial_update() { on_update(nullptr, 0, nullptr); }

void View::on_update(View*, long, void*) { update(); }

// --- Document

Document::Document() = default;

Document::~Document() {
    for (View* v : views_) v->document_ = nullptr;
}

void Document::set_path_name(const std::string& path, bool add_to_recent) {
    path_name_ = path;
    std::string title = platform::strip_trailing_slashes(path);
    if (auto slash = title.find_last_of('/'); slash != std::string::npos && title.size() > 1)
        title = title.substr(slash + 1);
    set_title(title);
    if (add_to_recent && template_ && template_->application()) template_->application()->add_to_recent_file_list(path);
}

void Document::set_title(const std::string& title) {
    title_ = title;
    update_frame_titles();
}

void Document::update_frame_titles() {
    std::vector<ChildFrame*> frames;
    for (View* v : views_)
        if (ChildFrame* f = v->frame(); f && std::find(frames.begin(), frames.end(), f) == frames.end())
            frames.push_back(f);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i]->setWindowTitle(to_qstring(frames.size() > 1 ? title_ + ":" + std::to_string(i + 1) : title_));
}

void Document::add_view(View* view) {
    if (!view || std::find(views_.begin(), views_.end(), view) != views_.end()) return;
    if (view->document_ && view->document_ != this) view->document_->remove_view(view);
    views_.push_back(view);
    view->document_ = this;
}

void Document::remove_view(View* view) {
    auto it = std::find(views_.begin(), views_.end(), view);
    if (it == views_.end()) return;
    views_.erase(it);
    view->document_ = nullptr;
    update_frame_titles();
}

void Document::update_all_views(View* sender, long hint, void* extra) {
    // A view may react by closing another: walk a copy and skip views that left.
    const std::vector<View*> views = views_;
    for (View* v : views) {
        if (v == sender || std::find(views_.begin(), views_.end(), v) == views_.end()) continue;
        v->on_update(sender, hint, extra);
    }
}

bool Document::on_new_document() {
    delete_contents();
    path_name_.clear();
    set_modified(false);
    return true;
}

bool Document::on_open_document(const std::string&) {
    delete_contents();
    set_modified(false);
    return true;
}

bool Document::on_save_document(const std::string&) {
    set_modified(false);
    return true;
}

void Document::on_close_document() {
    if (template_) {
        template_->remove_document(this);  // destroys this document
        return;
    }
    const std::vector<View*> views = views_;
    views_.clear();
    for (View* v : views) {
        v->document_ = nullptr;
        if (ChildFrame* f = v->frame()) f->close_silently();
    }
    delete_contents();
}

bool Document::save_modified() {
    if (!is_modified()) return true;
    std::string name = title_.empty() ? std::string("Untitled") : title_;
    switch (ui().message_box("Save changes to " + name + "?", {}, MsgIcon::Warning, MsgButtons::YesNoCancel)) {
        case MsgResult::Yes: return do_file_save();
        case MsgResult::No: return true;
        default: return false;
    }
}

bool Document::can_close_frame(ChildFrame*) {
    // Only the last view's frame closes the document, so only then is there anything to lose.
    if (views_.size() > 1) return true;
    return save_modified();
}

bool Document::do_file_save() {
    if (!on_save_document(path_name_)) return false;
    set_modified(false);
    return true;
}

// --- DocTemplate

DocTemplate::DocTemplate(int resource_id, const std::string& doc_strings, DocFactory make_document,
                         ViewFactory make_view)
    : resource_id_(resource_id), make_document_(std::move(make_document)), make_view_(std::move(make_view)) {
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = doc_strings.find('\n', start);
        strings_.push_back(doc_strings.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
}

DocTemplate::~DocTemplate() { close_all_documents(); }

std::string DocTemplate::doc_string(DocString index) const {
    auto i = static_cast<std::size_t>(index);
    return i < strings_.size() ? strings_[i] : std::string();
}

bool DocTemplate::matches_extension(const std::string& path) const {
    const std::string filter = doc_string(DocString::FilterExt);
    auto lower = [](std::string s) {
        for (char& c : s) c = platform::ascii_lower(c);
        return s;
    };
    const std::string p = lower(path);
    std::size_t start = 0;
    while (start <= filter.size()) {
        std::size_t end = filter.find(';', start);
        std::string ext = lower(filter.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!ext.empty() && ext[0] == '*') ext.erase(0, 1);
        if (!ext.empty() && p.size() >= ext.size() && p.compare(p.size() - ext.size(), ext.size(), ext) == 0)
            return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

Document* DocTemplate::find_document(const std::string& path) const {
    for (const auto& d : documents_)
        if (same_file_path(d->path_name(), path)) return d.get();
    return nullptr;
}

Document* DocTemplate::open_document_file(const std::string& path, bool visible) {
    if (!make_document_) return nullptr;
    std::unique_ptr<Document> made = make_document_();
    if (!made) return nullptr;
    Document* doc = made.get();
    doc->template_ = this;
    documents_.push_back(std::move(made));
    const bool ok = path.empty() ? doc->on_new_document() : doc->on_open_document(path);
    if (!ok) {
        remove_document(doc);
        return nullptr;
    }
    if (!path.empty()) {
        doc->set_path_name(path);
    } else if (doc->title().empty()) {
        std::string base = doc_string(DocString::DocName);
        doc->set_title((base.empty() ? std::string("Untitled") : base) + std::to_string(documents_.size()));
    }
    if (ChildFrame* frame = create_new_frame(*doc)) {
        if (visible) {
            if (app_ && app_->main_frame())
                app_->main_frame()->show_child(frame);
            else
                frame->show();
        }
    }
    return doc;
}

ChildFrame* DocTemplate::create_new_frame(Document& doc) {
    if (!make_view_ || !app_ || !app_->main_frame()) return nullptr;
    View* view = make_view_(doc);
    if (!view) return nullptr;
    doc.add_view(view);
    auto* frame = new ChildFrame(&doc, view);
    doc.update_frame_titles();
    app_->main_frame()->add_child(frame, false);
    view->on_initial_update();
    return frame;
}

void DocTemplate::remove_document(Document* doc) {
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == doc; });
    if (it == documents_.end()) return;
    const std::vector<View*> views = doc->views_;
    doc->views_.clear();
    for (View* v : views) {
        v->document_ = nullptr;
        if (ChildFrame* f = v->frame()) f->close_silently();
    }
    doc->delete_contents();
    std::unique_ptr<Document> gone = std::move(*it);
    documents_.erase(it);
}

void DocTemplate::close_all_documents() {
    while (!documents_.empty()) remove_document(documents_.back().get());
}

}  // namespace tv::fw
