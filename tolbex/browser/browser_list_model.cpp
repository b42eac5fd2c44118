#include "tolbex/browser/browser_list_model.h"

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "common/values.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

namespace {

bool is_delimiter(char c) { return kSearchDelimiters.find(c) != std::string_view::npos; }

std::string strip_upper(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!is_delimiter(c)) out.push_back(ascii_upper(c));
    return out;
}

char soundex_digit(unsigned char c) {
    switch (c) {
        case 'B':
        case 'F':
        case 'P':
        case 'V':
        case 'b':
        case 'f':
        case 'p':
        case 'v': return '1';
        case 'C':
        case 'G':
        case 'J':
        case 'K':
        case 'Q':
        case 'S':
        case 'X':
        case 'Z':
        case 'c':
        case 'g':
        case 'j':
        case 'k':
        case 'q':
        case 's':
        case 'x':
        case 'z':
        case 0x80:
        case 0x87: return '2';
        case 'D':
        case 'T':
        case 'd':
        case 't': return '3';
        case 'L':
        case 'l': return '4';
        case 'M':
        case 'N':
        case 'm':
        case 'n':
        case 0xA4:
        case 0xA5: return '5';
        case 'R':
        case 'r': return '6';
        default: return '0';
    }
}

// Calls `f` with each word (upper-cased when `upper`), at most `max` of them; false from `f` stops.
template <typename F>
void for_each_word(std::string_view text, std::size_t max, F&& f) {
    std::size_t count = 0, i = 0;
    while (i < text.size() && count < max) {
        while (i < text.size() && is_delimiter(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !is_delimiter(text[i])) ++i;
        if (i > start) {
            ++count;
            if (!f(text.substr(start, i - start))) return;
        }
    }
}

}  // namespace

std::string soundex_code(std::string_view word) {
    if (word.empty()) return "000";
    std::string code(1, ascii_upper(word[0]));
    // The first digit is compared with the letter itself, so it always stays.
    char previous = 0;
    for (std::size_t i = 1; i < word.size() && code.size() < 4; ++i) {
        const char d = soundex_digit(static_cast<unsigned char>(word[i]));
        if (d != previous && d != '0') code.push_back(d);
        previous = d;
    }
    while (code.size() < 4) code.push_back('0');
    return code;
}

std::vector<std::string> split_search_words(std::string_view text, std::size_t max_words) {
    std::vector<std::string> words;
    for_each_word(text, max_words, [&](std::string_view w) {
        words.emplace_back(w);
        return true;
    });
    return words;
}

SearchMatcher::SearchMatcher(int mode, std::string_view text) : mode_(mode) {
    if (mode_ == kSearchPartOfWord) {
        stripped_ = strip_upper(text);
        return;
    }
    for (auto& w : split_search_words(text)) {
        const std::string s = strip_upper(w);
        words_.push_back(mode_ == kSearchSoundsLike ? soundex_code(s) : s);
    }
    all_ = mode_ == kSearchAny || words_.empty() || (mode_ != kSearchSoundsLike && mode_ != kSearchWholeWord);
}

bool SearchMatcher::matches(std::string_view name) const {
    if (name.empty()) return true;
    if (mode_ == kSearchPartOfWord) {
        if (stripped_.empty()) return true;
        return strip_upper(name).find(stripped_) != std::string::npos;
    }
    if (all_) return true;
    std::vector<std::string> name_words;
    for_each_word(name, std::string_view::npos, [&](std::string_view w) {
        std::string upper = to_upper_copy(std::string(w));
        name_words.push_back(mode_ == kSearchSoundsLike ? soundex_code(upper) : std::move(upper));
        return true;
    });
    for (const auto& w : words_) {
        bool found = false;
        for (const auto& n : name_words)
            if (n == w) {
                found = true;
                break;
            }
        if (!found) return false;
    }
    return true;
}

BrowserListModel::BrowserListModel(BrowserListCore& doc) : doc_(doc) {}

std::vector<std::string> BrowserListModel::search_box_items() {
    return {"Match Any Report", "Sounds Like", "Match Part of Word", "Match Whole Word"};
}

std::vector<std::string> BrowserListModel::archive_box_items() const {
    std::vector<std::string> items{kAllArchivesText};
    for (std::int32_t i = 0; i < doc_.get_archive_count(); ++i) items.push_back(doc_.get_archive_name(i));
    return items;
}

std::string BrowserListModel::shown_archive() const {
    return archive_choice_ == 0 ? std::string(kAllArchivesText) : chosen_archive_;
}

void BrowserListModel::update() {
    const std::int32_t count = doc_.get_archive_count() + 1;
    if (archive_count_ != count || archive_choice_ < 0 || archive_choice_ >= count) archive_choice_ = 0;
    archive_count_ = count;
    search_mode_ = kSearchAny;
    refill();
}

bool BrowserListModel::apply_search(int archive_choice, int search_mode, const std::string& text) {
    if (archive_choice == archive_choice_ && search_mode == search_mode_ && text == search_text_) return false;
    archive_choice_ = archive_choice;
    search_mode_ = search_mode;
    search_text_ = text;
    refill();
    return true;
}

