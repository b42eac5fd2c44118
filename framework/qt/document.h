// Documents, views and document templates. A template makes documents of one kind with their
// child frame and view; the application keeps the templates. Opening a path that is already
// open returns the open document.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "framework/core/command.h"

namespace tv::fw {

class Application;
class ChildFrame;
class DocTemplate;
class Document;

// A view: a widget that shows a document, and a command target in front of it.
class View : public QWidget, public CommandTarget {
public:
    explicit View(QWidget* parent = nullptr);
    ~View() override;
    Document* document() const { return document_; }
    ChildFrame* frame() const;  // the child frame holding the view, if any
    // After the view was attached and its frame made; default calls on_update(nullptr, 0).
    virtual void on_initial_update();
    // update_all_views: sender is the view that caused the change (it gets no call).
    virtual void on_update(View* sender, long hint, void* extra);

private:
    friend class Document;
    friend class DocTemplate;
    Document* document_ = nullptr;
};

class Document : public CommandTarget {
public:
    Document();
    ~Document() override;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const std::string& path_name() const { return path_name_; }
    // Keeps the path, sets the title to its last component and adds it to the recent list.
    void set_path_name(const std::string& path, bool add_to_recent = true);
    const std::string& title() const { return title_; }
    virtual void set_title(const std::string& title);  // also the frames' captions
    // Each window on the document shows the title; with more than one, followed by ":1", ":2"...
    void update_frame_titles();
    bool is_modified() const { return modified_; }
    void set_modified(bool on = true) { modified_ = on; }

    DocTemplate* doc_template() const { return template_; }
    const std::vector<View*>& views() const { return views_; }
    void add_view(View* view);
    void remove_view(View* view);
    void update_all_views(View* sender, long hint = 0, void* extra = nullptr);

    // Overridables (false = failed; the framework then discards the document).
    virtual bool on_new_document();
    virtual bool on_open_document(const std::string& path);
    virtual bool on_save_document(const std::string& path);
    virtual void delete_contents() {}
    // Closes every frame of the document and destroys it.
    virtual void on_close_document();
    // Asks through ui() whether to save a modified document: Yes saves (false when saving failed),
    // No discards, Cancel answers false.
    virtual bool save_modified();
    // A frame of the document is about to close; true allows it (asks save_modified for the last).
    virtual bool can_close_frame(ChildFrame* frame);
    bool do_file_save();

private:
    friend class DocTemplate;
    DocTemplate* template_ = nullptr;
    std::string path_name_, title_;
    bool modified_ = false;
    std::vector<View*> views_;
};

// Indexes of the document strings (the framework's document-string layout).
enum class DocString { WindowTitle = 0, DocName, FileNewName, FilterName, FilterExt, RegFileTypeId, RegFileTypeName };

class DocTemplate {
public:
    using DocFactory = std::function<std::unique_ptr<Document>()>;
    using ViewFactory = std::function<View*(Document&)>;  // a new, parentless view

    // doc_strings: "\n"-separated as in the resources; index 5 is the file-type id.
    DocTemplate(int resource_id, const std::string& doc_strings, DocFactory make_document, ViewFactory make_view);
    virtual ~DocTemplate();

    int resource_id() const { return resource_id_; }
    std::string doc_string(DocString index) const;
    std::string file_type_id() const { return doc_string(DocString::RegFileTypeId); }
    // Extension matching against FilterExt (case-insensitive); ".x" patterns separated by ';'.
    bool matches_extension(const std::string& path) const;

    const std::vector<std::unique_ptr<Document>>& documents() const { return documents_; }
    Document* find_document(const std::string& path) const;

    // Empty path = a new document. Makes the document, its child frame and view in the
    // application's main frame (when there is one), and shows the frame when visible is true.
    // nullptr when opening failed (the failed document is gone).
    virtual Document* open_document_file(const std::string& path, bool visible = true);
    // A further frame with a new view on an open document (Window | New Window).
    ChildFrame* create_new_frame(Document& doc);
    // Destroys the document (its frames are closed first).
    void remove_document(Document* doc);
    void close_all_documents();

    Application* application() const { return app_; }

private:
    friend class Application;
    int resource_id_;
    std::vector<std::string> strings_;
    DocFactory make_document_;
    ViewFactory make_view_;
    std::vector<std::unique_ptr<Document>> documents_;
    Application* app_ = nullptr;
};

// A document template's makers; empty when the kind of window is not part of this build.
struct TemplateParts {
    DocTemplate::DocFactory make_document;
    DocTemplate::ViewFactory make_view;
    explicit operator bool() const { return make_document && make_view; }
};

}  // namespace tv::fw
