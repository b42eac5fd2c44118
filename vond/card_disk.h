// The card access object: one card (a folder that stands for the card's root), its validation,
// conditioning, recovery and marking as read, and the reading of its ECG.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "vond/card_files.h"
#include "vond/card_format.h"

namespace tv::vond {

// Output formats of "/opformat=".
enum OutputFormat {
    kFormatNone = 0,
    kFormatPath = 1,
    kFormatArchive = 2,
    kFormatCnav = 3,
    kFormatMmf = 4,
    kFormatOs12File = 5,
    kFormatOs12Arch = 6
};

// Progress shown while a long operation runs; optional.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void set_range(std::uint32_t max) = 0;
    virtual void set_position(std::uint32_t pos) = 0;
};

struct ReadSettings {
    int skip_hours = 0;
    int duration_hours = 0;
    int calibration_seconds = 60;
    int resolution = 12;
    bool scramble = false;
    std::string procedure_id;
};

// Patient and recording information of a card.
struct RecordingInfo {
    std::string name, id, details_time, second_time, recording_start, recorder_id;
    int channels = 0;
    int length_hours = -1;
};

// How long a run waits for another that holds the card.
inline constexpr int kCardLockWaitMs = 3000;

// The completion record in the output folder of an ECG read: "complete", then what became of the
// card, then the recording's start and the recorder as PATSUMM.DAT gives them.
inline constexpr const char* kReadRecordName = "ECGREAD.DAT";

// What became of the card after a complete read.
enum class CardStep { Marked, NotMarked, ReadOnly, Reconditioned, ReconditionFailed, Lost, None };

class CardDisk {
public:
    // The mode asked for on the command line decides the cnav.dat size a card may carry.
    CardDisk() = default;

    // Opens the card's folder and locks the card for the rest of the run: the lock is the folder's
    // own (platform::lock_folder_within), so every path, account and machine root to one card
    // meets it and nothing planted can make it unusable. False when another run holds the card
    // beyond a short wait: busy() then says so, holder() names that run when it can be told, and
    // the card must not be touched.
    bool set_root(const std::string& root);
    const std::string& root() const { return root_; }
    bool busy() const { return busy_; }
    const std::string& holder() const { return holder_; }
    const CardFolder& card() const { return card_; }
    // True while the card's path still leads to the folder opened; a card that went away is
    // remembered (lost()) and fails the run.
    bool still_there();
    bool lost() const { return lost_; }
    // ecg.dat of the card for reading (regular, no link, of a card's size).
    OutsideFile open_ecg() const { return card_.open_file("ecg.dat", kMaxEcgBytes); }
    FoundSector start_sector() const;
    void set_mode(int mode) { mode_ = mode; }
    void set_output_format(int f) { output_format_ = f; }
    void set_input_folder(const std::string& f) { input_folder_ = f; }
    void set_default_drive(char d) { default_drive_ = d; }
    ReadSettings& settings() { return settings_; }
    void set_calibration(int seconds) {
        if (seconds >= 0) settings_.calibration_seconds = seconds;
    }
    const ConfigDat& config() const { return config_; }

    bool read_config();
    bool write_config() { return still_there() && vond::write_config(card_, config_); }

    // kExitUnreadable, kExitNoRecording or the channel count's code (exit_codes.h).
    int ecg_state();
    // 0, or kExitNoCard, kExitCardFailed, kExitUnreadable, kExitNoRecording, kExitInvalidFiles, kExitNotMarked.
    int validate(bool may_delete, bool require_label, bool write_mode);
    int check_card_files();
    bool recover_start_sector();
    // 0 done, 1 read-only medium, 2 too many recordings, -1 failure, -2 the card was to be
    // conditioned anew and that failed (it is then finished by the next run that meets it).
    // `before_change` runs right before the card is changed and may stop it (false).
    int mark_as_read(bool allow_recondition, const std::function<bool(bool recondition)>& before_change = {});
    // Finishes a conditioning that a run left unfinished (its record is on the card). False when
    // one was found and could not be finished; `found` tells whether there was one.
    bool finish_conditioning(bool* found = nullptr);
    bool condition(const std::string& t1, const std::string& t2, const std::string& t3,
                   const std::array<std::uint16_t, 32>* fir, Progress* progress = nullptr);
    bool write_patient_details(const std::string& t1, const std::string& t2, const std::string& t3,
                               const std::array<std::uint16_t, 32>* fir);
    bool setup_patient_details(const std::string& t1, const std::string& t2, const std::string& t3,
                               const std::array<std::uint16_t, 32>* fir);
    // True when the card is ready for a new recording afterwards.
    bool prepare_card(const std::string& t1, const std::string& t2, const std::string& t3,
                      const std::array<std::uint16_t, 32>* fir);
    // 0, kExitNotChanged or kExitDetailsInUse. In the patient-details change mode the card's cnav.dat is replaced by the one
    // in `cnav_folder` when that holds one.
    int change_patient_details(const std::string& t1, const std::string& t2, const std::string& t3, bool force,
                               const std::string& cnav_folder);

