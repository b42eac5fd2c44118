#include "vond/card_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/civil_days.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "vond/exit_codes.h"
#include "vond/dialogs.h"
#include "vond/messages.h"

namespace tv::vond {
namespace {

std::string canonical(const std::string& p) {
    std::error_code ec;
    auto c = std::filesystem::weakly_canonical(p, ec);
    std::string s = ec ? p : c.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool delete_card_file(const std::string& folder, const std::string& name) {
    auto p = platform::find_name_ci(folder, name);
    if (!p) return true;
    return force_delete_file(*p);
}

// A small card file into the output folder, through a temporary name there (a link in its place
// is replaced, never written through); whole or not at all.
bool copy_card_file(const CardFolder& card, const std::string& to_folder, const std::string& name) {
    const OutsideFile src = card.open_file(name, kMaxSmallCardFile);
    std::string bytes(src ? src.size : 0, '\0');
    const std::string dst = card_path(to_folder, name);
    if (!src || !platform::pread_all(src.fd.get(), bytes.data(), bytes.size(), 0) ||
        !platform::atomic_write_file(dst, bytes)) {
        trace("%s/%s could not be copied to %s\n", card.path().c_str(), name.c_str(), dst.c_str());
        return false;
    }
    return true;
}

platform::UniqueFile stream_of(OutsideFile f, const char* mode = "rb") {
    if (!f) return nullptr;
    platform::UniqueFile s(::fdopen(f.fd.get(), mode));
    if (s) f.fd.release();  // the stream owns it now
    return s;
}

bool label_is_card(const std::string& label) {
    if (label.size() < 7) return false;
    return platform::iequals(std::string_view(label).substr(0, 7), kCardLabel);
}

bool holds_card_files(const std::string& root) {
    for (const char* n : {"CONFIG.DAT", "CNAV.DAT", "PATIENT.WAV", "ECG.DAT"})
        if (!platform::find_name_ci(root, n)) return false;
    return true;
}

bool holds_card_files(const CardFolder& card) {
    for (const char* n : {"CONFIG.DAT", "CNAV.DAT", "PATIENT.WAV", "ECG.DAT"})
        if (!card.find(n)) return false;
    return true;
}

// Removes `name` from the open folder `dir`, a folder with everything in it; links as links.
bool remove_entry_at(int dir, const FolderEntry& e) {
    if (e.folder) {
        const platform::UniqueFd sub = open_folder_no_link_at(dir, e.name);
        if (!sub) return false;
        for (const FolderEntry& inner : list_folder_at(sub.get()).value_or(std::vector<FolderEntry>{}))
            if (!remove_entry_at(sub.get(), inner)) return false;
        return ::unlinkat(dir, e.name.c_str(), AT_REMOVEDIR) == 0;
    }
    return ::unlinkat(dir, e.name.c_str(), 0) == 0 || errno == ENOENT;
}

// Marks config.dat as the record of a conditioning under way: the size ecg.dat is to have
// follows it. The bytes are none of the recorder's.
constexpr std::size_t kConditionMark = 496;
constexpr char kConditionMagic[8] = {'C', 'O', 'N', 'D', 'N', 'E', 'W', '1'};

bool is_condition_record(const ConfigDat& c) {
    return std::memcmp(&c.bytes[kConditionMark], kConditionMagic, sizeof kConditionMagic) == 0;
}

bool conditioning_under_way(const std::string& root) {
    CardFolder card;
    ConfigDat c;
    return card.open(root) && card_file_size(card, "config.dat") == static_cast<std::int64_t>(kConfigSize) &&
           read_config(card, c) && is_condition_record(c);
}

// A card reader's card is a file system of its own: its root is a mount point.
bool own_volume(const CardFolder& card) {
    struct stat here, above;
    const platform::UniqueFd up = open_folder_no_link_at(card.fd(), "..");
    return card && up && ::fstat(card.fd(), &here) == 0 && ::fstat(up.get(), &above) == 0 &&
           here.st_dev != above.st_dev;
}

// The modes that meet cards which have recorded, and so may carry the 1,024-byte cnav.dat the
// recorder writes: every read mode, the patient-details change and the status query among them.
bool is_read_mode(int mode) { return mode >= 6 && mode <= 15; }

constexpr int kChangePatMode = 12;

// "VOND_RECLEN_LIMIT": a whole number of hours above 0, or none.
std::optional<int> recording_length_limit() {
    const char* v = std::getenv("VOND_RECLEN_LIMIT");
    if (!v || !*v) return std::nullopt;
    const std::string_view text(v);
    const ParsedInteger n = parse_integer(text, 1, INT32_MAX);
    if (!n.whole(text.size())) return std::nullopt;
    return static_cast<int>(n.value);
}

}  // namespace

bool CardDisk::cnav_size_ok(std::int64_t size) const {
    return size == static_cast<std::int64_t>(kEmptyCnavSize) ||
           (is_read_mode(mode_) && size == static_cast<std::int64_t>(kRecordedCnavSize));
}

bool CardDisk::cnav_from_input_wanted() const { return mode_ == 1 || mode_ == 5; }

bool CardDisk::details_belong(std::uint16_t start_num) const {
    const auto pdn = config_.patient_data_num();
    return pdn == start_num || (pdn == config_.recording_num() && start_num < pdn);
}

bool CardDisk::set_root(const std::string& root) {
    root_ = root;
    busy_ = false;
    holder_.clear();
    first_config_.reset();
    card_.close();
    if (root.empty() || root == "?") return true;
    // A missing folder is no card: the checks say so.
    if (!card_.open(root)) return true;
    const platform::LockFailure failure = platform::lock_folder_within(card_.fd(), kCardLockWaitMs);
    if (failure == platform::LockFailure::None) {
        // Before anything is read: a change of the card's files that a run left half-made is undone,
        // so that config.dat and cnav.dat belong to one patient whatever this run's mode.
        undo_unfinished_change(card_);
        return true;
    }
    if (failure == platform::LockFailure::Busy) {
        busy_ = true;
        holder_ = platform::folder_lock_holder(card_.fd());
        trace("the card in %s is held by another run%s%s\n", root.c_str(), holder_.empty() ? "" : ": ",
              holder_.c_str());
        card_.close();
        return false;
    }
    // A file system without folder locks: the card is used unlocked rather than refused.
    trace("the card in %s cannot be locked (%s)\n", root.c_str(), std::strerror(errno));
    undo_unfinished_change(card_);
    return true;
}

bool CardDisk::read_config() {
    if (!vond::read_config(card_, config_)) return false;
    if (!first_config_) first_config_ = config_;
    return true;
}

bool CardDisk::holds_change() const {
    ConfigDat now;
    return first_config_ && first_config_->bytes != config_.bytes && vond::read_config(card_, now) &&
           now.bytes == config_.bytes;
}

bool CardDisk::still_there() {
    if (lost_) return false;
    if (!card_ || card_.still_there()) return true;
    trace("the card in %s has gone\n", root_.c_str());
    lost_ = true;
    return false;
}

FoundSector CardDisk::start_sector() const {
    const OutsideFile f = open_ecg();
    return find_start_sector_in(f ? f.fd.get() : -1);
}

int CardDisk::ecg_state() {
    read_config();
    FoundSector s = start_sector();
    trace("\nget_ecg_is_valid\n");
    trace("m_config_dat.recording_num : %i\n", config_.recording_num());
    trace("m_config_dat.patient_data_num : %i\n", config_.patient_data_num());
    trace("m_config_dat.wav_recording_num : %i\n", config_.wav_recording_num());
    if (!s.found) return kExitUnreadable;
    const StartSector st = parse_start_sector(s.sector);
    trace("ecg_recording_num : %i\n", st.recording_num);
    trace("recording_format : %i\n", st.recording_format);
    if (st.recording_num < config_.patient_data_num() || st.recording_num < config_.wav_recording_num())
        return kExitNoRecording;
    const int code = format_result_code(st.recording_format);
    if (code == kExitTwelveLead) twelve_lead_ = true;
    return code;
}

int CardDisk::check_card_files() {
    if (!finish_conditioning()) return kExitCardFailed;
    const std::int64_t cnav = card_file_size(card_, "cnav.dat");
    if (!folder_file_exists(card_, "config.dat", kConfigSize) || !cnav_size_ok(cnav) ||
        !folder_file_exists(card_, "patient.wav", kEmptyWavSize) || !folder_file_exists(card_, "ecg.dat", 0))
        return kExitCardFailed;
    FoundSector s = start_sector();
    if (!s.found) return kExitUnreadable;
    if (!read_config()) return kExitCardFailed;
    const auto start = parse_start_sector(s.sector).recording_num;
    if (config_.recording_num() < start) return kExitNoRecording;
    if (config_.recording_num() == start) return kExitNotMarked;
    return kExitDone;
}

int CardDisk::validate(bool may_delete, bool require_label, bool write_mode) {
    CardVolume vol = card_volume(card_);
    if (!vol.exists) return kExitNoCard;
    if (!label_is_card(vol.label)) {
        if (require_label || !holds_card_files(card_)) return kExitNoCard;
    }
    // A conditioning that a run left unfinished is finished before the card is used.
    if (!finish_conditioning()) return kExitCardFailed;
    vol = card_volume(card_);
    if (may_delete && has_read_only_or_folders(card_)) {
        if (show_card_message(143, MsgIcon::Question, MsgButtons::YesNo, true) != MsgResult::Yes)
            return kExitInvalidFiles;
        if (!delete_all_entries()) {
            show_card_message(145, MsgIcon::Error, MsgButtons::Ok, true);
            return kExitCardFailed;
        }
        show_card_message(144, MsgIcon::Information, MsgButtons::Ok, true);
        vol = card_volume(card_);
    }
    if (write_mode && vol.free > 0) return kExitCardFailed;
    if (!only_allowed_files(card_)) return kExitCardFailed;
    const std::int64_t cnav = card_file_size(card_, "cnav.dat");
    if (!folder_file_exists(card_, "config.dat", kConfigSize) || !cnav_size_ok(cnav) ||
        !folder_file_exists(card_, "patient.wav", kEmptyWavSize) || !folder_file_exists(card_, "ecg.dat", 0))
        return kExitCardFailed;
    FoundSector s = start_sector();
    if (!s.found || !s.checksum_ok) {
        if (!recover_start_sector()) return kExitUnreadable;
        s = start_sector();
        if (!s.found || !s.checksum_ok) return kExitUnreadable;
    }
    if (!read_config()) return kExitCardFailed;
    const auto start = parse_start_sector(s.sector).recording_num;
    if (config_.recording_num() == start) return kExitNotMarked;
    if (config_.recording_num() < start) return kExitCardFailed;
    if (start < config_.patient_data_num() || start < config_.wav_recording_num()) return kExitNoRecording;
    return kExitDone;
}

bool CardDisk::recover_start_sector() {
    FoundSector s = start_sector();
    if (s.found && s.checksum_ok) return true;
    if (!s.found) return false;
    const OutsideFile ecg = open_ecg();
    FoundSector d = find_first_data_sector_in(ecg ? ecg.fd.get() : -1);
    if (!d.found || !d.checksum_ok) return false;
    if (show_card_message(154, MsgIcon::Warning, MsgButtons::YesNo, true) != MsgResult::Yes) return false;
    const std::uint8_t type = s.sector[0];
    const SectorForm form = sector_form(type);
    bool ok = form != SectorForm::None;
    if (ok) {
        Sector n{};
        n[0] = type;
        store_le16(&n[1], load_le16(&s.sector[1]));
        const std::uint8_t time[6] = {0, 0, 0, 1, 1, 0};
        std::memcpy(&n[6], time, 6);
        n[15] = d.sector[0];
        n[182] = 255;
        scramble_sector(n.data(), form);
        // The rebuilt sector goes where the damaged one was found.
        const auto name = card_.find("ecg.dat");
        const platform::UniqueFd fd =
            name && still_there() ? open_plain_file_for_writing_at(card_.fd(), *name) : platform::UniqueFd();
        ok = fd && platform::pwrite_all(fd.get(), n.data(), n.size(), static_cast<std::uint64_t>(s.offset)) &&
             ::fsync(fd.get()) == 0;
    }
    if (!ok) show_card_message(155, MsgIcon::Error, MsgButtons::Ok, true);
    return ok;
}

int CardDisk::mark_as_read(bool allow_recondition, const std::function<bool(bool)>& before_change) {
    if (!read_config()) return -1;
    FoundSector s = start_sector();
    if (!s.found) return -1;
    const auto start = parse_start_sector(s.sector).recording_num;
    if (start >= kRecordingNumLimit) {
        if (!allow_recondition) return 2;
        if (before_change && !before_change(true)) return -2;
        return condition("", "", "", nullptr) ? 0 : -2;
    }
    if (!s.checksum_ok) return -1;
    if (start < config_.recording_num()) return 0;
    // Root may write to a file whose write bits are clear: the attribute decides, not open().
    const auto config_name = card_.find("config.dat");
    const bool read_only = [&] {
        for (const FolderEntry& e : card_.entries().value_or(std::vector<FolderEntry>{}))
            if (config_name && e.name == *config_name) return !(e.mode & S_IWUSR);
        return false;
    }();
    if (read_only || card_volume(card_).read_only) return 1;
    if (before_change && !before_change(false)) return -1;
    config_.set_recording_num(config_.recording_num() + 1u);
    return write_config() ? 0 : -1;
}

bool CardDisk::write_patient_details(const std::string& t1, const std::string& t2, const std::string& t3,
                                     const std::array<std::uint16_t, 32>* fir) {
    ConfigDat next = config_;
    next.set_recording_num(next.recording_num() + 1u);
    next.set_patient_data_num(next.recording_num());
    if (t1.empty() && t2.empty()) next.set_recording_num(next.recording_num() + 1u);
    next.bytes[94] = 0;
    next.set_logical_texts(t1, t2, t3, current_code_page_byte());
    next.set_time(4, platform::system().now());
    next.set_fir(fir);
    std::string cnav = empty_cnav();
    if (cnav_from_input_wanted() && !cnav_for_card(next, cnav)) return false;
    // The files config.dat points at go first: until it is replaced the card reads as before.
    if (!replace_card_files(card_, {{"patient.wav", empty_patient_wav()},
                                    {"cnav.dat", cnav},
                                    {"config.dat", std::string(next.bytes.begin(), next.bytes.end())}}))
        return false;
    config_ = next;
    return true;
}

bool CardDisk::cnav_for_card(const ConfigDat& config, std::string& bytes) const {
    bytes = empty_cnav();
    if (config.patient_data_num() != config.recording_num() || input_folder_.empty()) return true;
    const auto p = platform::find_name_ci(input_folder_, "cnav.dat");
    if (!p) return true;
    std::vector<std::uint8_t> b;
    // One of another size would make the card unreadable.
    if (!read_outside_file(*p, kEmptyCnavSize, b) || !cnav_size_ok(static_cast<std::int64_t>(b.size()))) {
        trace("cnav.dat of %s cannot go onto the card\n", input_folder_.c_str());
        return false;
    }
    bytes.assign(b.begin(), b.end());
    return true;
}

bool CardDisk::setup_patient_details(const std::string& t1, const std::string& t2, const std::string& t3,
                                     const std::array<std::uint16_t, 32>* fir) {
    if (!read_config()) return false;
    FoundSector s = start_sector();
    if (!s.found) return false;
    if (parse_start_sector(s.sector).recording_num < kRecordingNumLimit) return write_patient_details(t1, t2, t3, fir);
    return condition(t1, t2, t3, fir);
}

bool CardDisk::delete_all_entries(const std::string& keep) {
    const std::string c = canonical(root_);
    // Only a card drive's own folder may be emptied, never the file system's root.
    if (c == "/" || c.empty() || !card_volume(card_).is_drive_root || !still_there()) return false;
    const auto list = card_.entries();
    if (!list) return false;
    for (const FolderEntry& e : *list)
        if (e.name != keep && !remove_entry_at(card_.fd(), e)) return false;
    return ::fsync(card_.fd()) == 0 || errno == EINVAL;
}

std::uint64_t CardDisk::ecg_size_for(std::uint64_t old_size, std::uint64_t cnav_size) {
    const CardVolume vol = card_volume(card_);
    // The card's own size decides: what its declared capacity leaves beside the small files,
    // else what its last ecg.dat took, else (0) the room on a card that is a file system of its
    // own once it is emptied. The host's free space never does: a card folder would take all of it.
    if (vol.capacity) {
        const std::uint64_t small = kConfigSize + (cnav_size + 511) / 512 * 512 + kEmptyWavSize;
        return vol.capacity > small ? (vol.capacity - small) / kSectorSize * kSectorSize : 0;
    }
    return old_size / kSectorSize * kSectorSize;
}

bool CardDisk::condition(const std::string& t1, const std::string& t2, const std::string& t3,
                         const std::array<std::uint16_t, 32>* fir, Progress* progress) {
    std::unique_ptr<Progress> shown;
    if (!progress) {
        shown = open_conditioning_progress();
        progress = shown.get();
    }
    if (!card_volume(card_).is_drive_root) return false;
    // A new config.dat: recording 3, the details the next recording's when there are any.
    ConfigDat next;
    next.bytes[0] = 1;
    next.set_recording_num(3);
    next.set_patient_data_num(!t1.empty() || !t2.empty() ? 3 : 2);
    next.set_wav_recording_num(2);
    next.set_logical_texts(t1, t2, t3, current_code_page_byte());
    next.set_time(4, platform::system().now());
    next.set_fir(fir);
    std::string cnav = empty_cnav();
    if (cnav_from_input_wanted() && !cnav_for_card(next, cnav)) return false;
    const std::int64_t old = card_file_size(card_, "ecg.dat");
    const std::uint64_t size = ecg_size_for(old > 0 ? static_cast<std::uint64_t>(old) : 0, cnav.size());
    if (size == 0 && !own_volume(card_)) {
        trace("the card's size is not known: it is not conditioned\n");
        return false;
    }
    return condition_with(next, size, cnav, progress);
}

// Every step can be repeated: config.dat says what the card is to become until the last step,
// so that a run that is stopped half-way leaves a card the next run finishes.
bool CardDisk::condition_with(const ConfigDat& next, std::uint64_t ecg_size, const std::string& cnav,
                              Progress* progress) {
    ConfigDat record = next;
    std::memcpy(&record.bytes[kConditionMark], kConditionMagic, sizeof kConditionMagic);
    store_le64(&record.bytes[kConditionMark + 8], ecg_size);
    auto bytes = [](const ConfigDat& c) { return std::string(c.bytes.begin(), c.bytes.end()); };
    if (!still_there() || !replace_card_files(card_, {{"config.dat", bytes(record)}})) return false;
    if (!delete_all_entries(card_.find("config.dat").value_or("config.dat"))) return false;
    if (!set_card_label(root_, kCardLabel)) return false;
    if (!still_there() || !replace_card_files(card_, {{"cnav.dat", cnav}, {"patient.wav", empty_patient_wav()}}))
        return false;
    if (!create_ecg_dat_of(ecg_size, progress)) return false;
    if (!still_there() || !replace_card_files(card_, {{"config.dat", bytes(next)}})) return false;
    config_ = next;
    return true;
}

bool CardDisk::finish_conditioning(bool* found) {
    if (found) *found = false;
    ConfigDat c;
    if (!card_ || card_file_size(card_, "config.dat") != static_cast<std::int64_t>(kConfigSize) ||
        !vond::read_config(card_, c) || !is_condition_record(c))
        return true;
    if (found) *found = true;
    trace("the conditioning of %s that a run left unfinished is finished now\n", root_.c_str());
    const std::uint64_t size = load_le64(&c.bytes[kConditionMark + 8]);
    std::string cnav = empty_cnav();
    // A cnav.dat of the next recording already written stays.
    if (card_file_size(card_, "cnav.dat") == static_cast<std::int64_t>(kEmptyCnavSize)) {
        const OutsideFile f = card_.open_file("cnav.dat", kEmptyCnavSize);
        if (!f || !platform::pread_all(f.fd.get(), cnav.data(), cnav.size(), 0)) cnav = empty_cnav();
    }
    ConfigDat next = c;
    std::memset(&next.bytes[kConditionMark], 0, kConfigSize - kConditionMark);
    return condition_with(next, size, cnav, nullptr);
}

bool CardDisk::create_ecg_dat_of(std::uint64_t size, Progress* progress) {
    if (!still_there()) return false;
    if (size == 0) size = card_volume(card_).free / kSectorSize * kSectorSize;
    if (size == 0) {
        trace("no room for ecg.dat on %s\n", root_.c_str());
        return false;
    }
    if (const auto old = card_.find("ecg.dat")) ::unlinkat(card_.fd(), old->c_str(), 0);
    platform::UniqueFd file = create_new_file_at(card_.fd(), "ecg.dat", 0644);
    if (!file) return false;
    const int fd = file.get();
    Sector first{};
    first[0] = kTypeStartLow;
    first[1] = 1;
    const std::uint64_t sectors = size / kSectorSize;
    if (progress) progress->set_range(static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu)));
    bool ok = platform::write_all(fd, first.data(), first.size()) && ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
              ::fsync(fd) == 0;
    if (progress) progress->set_position(static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu)));
    ok = file.close() && ok;
    return ok && (::fsync(card_.fd()) == 0 || errno == EINVAL);
}

