// The word processor as the letter code drives it: the document is seen as one text, paragraphs
// separated by '\n' (Windows-1252), and edited by replacing character ranges of that text. The
// searches run on that text in the letter code, so every backend finds exactly the same markers.
#pragma once
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tv::letters {

// Any failure of the word processor once it runs (and failure to start it).
class WordProcessorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One replacement of the document text: characters [start, end) become `text`.
struct TextEdit {
    std::size_t start = 0, end = 0;
    std::string text;
};

class WordProcessor {
public:
    virtual ~WordProcessor() = default;
    // Opens a document; false when it cannot be opened.
    virtual bool open(const std::string& path) = 0;
    // Saves the open document under path (".doc": the Word 97 format). False on failure.
    virtual bool save(const std::string& path) = 0;
    // The open document's text. Throws WordProcessorError.
    virtual std::string text() = 0;
    // Replaces characters [start, end) of text() by replacement (a '\n' in the range joins two
    // paragraphs). Throws WordProcessorError.
    virtual void replace(std::size_t start, std::size_t end, const std::string& replacement) = 0;
    // The edits in order, each on the text as the ones before it left it; one exchange with a
    // word processor that costs a round trip per call. Throws WordProcessorError (the edits
    // before the failing one may have been made).
    virtual void replace_all(const std::vector<TextEdit>& edits) {
        for (const TextEdit& e : edits) replace(e.start, e.end, e.text);
    }
    // Positions in text() of the '\n's that end a table cell, header, footer or frame rather
    // than a paragraph, ascending; no replace may span one. Throws WordProcessorError.
    virtual std::vector<std::size_t> part_breaks() { return {}; }
    // Closes the document without saving; never throws.
    virtual void close() = 0;
};

// A plain text file as the document (tests and a site without a word processor): open reads the
// file, save writes the text as it stands, CR LF read as a paragraph break.
class TextWordProcessor : public WordProcessor {
public:
    bool open(const std::string& path) override;
    bool save(const std::string& path) override;
    std::string text() override;
    void replace(std::size_t start, std::size_t end, const std::string& replacement) override;
    void close() override;

private:
    std::string text_;
    bool open_ = false;
};

}  // namespace tv::letters
