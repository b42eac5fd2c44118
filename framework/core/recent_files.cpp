#include "framework/core/recent_files.h"

#include <filesystem>

#include "common/files.h"
#include "common/profile.h"
#include "common/text.h"
#include "platform/fs.h"

namespace tv::fw {

bool same_file_path(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    auto norm = [&](const std::string& p) {
        fs::path abs = fs::absolute(fs::path(p), ec);
        return platform::strip_trailing_slashes(abs.lexically_normal().string());
    };
    if (norm(a) == norm(b)) return true;
    return is_same_entry(a, b);
}

RecentFileList::RecentFileList(int size, std::string section, std::string entry_format)
    : size_(size < 1 ? 1 : size), section_(std::move(section)), entry_format_(std::move(entry_format)) {}

void RecentFileList::add(const std::string& path) {
    if (path.empty()) return;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (same_file_path(items_[i], path)) {
            items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    items_.insert(items_.begin(), path);
    if (items_.size() > static_cast<std::size_t>(size_)) items_.resize(static_cast<std::size_t>(size_));
}

void RecentFileList::remove(std::size_t index) {
    if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool RecentFileList::remove_path(const std::string& path) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (same_file_path(items_[i], path)) {
            remove(i);
            return true;
        }
    }
    return false;
}

std::string recent_file_menu_text(std::size_t index, const std::string& path, std::size_t max_length) {
    std::string shown = path;
    if (shown.size() > max_length) {
        auto is_sep = [](char c) { return c == '/' || c == '\\'; };
        // The root: a leading separator, or a drive "C:" with its separator.
        std::size_t root = 0;
        if (!shown.empty() && is_sep(shown[0]))
            root = 1;
        else if (shown.size() > 2 && shown[1] == ':' && is_sep(shown[2]))
            root = 3;
        std::size_t tail = shown.size();
        for (std::size_t i = shown.size(); i-- > root;) {
            if (!is_sep(shown[i])) continue;
            if (tail != shown.size() && root + 3 + (shown.size() - i) > max_length) break;
            tail = i;
        }
        if (tail > root && tail < shown.size()) shown = shown.substr(0, root) + "..." + shown.substr(tail);
    }
    std::string text;
    const std::string number = std::to_string(index + 1);
    text = number.size() == 1 ? "&" + number : number.substr(0, number.size() - 1) + "&" + number.back();
    text += ' ';
    for (char c : shown) {
        text += c;
        if (c == '&') text += '&';
    }
    return text;
}

void RecentFileList::read_list() {
    items_.clear();
    for (int i = 1; i <= size_; ++i) {
        std::string p = get_profile_string(section_, format_string(entry_format_.c_str(), i), "");
        if (!p.empty()) items_.push_back(p);
    }
}

bool RecentFileList::write_list() const {
    bool ok = true;
    for (int i = 1; i <= size_; ++i) {
        const std::string entry = format_string(entry_format_.c_str(), i);
        if (static_cast<std::size_t>(i) <= items_.size())
            ok = write_profile_string(section_, entry, items_[static_cast<std::size_t>(i) - 1]) && ok;
        else
            delete_profile_value(section_, entry);
    }
    return ok;
}

}  // namespace tv::fw