bool CardDisk::prepare_card(const std::string& t1, const std::string& t2, const std::string& t3,
                            const std::array<std::uint16_t, 32>* fir) {
    const CardVolume vol = card_volume(card_);
    if (!vol.is_drive_root) return true;
    int code = validate(true, true, mode_ >= 1 && mode_ <= 5);
    if (code == kExitInvalidFiles) return false;
    // An ecg.dat smaller than a card of a declared size allows (a conditioning cut short) would
    // leave the recorder short of room.
    if ((code == kExitNoRecording || code == kExitNotMarked) && vol.capacity &&
        card_file_size(card_, "ecg.dat") < static_cast<std::int64_t>(ecg_size_for(0, kEmptyCnavSize))) {
        trace("ecg.dat of %s is smaller than the card allows\n", root_.c_str());
        code = kExitCardFailed;
    }
    if (code == kExitNotMarked) {
        if (show_card_message(147, MsgIcon::Question, MsgButtons::YesNo, false) != MsgResult::Yes) return false;
        code = kExitNoRecording;
    }
    if (code == kExitNoRecording) return setup_patient_details(t1, t2, t3, fir);
    if (mode_ == 10) return false;
    const int mb = static_cast<int>(vol.total / 1048576u);
    const unsigned id = vol.total <= 1024ull * 1048576ull ? 129 : 158;
    if (show_card_message(id, MsgIcon::Question, MsgButtons::YesNo, false, format_message(id, mb)) != MsgResult::Yes)
        return false;
    return condition(t1, t2, t3, fir);
}

