#include "vond/dialogs.h"

#include <algorithm>
#include <cstdio>

#include "common/files.h"
#include "common/number_text.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "vond/messages.h"
#include "vond/program.h"

namespace tv::vond {
namespace {

constexpr std::uint64_t kMaxListedCard = 419430400;
VondWindows* g_windows = nullptr;

bool ends_with_several(const std::string& drive) {
    return drive.size() >= 2 && drive.compare(drive.size() - 2, 2, ">2") == 0;
}

}  // namespace

VondWindows* windows() { return g_windows; }
void set_windows(VondWindows* w) { g_windows = w; }

std::unique_ptr<Progress> open_conditioning_progress() {
    if (!g_windows || !g_windows->active()) return nullptr;
    return g_windows->open_progress(true);
}

FrameState frame_state(int mode) {
    switch (mode) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 8:
        case 11:
        case 12:
        case 14: return FrameState::Minimised;
        default: return FrameState::Hidden;
    }
}

std::string ProgressRules::title() const { return message_text(133); }

std::string ProgressRules::text() const {
    return conditioning_ ? "Please wait while the CF disk is conditioned." : "Please wait while the ECG data is read";
}

void ProgressRules::set_range(std::uint32_t max) {
    const std::uint32_t limit = conditioning_ ? 0x7FFFFFFFu : 0xFFFFu;
    maximum_ = static_cast<int>(std::min(max, limit));
    position_ = std::min(position_, maximum_);
}

void ProgressRules::set_position(std::uint32_t pos) {
    position_ = static_cast<int>(std::min<std::uint32_t>(pos, static_cast<std::uint32_t>(maximum_)));
}

DrivePromptRules::DrivePromptRules(char default_drive, bool offer_when_none)
    : default_drive_(default_drive), offer_when_none_(offer_when_none) {}

void DrivePromptRules::search() {
    outcome_ = Outcome::Open;
    chosen_ = {};
    entries_.clear();
    found_ = {};
    const auto cards = card_drives(default_drive_);
    cards_ = cards.size();
    auto entry = [](const platform::MappedDrive& d) {
        DriveEntry e;
        e.letter = d.letter;
        e.folder = d.folder;
        e.label = d.label;
        auto v = platform::volume_of(d.folder);
        e.capacity = v ? v->total_bytes : d.capacity;
        return e;
    };
    for (auto& d : cards) {
        if (found_.letter == '?' || d.letter == default_drive_) {
            found_.letter = d.letter;
            found_.root = d.folder;
        }
        entries_.push_back(entry(d));
    }
    found_.several = cards_ > 1;
    if (cards_ == 0 && offer_when_none_)
        for (char l : card_drive_letters(default_drive_))
            if (auto d = platform::mapped_drive(l)) entries_.push_back(entry(*d));
    selected = entries_.empty() ? -1 : 0;
    const char preferred = cards_ > 0 ? found_.letter : default_drive_;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].letter == preferred) selected = static_cast<int>(i);
}

bool DrivePromptRules::needs_prompt() const { return cards_ > 1 || (cards_ == 0 && offer_when_none_); }

std::string DrivePromptRules::text() const { return message_text(several() ? 151 : 200); }

std::string DrivePromptRules::entry_text(const DriveEntry& e) {
    std::string t = std::string(1, e.letter) + ":";
    if (!e.label.empty()) t += "  " + e.label;
    if (e.capacity > 0) t += "  (" + std::to_string(e.capacity / 1048576u) + " MB)";
    return t;
}

