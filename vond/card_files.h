// The card's small files (config.dat, patient.wav, cnav.dat, cnavop.dat, event.dat), the card
// volume as the card program sees it, and the texts written onto the card.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/safe_open.h"
#include "platform/handles.h"
#include "vond/card_format.h"

namespace tv::vond {

inline constexpr std::size_t kConfigSize = 512;
inline constexpr std::size_t kEmptyWavSize = 65536;
inline constexpr std::size_t kEmptyCnavSize = 8192;
inline constexpr std::size_t kRecordedCnavSize = 1024;
inline constexpr const char* kCardLabel = "QUX_CFR";
inline constexpr int kRecordingNumLimit = 65000;

// The largest card file of each kind that is read: what no card of the formats can carry is
// refused before it is read.
inline constexpr std::uint64_t kMaxSmallCardFile = 1u << 20;
inline constexpr std::uint64_t kMaxEcgBytes = 64ull << 30;

// A card's folder, opened once: every card file is reached relative to it, so that a card pulled
// from the reader (its mount point then shows the host's folder) is never written through its
// name. `still_there` tells whether the path still leads to the folder that was opened.
class CardFolder {
public:
    // The folder itself is the drive map's or the caller's; a link as its last component is refused.
    bool open(const std::string& path);
    void close();
    explicit operator bool() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    std::uint64_t device() const { return dev_; }
    std::uint64_t inode() const { return ino_; }
    bool still_there() const;
    // The name of the entry that is `name` without regard to case, exact spelling first.
    std::optional<std::string> find(const std::string& name) const;
    // `name` (found as find() does) opened for reading: regular, no link, `max` bytes at most.
    OutsideFile open_file(const std::string& name, std::uint64_t max) const;
    std::optional<std::vector<FolderEntry>> entries() const { return list_folder_at(fd_.get()); }

private:
    platform::UniqueFd fd_;
    std::string path_;
    std::uint64_t dev_ = 0, ino_ = 0;
};

// One file of a card update: its name in the folder and its new content.
struct CardFileUpdate {
    std::string name;
    std::string bytes;
};

// Replaces files of a card (or any folder) one after the other in the order given, so that the
// card reads as before or as after each step: a file that others point at (config.dat) goes
// last. A file is written under a temporary name beside it and renamed over the old one; where
// the card has no room for that, a file whose size stays is written over in place. The room is
// judged before anything is written, and when a step fails every file already replaced gets its
// old bytes back. Several files change under a record on the card that the next run finishes or
// undoes (undo_unfinished_change); without room for one they are not changed. False when the files
// could not all be replaced (the folder is then as it was).
bool replace_card_files(const CardFolder& folder, const std::vector<CardFileUpdate>& files);
bool replace_card_files(const std::string& folder, const std::vector<CardFileUpdate>& files);
// The one-file form: `path`'s folder and name.
bool write_card_file(const std::string& path, const void* data, std::size_t size);
// The temporary name replace_card_files writes `name` under; a card may hold one that an
// interrupted replacement left.
std::string card_temp_name(const std::string& name);
// The record of the old files that replace_card_files keeps on the card while it changes several.
inline constexpr const char* kCardUndoName = "undo.dat";
// Puts back (or, on a full card, finishes) the files of a change of several that a run left
// unfinished (its record is on the card), so that they all belong to one state of the card again. 1 when one was undone, 0 when
// there was none, -1 when it could not be undone (the record stays for the next run).
int undo_unfinished_change(const CardFolder& card);

// config.dat, kept as its 512 bytes.
struct ConfigDat {
    std::array<std::uint8_t, kConfigSize> bytes{};

    std::uint16_t recording_num() const { return load_le16(&bytes[1]); }
    std::uint16_t patient_data_num() const { return load_le16(&bytes[10]); }
    std::uint16_t wav_recording_num() const { return load_le16(&bytes[12]); }
    void set_recording_num(unsigned v) { store_le16(&bytes[1], v); }
    void set_patient_data_num(unsigned v) { store_le16(&bytes[10], v); }
    void set_wav_recording_num(unsigned v) { store_le16(&bytes[12], v); }
    std::uint8_t code_page() const { return bytes[95]; }

    // Texts bounded by their fields (160, 160, 80 bytes); written cut to the field less its NUL.
    std::string text(int index) const;  // 1..3, as stored
    void set_text(int index, const std::string& value);
    // Texts in logical order (code page 131 is stored in visual order).
    std::string logical_text(int index) const;
    void set_logical_texts(const std::string& t1, const std::string& t2, const std::string& t3, std::uint8_t cp);

    void set_time(int offset, std::int64_t unix_time);  // local time, s m h d M yy
    // FIR block: the first 32 bytes of the table at 16..47; 48..79 cleared; the sum at 80.
    void set_fir(const std::array<std::uint16_t, 32>* table);
};

bool read_config(const CardFolder& card, ConfigDat& config);
bool write_config(const CardFolder& card, const ConfigDat& config);

// Code page byte of the texts: 129 default, 130 Central European, 131 Hebrew.
std::uint8_t current_code_page_byte();
// Reverses each run of right-to-left bytes in place (its own inverse).
std::string to_visual_order(const std::string& text);

std::string empty_patient_wav();
std::string empty_cnav();
bool write_empty_patient_wav(const std::string& folder);

// The card volume behind a card root.
struct CardVolume {
    bool exists = false;
    bool is_drive_root = false;  // the root is a card drive's folder from the drive map
    char letter = 0;
    std::string label = "?";
    std::uint64_t capacity = 0;  // the size the drive map declares, or 0
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    bool read_only = false;
};
CardVolume card_volume(const CardFolder& card);
CardVolume card_volume(const std::string& root);
bool set_card_label(const std::string& root, const std::string& label);

bool is_allowed_card_file(const std::string& name);
bool only_allowed_files(const CardFolder& card);
bool has_read_only_or_folders(const CardFolder& card);
// A regular file that exists and, when size > 0, has exactly that size.
bool folder_file_exists(const CardFolder& card, const std::string& name, std::int64_t size);
// The size of the regular file `name`, -1 when there is none.
std::int64_t card_file_size(const CardFolder& card, const std::string& name);

// "%d/%m/%Y %H:%M:%S" of a six-byte card time (s m h d M yy).
std::string format_card_time(const std::uint8_t* t);

}  // namespace tv::vond