int CardDisk::change_patient_details(const std::string& t1, const std::string& t2, const std::string& t3, bool force,
                                     const std::string& cnav_folder) {
    if (!read_config()) return kExitNotChanged;
    FoundSector s = start_sector();
    if (!s.found) return kExitNotChanged;
    const auto start = parse_start_sector(s.sector).recording_num;
    if (details_belong(start) && !force) return kExitDetailsInUse;
    // The new cnav.dat is judged before the card is touched: one of another size would make the
    // card unreadable.
    std::vector<std::uint8_t> cnav;
    if (mode_ == kChangePatMode && !cnav_folder.empty()) {
        if (auto p = platform::find_name_ci(cnav_folder, "cnav.dat")) {
            if (!read_outside_file(*p, kEmptyCnavSize, cnav) || !cnav_size_ok(static_cast<std::int64_t>(cnav.size()))) {
                trace("cnav.dat of %s cannot go onto the card\n", cnav_folder.c_str());
                return kExitNotChanged;
            }
        }
    }
    ConfigDat next = config_;
    next.set_logical_texts(t1, t2, t3, current_code_page_byte());
    next.bytes[94] = 0xA5;
    next.set_time(88, platform::system().now());
    next.set_patient_data_num(start);
    // The new cnav.dat before the config.dat that says whose it is; without a new one the card
    // keeps the cnav.dat its recorder wrote. A read-only config.dat stays read-only.
    std::vector<CardFileUpdate> files;
    if (!cnav.empty()) files.push_back({"cnav.dat", std::string(cnav.begin(), cnav.end())});
    files.push_back({"config.dat", std::string(next.bytes.begin(), next.bytes.end())});
    if (!replace_card_files(card_, files)) return kExitNotChanged;
    config_ = next;
    return kExitDone;
}