bool DrivePromptRules::choose() {
    if (selected < 0 || static_cast<std::size_t>(selected) >= entries_.size()) {
        show_message(132, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    const DriveEntry& e = entries_[static_cast<std::size_t>(selected)];
    // The drive may have gone while the prompt was open (card pulled, map changed).
    auto d = platform::mapped_drive(e.letter);
    if (!d || !card_volume(d->folder).exists) {
        show_message(131, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    chosen_.letter = e.letter;
    chosen_.root = d->folder;
    chosen_.several = false;
    outcome_ = Outcome::Chosen;
    return true;
}

CardSearch DrivePromptRules::result() const { return outcome_ == Outcome::Chosen ? chosen_ : found_; }

CardSearch search_card_drive_asking(char default_drive, bool offer_when_none) {
    DrivePromptRules rules(default_drive, offer_when_none);
    for (;;) {
        rules.search();
        if (!rules.needs_prompt()) return rules.result();
        if (windows() && windows()->available()) {
            windows()->choose_drive(rules);
        } else if (rules.several()) {
            // No window: the question is the plain one, OK to search again once the extra cards
            // are out, Cancel to go on with the cards marked as several.
            if (show_message(151, MsgIcon::Warning, MsgButtons::OkCancel) == MsgResult::Ok)
                rules.search_again();
            else
                rules.cancel();
        } else {
            rules.cancel();
        }
        if (rules.outcome() != DrivePromptRules::Outcome::SearchAgain) return rules.result();
    }
}

std::vector<char> card_drive_letters(char default_drive) {
    std::vector<char> letters;
    for (char l = 'A'; l <= 'Z'; ++l) {
        if (l == default_drive) {
            letters.push_back(l);
            continue;
        }
        if (l == 'C') continue;
        auto d = platform::mapped_drive(l);
        if (!d) continue;
        auto v = platform::volume_of(d->folder);
        if (!v || (v->kind != platform::DriveKind::Removable && v->kind != platform::DriveKind::Fixed)) continue;
        if (v->label.empty() || v->total_bytes == 0 || v->total_bytes > kMaxListedCard) continue;
        letters.push_back(l);
    }
    return letters;
}

bool load_fir_table(const std::string& path, std::array<std::uint16_t, 32>& table) {
    const platform::UniqueFile f = open_outside_stream(path, 1 << 20);  // 32 numbers as text
    if (!f) return false;
    std::uint16_t last = 0;
    bool at_end = false;
    for (auto& word : table) {
        if (!at_end) {
            std::string line;
            int c = 0;
            while ((c = std::fgetc(f.get())) != EOF && c != '\n')
                if (line.size() < 64) line.push_back(static_cast<char>(c));
            if (c == EOF && line.empty()) {
                at_end = true;
            } else {
                // The leading whole number, as atoi reads it; only its low 8 bits are kept.
                last = static_cast<std::uint16_t>(parse_integer_wrapping(line).value & 0xFF);
                if (c == EOF) at_end = true;
            }
        }
        word = last;
    }
    return true;
}

bool CardDialogRules::initialise_card() {
    closed_ = false;
    bool fir_ok = true;
    if (fir) fir_ok = load_fir_table(card_path(output_folder_, "fir.dat"), fir_table_);
    if (!automatic) {
        const bool several = ends_with_several(drive);
        drive = selected_letter ? std::string(1, selected_letter) + (several ? ":>2" : ":") : std::string("?");
    }
    if (drive.empty() || drive[0] == '?' || drive[0] == ' ') {
        if (!automatic) show_message(132, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    if (!fir_ok) {
        if (!automatic) show_message(134, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    bool ok = false;
    const char letter = drive[0];
    auto mapped = platform::mapped_drive(letter);
    if (ends_with_several(drive)) {
        std::string text = message_text(152);
        if (auto p = text.find('%'); p != std::string::npos) text[p] = letter;
        if (show_message(152, MsgIcon::Warning, MsgButtons::OkCancel, text) != MsgResult::Ok) goto done;
    }
    if (!mapped || !card_volume(mapped->folder).exists) {
        show_message(131, MsgIcon::Error, MsgButtons::Ok);
        goto done;
    }
    if (!disk_.set_root(mapped->folder)) {
        show_message(204, MsgIcon::Warning, MsgButtons::Ok);
        goto done;
    }
    ok = disk_.prepare_card(name, id, cnavop, fir ? &fir_table_ : nullptr);
done:
    if (!automatic) {
        if (ok) {
            minimise_analysis_window();
            show_message(130, MsgIcon::Information, MsgButtons::Ok);
            closed_ = close_after_init;
        } else {
            show_message(137, MsgIcon::Error, MsgButtons::Ok);
        }
    }
    return ok;
}

bool ReadDialogRules::read_patient_details() {
    if (!disk_.recording_info(info) || !write_patient_summary(output_folder_, info)) {
        if (!automatic) show_card_message(139, MsgIcon::Error, MsgButtons::Ok, true);
        return false;
    }
    return true;
}

bool ReadDialogRules::read_ecg(int format) {
    if (!disk_.read_config()) return false;
    std::unique_ptr<Progress> progress;
    if (!automatic && windows()) progress = windows()->open_progress(false);
    bool ok = true;
    switch (format) {
        case kFormatPath:
        case kFormatArchive:
        case kFormatMmf:
        case kFormatOs12File:
        case kFormatOs12Arch: ok = disk_.read_ecg(format, output_folder_, progress.get()); break;
        case kFormatCnav: ok = disk_.copy_all_files(output_folder_); break;
        default: break;
    }
    progress.reset();
    if (!automatic)
        show_card_message(ok ? 135 : 136, ok ? MsgIcon::Information : MsgIcon::Warning, MsgButtons::Ok, !ok);
    return ok;
}

bool ReadDialogRules::select_card(char default_drive) {
    const CardSearch found = find_card_drive(default_drive);
    if (found.letter == '?') {
        show_card_message(131, MsgIcon::Error, MsgButtons::Ok, true);
        return false;
    }
    if (!disk_.set_root(found.root)) {
        show_card_message(204, MsgIcon::Warning, MsgButtons::Ok, true);
        return false;
    }
    return true;
}

bool ReadDialogRules::read_patient_button(char default_drive) {
    return select_card(default_drive) && disk_.read_config() && read_patient_details();
}

bool ReadDialogRules::read_ecg_button(char default_drive, int mode) {
    if (!select_card(default_drive) || !disk_.read_config() || !read_patient_details()) return false;
    bool copied = false;
    disk_.copy_patient_wav(output_folder_, &copied);
    has_sound_ = copied;
    if (has_sound_ && (mode == kReadPatStand || mode == kReadEcgStand) &&
        show_message(138, MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes && play_sound)
        play_sound(card_path(output_folder_, "patient.wav"));
    return read_ecg(kFormatArchive);
}

}  // namespace tv::vond