    // Copy the card's patient.wav (cnav.dat) into `dest` when it belongs to the recording on the
    // card, an older one there removed first. False when a copy that was due is not complete;
    // `copied` tells whether one was made.
    bool copy_patient_wav(const std::string& dest, bool* copied = nullptr);
    bool copy_cnav_from_card(const std::string& dest);
    bool write_cnavop(const std::string& dest);
    bool write_event_dat(const std::string& dest);
    bool recording_info(RecordingInfo& info);
    bool copy_all_files(const std::string& dest);
    // The read into `out` is complete and on the disk: the record says so, then the card is
    // marked as read (or conditioned anew) and the record says what became of it.
    CardStep mark_after_read(const std::string& out, bool allow_recondition);
    CardStep last_step() const { return last_step_; }
    // Whether this run changed the card's config.dat and the card, read through the folder opened
    // (which still reaches it after it was pulled), holds that change: what a run reports of a card
    // that went away comes from what it holds.
    bool holds_change() const;

    // Reads the ECG into `out_folder` (files) or the named mappings.
    bool read_ecg(int output_format, const std::string& out_folder, Progress* progress = nullptr);

    // Whether the patient details / sound file belong to the card's recording.
    bool details_belong(std::uint16_t start_num) const;

    int channels() const { return channels_; }
    bool twelve_lead() const { return twelve_lead_; }

private:
    friend class EcgReader;
    bool cnav_size_ok(std::int64_t size) const;
    bool cnav_from_input_wanted() const;
    // The cnav.dat that goes onto the card with `config`: the input folder's when the details are
    // the next recording's and it has one, else an empty one. False for one of a size no card carries.
    bool cnav_for_card(const ConfigDat& config, std::string& bytes) const;

    // The record of a conditioning under way: the card as it is to be (config.dat, cnav.dat, the
    // size of ecg.dat), written before the first file goes.
    bool condition_with(const ConfigDat& next, std::uint64_t ecg_size, const std::string& cnav, Progress* progress);
    bool create_ecg_dat_of(std::uint64_t size, Progress* progress);
    // Every entry of the card but `keep`.
    bool delete_all_entries(const std::string& keep = {});
    std::uint64_t ecg_size_for(std::uint64_t old_size, std::uint64_t cnav_size);

    std::string root_ = "?";
    CardFolder card_;
    bool busy_ = false;
    std::string holder_;
    bool lost_ = false;
    CardStep last_step_ = CardStep::None;
    int mode_ = 0;
    int output_format_ = 0;
    std::string input_folder_;
    char default_drive_ = '?';
    ReadSettings settings_;
    ConfigDat config_;
    std::optional<ConfigDat> first_config_;  // as the run first read it
    int channels_ = 0;
    bool twelve_lead_ = false;
};

// Card search: the drive map's card drives. Returns the card root folder and letter, or
// letter '?' when none; `several` is set when more than one card qualifies.
struct CardSearch {
    char letter = '?';
    std::string root;
    bool several = false;
};
CardSearch find_card_drive(char default_drive);
// Every drive that qualifies as a card, in letter order.
std::vector<platform::MappedDrive> card_drives(char default_drive);

// The index entries of a sector-coded card.
struct IndexEntry {
    std::uint8_t bytes[40] = {};
    std::uint8_t tag() const { return bytes[0]; }
    std::int64_t seconds() const { return CardClock::from_bytes(bytes + 2).to_seconds(); }
    std::uint32_t sector() const { return load_le32(bytes + 8); }
    std::uint16_t bit() const { return load_le16(bytes + 12); }
};
inline constexpr std::size_t kMaxIndexEntries = 500;
// Reads the index of ecg.dat (open for reading); the walk never loops and never over-reads.
std::vector<IndexEntry> read_card_index(std::FILE* ecg);

}  // namespace tv::vond