bool CardDisk::copy_patient_wav(const std::string& dest, bool* copied) {
    if (copied) *copied = false;
    if (!delete_card_file(dest, "patient.wav")) return false;
    trace("\ncopy_patient_wav\n");
    trace("m_config_dat.wav_recording_num : %i\n", config_.wav_recording_num());
    trace("m_config_dat.recording_num : %i\n", config_.recording_num());
    FoundSector s = start_sector();
    if (!s.found || config_.wav_recording_num() != parse_start_sector(s.sector).recording_num ||
        !card_.find("patient.wav"))
        return true;
    if (!copy_card_file(card_, dest, "patient.wav")) return false;
    if (copied) *copied = true;
    return true;
}

bool CardDisk::copy_cnav_from_card(const std::string& dest) {
    if (!delete_card_file(dest, "cnav.dat")) return false;
    FoundSector s = start_sector();
    if (!s.found || !details_belong(parse_start_sector(s.sector).recording_num)) return true;
    return copy_card_file(card_, dest, "cnav.dat");
}

bool CardDisk::write_cnavop(const std::string& dest) {
    if (!delete_card_file(dest, "cnavop.dat")) return false;
    FoundSector s = start_sector();
    if (!s.found || !details_belong(parse_start_sector(s.sector).recording_num)) return true;
    return platform::atomic_write_file(card_path(dest, "cnavop.dat"),
                                       std::string_view(reinterpret_cast<const char*>(&config_.bytes[416]), 80));
}

