// The report list of an archive browser without a window: which document rows are listed
// (archive filter and name search), in which order, the selection the details pane and the
// commands work on, in-place description edits and the once-a-minute check for changes made by
// another program. The list view asks it for item texts on demand.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class BrowserListCore;
class Ui;

enum SearchMode { kSearchAny = 0, kSearchSoundsLike = 1, kSearchPartOfWord = 2, kSearchWholeWord = 3 };
inline constexpr const char* kAllArchivesText = "All Archives";
// The characters that separate words of report names and search texts.
inline constexpr std::string_view kSearchDelimiters = " \t\n\r.;:`!\"$%^&*()_-+=~#{}[]@'<,>.?/\\|";
inline constexpr std::size_t kMaxSearchWords = 64;

// Soundex code: first character upper-cased, then up to three digits (padded with '0').
std::string soundex_code(std::string_view word);
// The words of a text (at most `max_words`).
std::vector<std::string> split_search_words(std::string_view text, std::size_t max_words = kMaxSearchWords);

// Matches report names against one search.
class SearchMatcher {
public:
    SearchMatcher(int mode, std::string_view text);
    bool matches(std::string_view name) const;

private:
    int mode_;
    bool all_ = false;
    std::vector<std::string> words_;  // upper-cased, delimiters removed (sounds like: soundex codes)
    std::string stripped_;            // part of word: the whole text stripped
};

class BrowserListModel {
public:
    explicit BrowserListModel(BrowserListCore& doc);

    // Texts of the two boxes.
    static std::vector<std::string> search_box_items();  // "Match Any Report", ...
    std::vector<std::string> archive_box_items() const;  // "All Archives", then the archives

    // The document changed (OnUpdate): the search mode goes back to 0, the archive choice stays
    // when the archive count did not change, and the list is refilled.
    void update();
    // A search refresh with the boxes' state; refills only when something differs from the last
    // refill. True when it refilled.
    bool apply_search(int archive_choice, int search_mode, const std::string& text);
    void refill();

    int archive_choice() const { return archive_choice_; }
    int search_mode() const { return search_mode_; }
    const std::string& search_text() const { return search_text_; }
    bool text_box_enabled() const { return search_mode_ != kSearchAny; }
    // The archive box's text ("All Archives" or the chosen archive's name).
    std::string shown_archive() const;

    // Sorting by the document's row order.
    void sort(int key, bool ascending);
    enum class SortMode { Ascending, Descending, Toggle };
    // View menu and header clicks; a click sorts ascending, the next one on the same column
    // descending.
    void column_sort(int column, SortMode mode);
    int sort_key() const { return sort_key_; }
    bool sort_ascending() const { return ascending_; }

    std::int32_t item_count() const { return static_cast<std::int32_t>(items_.size()); }
    std::int32_t row_of_item(std::int32_t item) const;
    std::int32_t item_of_row(std::int32_t row) const;  // -1 when not listed
    std::string item_text(std::int32_t item, int column) const;

    // Selection: `item` became selected (current item and row follow it); `selected` is the whole
    // selection afterwards. The document's details row is the current row when exactly one item
    // is selected, else -1.
    void item_selected(std::int32_t item, const std::vector<std::int32_t>& selected);
    void selection_changed(const std::vector<std::int32_t>& selected);
    std::int32_t current_row() const { return current_row_; }
    std::int32_t current_item() const { return current_item_; }
    const std::vector<std::int32_t>& selected_items() const { return selected_; }
    std::vector<std::int32_t> selected_rows() const;
    // The current report folder (Letters and Play); "" unless exactly one item is selected.
    std::string current_report_folder() const;

    // In-place edit of an item's description. begin: false (with a message) when the group is
    // gone or the disk cannot take the rewrite. end: stores the edited text; false when nothing
    // was stored.
    bool begin_label_edit(std::int32_t item, Ui& u);
    bool end_label_edit(std::int32_t item, const std::string* text);

    // The minute timer. True when the document was reloaded.
    bool refresh_check(Ui& u);

private:
    BrowserListCore& doc_;
    std::vector<std::int32_t> items_;  // document row of each list item
    std::vector<std::int32_t> selected_;
    int archive_choice_ = 0;
    int search_mode_ = kSearchAny;
    std::string search_text_;
    std::string chosen_archive_;
    int ascending_column_ = -1;
    int sort_key_ = 1;
    bool ascending_ = true;
    std::int32_t current_row_ = -1;
    std::int32_t current_item_ = -1;
    std::int32_t archive_count_ = -1;
    bool notice_shown_ = false;
};

}  // namespace tv
