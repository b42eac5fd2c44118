#include "tolbex/letters/word_processor.h"

#include <cstdint>

#include "common/safe_open.h"
#include "platform/fs.h"

namespace tv::letters {

namespace {
constexpr std::uint64_t kDocumentMax = 64ull << 20;  // far above any letter or template
}  // namespace

bool TextWordProcessor::open(const std::string& path) {
    const std::optional<std::string> read = read_outside_text(path, kDocumentMax);
    if (!read) return false;
    const std::string& bytes = *read;
    text_.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text_ += bytes[i];
    open_ = true;
    return true;
}

bool TextWordProcessor::save(const std::string& path) { return open_ && platform::atomic_write_file(path, text_); }

std::string TextWordProcessor::text() {
    if (!open_) throw WordProcessorError("no document is open");
    return text_;
}

void TextWordProcessor::replace(std::size_t start, std::size_t end, const std::string& replacement) {
    if (!open_ || start > end || end > text_.size()) throw WordProcessorError("range outside the document");
    text_.replace(start, end - start, replacement);
}

void TextWordProcessor::close() {
    text_.clear();
    open_ = false;
}

}  // namespace tv::letters