bool CardDisk::write_event_dat(const std::string& dest) {
    FoundSector s = start_sector();
    if (!s.found) return false;
    std::string text = "Version 1\r\n";
    const StartSector st = parse_start_sector(s.sector);
    if (format_is_sector_coded(st.recording_format)) {
        const CardClock clock = CardClock::from_bytes(st.recording_start_time);
        const std::int64_t start = clock.to_seconds();
        const int cal = settings_.calibration_seconds;
        const std::int64_t offset = cal ? cal + clock.second : 0;
        if (const platform::UniqueFile ecg = stream_of(open_ecg())) {
            for (auto& e : read_card_index(ecg.get()))
                if (e.tag() == 3)
                    text += format_string("1 %lld\r\n", static_cast<long long>(e.seconds() - start + offset));
        }
    }
    return platform::atomic_write_file(card_path(dest, "event.dat"), text);
}

bool CardDisk::recording_info(RecordingInfo& info) {
    if (!read_config()) return false;
    FoundSector s = start_sector();
    if (!s.found) return false;
    const StartSector st = parse_start_sector(s.sector);
    if (details_belong(st.recording_num)) {
        info.name = config_.logical_text(1);
        info.id = config_.logical_text(2);
        info.details_time = format_card_time(&config_.bytes[4]);
        if (config_.bytes[94] == 0xA5) info.second_time = format_card_time(&config_.bytes[88]);
    }
    info.channels = channels_ = format_channel_count(st.recording_format);
    const CardClock clock = CardClock::from_bytes(st.recording_start_time);
    const std::int64_t start = clock.to_seconds();
    if (format_is_sector_coded(st.recording_format)) {
        std::int64_t latest = -1;
        if (const platform::UniqueFile ecg = stream_of(open_ecg())) {
            for (auto& e : read_card_index(ecg.get()))
                if (e.tag() == 2 || e.tag() == 4) latest = std::max(latest, e.seconds());
        }
        info.length_hours = latest >= 0 ? static_cast<int>((latest - start + 3599) / 3600 + 1) : -1;
    } else {
        info.length_hours = st.recording_length == 255 ? -1 : st.recording_length;
    }
    // A limit that is no whole number of hours is no limit: it must never make the length 0.
    if (const auto limit = recording_length_limit(); limit && info.length_hours > 0)
        info.length_hours = std::min(info.length_hours, *limit);
    const int cal = settings_.calibration_seconds;
    const std::int64_t offset = cal ? cal + clock.second : 0;
    const std::int64_t out_start = start - offset + settings_.skip_hours * 3600LL;
    // Seconds since 2000-01-01 to a calendar text.
    const std::int64_t unix_s = out_start + days_from_civil(2000, 1, 1) * 86400;
    std::time_t t = static_cast<std::time_t>(unix_s);
    std::tm tm{};
    if (::gmtime_r(&t, &tm))
        info.recording_start = format_string("%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                                             tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string serial(st.recorder_serial_no, 8);
    serial = serial.substr(0, serial.find('\0'));
    std::string text = st.recorder_text;
    while (!text.empty() && is_space_char(text.back())) text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && is_space_char(text[lead])) ++lead;
    text = text.substr(lead);
    info.recorder_id = text.empty() ? serial : text + " " + serial;
    return true;
}