void BrowserListModel::refill() {
    items_.clear();
    selected_.clear();
    const auto boxes = archive_box_items();
    if (archive_choice_ < 0 || static_cast<std::size_t>(archive_choice_) >= boxes.size()) archive_choice_ = 0;
    chosen_archive_ = archive_choice_ == 0 ? std::string() : boxes[static_cast<std::size_t>(archive_choice_)];
    const SearchMatcher matcher(search_mode_, search_text_);
    const std::int32_t rows = doc_.get_row_count();
    items_.reserve(static_cast<std::size_t>(rows));
    // Archive names are compared once per archive, not per row.
    std::vector<signed char> candidate(static_cast<std::size_t>(doc_.get_archive_count()), 0);
    for (std::int32_t a = 0; a < doc_.get_archive_count(); ++a) {
        const std::string name = doc_.get_archive_name(a);
        candidate[static_cast<std::size_t>(a)] =
            archive_choice_ == 0 ? name != kDeletedArchiveName : name == chosen_archive_;
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        const std::int32_t a = doc_.get_archive_index(r);
        if (a < 0 || !candidate[static_cast<std::size_t>(a)]) continue;
        const ReportRecord* rec = doc_.get_record(r);
        if (!rec || !matcher.matches(rec->get_description())) continue;
        items_.push_back(r);
    }
    doc_.sort_rows(items_, sort_key_, ascending_);
    current_row_ = current_item_ = -1;
    doc_.set_current_row(-1);
}

void BrowserListModel::sort(int key, bool ascending) {
    sort_key_ = key;
    ascending_ = ascending;
    doc_.sort_rows(items_, key, ascending);
    // Items moved: the current item follows its row.
    current_item_ = item_of_row(current_row_);
}

void BrowserListModel::column_sort(int column, SortMode mode) {
    selected_.clear();
    bool ascending = true;
    switch (mode) {
        case SortMode::Ascending: ascending_column_ = column; break;
        case SortMode::Descending:
            ascending_column_ = -1;
            ascending = false;
            break;
        case SortMode::Toggle:
            if (column == ascending_column_) {
                ascending_column_ = -1;
                ascending = false;
            } else {
                ascending_column_ = column;
            }
            break;
    }
    sort(column, ascending);
}

std::int32_t BrowserListModel::row_of_item(std::int32_t item) const {
    return item >= 0 && item < item_count() ? items_[static_cast<std::size_t>(item)] : -1;
}

std::int32_t BrowserListModel::item_of_row(std::int32_t row) const {
    if (row < 0) return -1;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == row) return static_cast<std::int32_t>(i);
    return -1;
}

std::string BrowserListModel::item_text(std::int32_t item, int column) const {
    return doc_.get_column_text(row_of_item(item), column);
}

void BrowserListModel::item_selected(std::int32_t item, const std::vector<std::int32_t>& selected) {
    if (item >= 0 && item < item_count()) {
        current_item_ = item;
        current_row_ = row_of_item(item);
    }
    selection_changed(selected);
}

void BrowserListModel::selection_changed(const std::vector<std::int32_t>& selected) {
    selected_ = selected;
    doc_.set_current_row(selected_.size() == 1 ? current_row_ : -1);
}

std::vector<std::int32_t> BrowserListModel::selected_rows() const {
    std::vector<std::int32_t> rows;
    for (std::int32_t item : selected_)
        if (const std::int32_t r = row_of_item(item); r >= 0) rows.push_back(r);
    return rows;
}

std::string BrowserListModel::current_report_folder() const {
    if (selected_.size() != 1 || current_row_ < 0) return {};
    return doc_.get_report_folder(current_row_);
}

bool BrowserListModel::begin_label_edit(std::int32_t item, Ui& u) {
    if (doc_.is_group_file_missing()) {
        u.message_box(kArchiveMissingText, kArchiveMissingCaption, MsgIcon::None, MsgButtons::Ok);
        return false;
    }
    const std::int32_t row = row_of_item(item);
    const std::string folder = doc_.get_report_folder(row);
    if (row < 0 || folder.empty()) return false;
    if (get_disk_free_bytes(folder) <= static_cast<std::uint64_t>(doc_.get_index_size(row) + 8192)) {
        u.message_box(kNotEnoughSpaceText, kNotEnoughSpaceCaption, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    return true;
}

bool BrowserListModel::end_label_edit(std::int32_t item, const std::string* text) {
    const std::int32_t row = row_of_item(item);
    if (row < 0 || !text) return false;
    return doc_.set_description(row, edited_description_text(*text));
}

bool BrowserListModel::refresh_check(Ui& u) {
    if (is_transfer_in_progress() || doc_.is_group_file_missing() || !doc_.has_changed_on_disk()) return false;
    doc_.reload();
    update();
    if (!notice_shown_ && !is_transfer_in_progress()) {
        notice_shown_ = true;
        u.message_box(kArchiveChangedText, kArchiveChangedCaption, MsgIcon::Information, MsgButtons::Ok);
        notice_shown_ = false;
    }
    return true;
}

}  // namespace tv