namespace {

bool write_read_record(const std::string& folder, const char* card_state, const RecordingInfo& info) {
    return platform::atomic_write_file(card_path(folder, kReadRecordName),
                                       format_string("complete\r\n%s\r\n%s\r\n%s\r\n", card_state,
                                                     info.recording_start.c_str(), info.recorder_id.c_str()));
}

}  // namespace

CardStep CardDisk::mark_after_read(const std::string& out, bool allow_recondition) {
    // The recording as its patient details name it: from its start, whatever the read skipped.
    RecordingInfo info;
    const int skip = settings_.skip_hours;
    settings_.skip_hours = 0;
    recording_info(info);
    settings_.skip_hours = skip;
    // The read is kept whatever happens to the card from here on, a kill of this run included.
    if (!write_read_record(out, "unchanged", info)) {
        trace("the read record could not be written into %s\n", out.c_str());
        show_card_message(149, MsgIcon::Warning, MsgButtons::Ok, true);
        return last_step_ = CardStep::NotMarked;
    }
    bool reconditioning = false;
    const int m = mark_as_read(allow_recondition, [&](bool recondition) {
        reconditioning = recondition;
        return write_read_record(out, recondition ? "reconditioning" : "marking", info);
    });
    CardStep step = m == 0    ? (reconditioning ? CardStep::Reconditioned : CardStep::Marked)
                    : m == 1  ? CardStep::ReadOnly
                    : m == -2 ? CardStep::ReconditionFailed
                              : CardStep::NotMarked;
    // A card that went away after the change landed holds it: the record says so, not "gone".
    if (!still_there() && !((step == CardStep::Marked || step == CardStep::Reconditioned) && holds_change()))
        step = CardStep::Lost;
    static const char* const state[] = {"marked",        "not marked",        "read-only",
                                        "reconditioned", "not reconditioned", "gone"};
    write_read_record(out, state[static_cast<int>(step)], info);
    switch (step) {
        case CardStep::ReadOnly: show_card_message(153, MsgIcon::Warning, MsgButtons::Ok, true); break;
        case CardStep::NotMarked: show_card_message(149, MsgIcon::Warning, MsgButtons::Ok, true); break;
        case CardStep::ReconditionFailed: show_card_message(203, MsgIcon::Warning, MsgButtons::Ok, true); break;
        case CardStep::Lost: show_card_message(205, MsgIcon::Warning, MsgButtons::Ok, true); break;
        default: break;
    }
    return last_step_ = step;
}

bool CardDisk::copy_all_files(const std::string& dest) {
    trace("\nCCFDisk::copy_all_files\n");
    const std::string d = canonical(dest);
    // Never empty the card itself or the file system's root.
    if (d == "/" || d.empty() || d == canonical(root_)) return false;
    for (FileFinder ff(join_path(dest, "*"), kFindFiles); !ff.at_end(); ff.next()) force_delete_file(ff.get_path());
    bool ok = true;
    for (const char* n : {"config.dat", "patient.wav", "cnav.dat"}) {
        delete_card_file(dest, n);
        trace("from %s to %s\n", card_path(root_, n).c_str(), card_path(dest, n).c_str());
        if (!copy_card_file(card_, dest, n)) ok = false;
    }
    delete_card_file(dest, "ecg.dat");
    trace("from %s to %s\n", card_path(root_, "ecg.dat").c_str(), card_path(dest, "ecg.dat").c_str());
    const platform::UniqueFile in = stream_of(open_ecg());
    if (!in) return false;
    OutsideFile made;
    made.fd = create_new_file(card_path(dest, "ecg.dat"), 0644);
    platform::UniqueFile out = stream_of(std::move(made), "wb");
    if (!out) return false;
    Sector s{};
    int first = -1;
    while (std::fread(s.data(), 1, s.size(), in.get()) == s.size()) {
        const int num = load_le16(&s[1]);
        if (first < 0) first = num;
        if (num != first) break;
        if (std::fwrite(s.data(), 1, s.size(), out.get()) != s.size()) ok = false;
    }
    // The copy is on the disk before the card is marked as read.
    if (!platform::sync_and_close_file(out)) ok = false;
    if (!ok || !platform::sync_folder(dest)) return false;
    mark_after_read(dest, true);
    CardDisk copy;
    copy.set_root(dest);
    copy.settings_ = settings_;
    copy.mark_as_read(false);
    if (mode_ == 10 && output_format_ == kFormatCnav) {
        set_read_only(card_path(dest, "patient.wav"));
        set_read_only(card_path(dest, "config.dat"));
    }
    return true;
}

std::vector<platform::MappedDrive> card_drives(char default_drive) {
    std::vector<platform::MappedDrive> found;
    for (auto& d : platform::mapped_drives()) {
        if (d.letter <= 'C' && d.letter != default_drive) continue;
        if (!(label_is_card(d.label) || d.letter == default_drive)) continue;
        // A card whose conditioning a run left half-way is a card: it is finished once taken.
        if (!holds_card_files(d.folder) && !conditioning_under_way(d.folder)) continue;
        found.push_back(d);
    }
    return found;
}

CardSearch find_card_drive(char default_drive) {
    CardSearch r;
    const auto found = card_drives(default_drive);
    for (auto& d : found) {
        if (r.letter == '?' || d.letter == default_drive) {
            r.letter = d.letter;
            r.root = d.folder;
        }
    }
    r.several = found.size() > 1;
    return r;
}

std::vector<IndexEntry> read_card_index(std::FILE* ecg) {
    std::vector<IndexEntry> entries;
    Sector s{};
    long sector_no = -1;
    for (long i = 0; i < 16; ++i) {
        if (std::fseek(ecg, i * kSectorSize, SEEK_SET) != 0 || std::fread(s.data(), 1, s.size(), ecg) != s.size())
            break;
        if (is_index_type(s[0])) {
            sector_no = i;
            break;
        }
    }
    if (sector_no < 0) return entries;
    std::set<long> visited{sector_no};
    const std::uint8_t type = s[0];
    std::size_t off = 3;
    for (;;) {
        if (off >= 508) break;
        const std::uint8_t tag = s[off];
        long next = -1;
        if (tag == 0) break;
        if (tag == 254) {
            next = sector_no + 1;
        } else if (tag == 255) {
            next = static_cast<long>(load_le32(&s[508]));
        } else {
            const std::uint8_t len = off + 1 < 508 ? s[off + 1] : 0;
            // An entry's length counts its tag and length bytes; it must stay inside the sector.
            if (len < 2 || off + len > 508) break;
            bool keep = type == kTypeIndexC ? (tag == 1 || tag == 3 || tag == 4) : (tag == 1 || tag == 2 || tag == 3);
            const std::size_t need = tag == 3 ? 8 : (tag == 1 ? 12 : 14);
            if (keep && len >= need && entries.size() < kMaxIndexEntries) {
                IndexEntry e;
                std::memcpy(e.bytes, &s[off], std::min<std::size_t>(len, sizeof(e.bytes)));
                entries.push_back(e);
            }
            off += len;
            continue;
        }
        if (next < 0 || next > 0x7FFFFF || visited.count(next)) break;
        visited.insert(next);
        if (std::fseek(ecg, next * kSectorSize, SEEK_SET) != 0 || std::fread(s.data(), 1, s.size(), ecg) != s.size() ||
            !is_index_type(s[0]))
            break;
        sector_no = next;
        off = 3;
    }
    return entries;
}

}  // namespace tv::vond
