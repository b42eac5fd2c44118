#include "vond/card_files.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "common/bytes.h"
#include "common/files.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "vond/messages.h"

namespace tv::vond {
namespace {

constexpr std::size_t kTextOffset[4] = {0, 96, 256, 416};
constexpr std::size_t kTextSize[4] = {0, 160, 160, 80};

bool is_rtl_byte(std::uint8_t b) {
    return (b >= 129 && b <= 130) || (b >= 132 && b <= 137) || b == 139 || (b >= 141 && b <= 153) || b == 155 ||
           (b >= 157 && b <= 158) || (b >= 160 && b <= 187) || (b >= 191 && b <= 251) || (b >= 253 && b <= 254);
}

std::string strip_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string canonical(const std::string& p) {
    std::error_code ec;
    auto c = std::filesystem::weakly_canonical(p, ec);
    return strip_slashes(ec ? p : c.string());
}

// The bytes a replacement may still put on the card's volume: the file system's free space, and
// no more than a card of a declared size has left.
std::uint64_t room_on(const CardFolder& card, std::uint64_t& block) {
    struct statvfs sv;
    if (::fstatvfs(card.fd(), &sv) != 0) return 0;
    block = std::max<std::uint64_t>(sv.f_frsize ? sv.f_frsize : sv.f_bsize, 512);
    std::uint64_t room = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
    const CardVolume v = card_volume(card);
    if (v.is_drive_root) room = std::min(room, v.free);
    return room;
}

std::uint64_t blocks_of(std::uint64_t size, std::uint64_t block) { return (size + block - 1) / block * block; }

bool flush_fd(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

// A new file with `bytes` and `mode`, on the disk; removed again when that fails.
bool write_new_file(const CardFolder& card, const std::string& name, std::string_view bytes, mode_t mode) {
    platform::UniqueFd fd = create_new_file_at(card.fd(), name, 0600);
    if (!fd) return false;
    bool ok = platform::write_all(fd.get(), bytes.data(), bytes.size()) && ::fchmod(fd.get(), mode) == 0 &&
              flush_fd(fd.get());
    ok = fd.close() && ok;
    if (!ok) ::unlinkat(card.fd(), name.c_str(), 0);
    return ok;
}

// Writes `bytes` over an existing file without first giving up its blocks, then cuts it to length.
bool write_in_place(const CardFolder& card, const std::string& name, std::string_view bytes) {
    platform::UniqueFd fd = open_plain_file_for_writing_at(card.fd(), name);
    if (!fd) return false;
    bool ok = platform::pwrite_all(fd.get(), bytes.data(), bytes.size(), 0) &&
              ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) == 0 && flush_fd(fd.get());
    return fd.close() && ok;
}

struct PlannedFile {
    std::string name, temp;
    std::string_view bytes;
    bool existed = false;
    std::string old;
    mode_t mode = 0644;
    bool in_place = false;
};

bool restore(const CardFolder& card, const PlannedFile& p) {
    if (!p.existed) return ::unlinkat(card.fd(), p.name.c_str(), 0) == 0 || errno == ENOENT;
    if (write_in_place(card, p.name, p.old)) return true;
    trace("%s/%s could not be restored\n", card.path().c_str(), p.name.c_str());
    return false;
}

// The undo record of a change of several files: each file's name, whether it was there, its old
// bytes; a CRC-32 of all that at the end. Written whole under a temporary name and then put in
// place, so a record on the card is always one that was finished.
constexpr const char* kUndoMagic = "CARDUNDO1\n";
// The record of a change that is finished forward: the same entries with each file's new bytes,
// its length after the magic. A card its ecg.dat fills has no room for a record beside its
// files, so this one takes patient.wav's place where the change leaves the empty sound file
// there; a sound file never starts with it.
constexpr const char* kNextMagic = "CARDNEXT1\n";

std::string change_record(const char* magic, const std::vector<PlannedFile>& plan, bool next) {
    std::string r = magic;
    for (const PlannedFile& p : plan) {
        const std::string_view bytes = next ? p.bytes : std::string_view(p.old);
        r += p.name + "\n" + (next || p.existed ? "1" : "0") + "\n" + std::to_string(bytes.size()) + "\n";
        r += bytes;
    }
    std::uint8_t crc[4];
    store_le32(crc, crc32_update(0xFFFFFFFFu, r.data(), r.size()) ^ 0xFFFFFFFFu);
    return r + std::string(reinterpret_cast<const char*>(crc), 4);
}

// The files a record holds, each with the bytes the record keeps for it in `old`; false for one
// that is cut or altered.
bool parse_change_record(const std::string& r, const char* magic_text, std::vector<PlannedFile>& plan) {
    const std::size_t magic = std::strlen(magic_text);
    if (r.size() < magic + 4 || r.compare(0, magic, magic_text) != 0) return false;
    const std::size_t body = r.size() - 4;
    if (load_le32(reinterpret_cast<const std::uint8_t*>(r.data() + body)) !=
        (crc32_update(0xFFFFFFFFu, r.data(), body) ^ 0xFFFFFFFFu))
        return false;
    std::size_t at = magic;
    auto line = [&](std::string& out) {
        const std::size_t end = r.find('\n', at);
        if (end == std::string::npos || end >= body) return false;
        out = r.substr(at, end - at);
        at = end + 1;
        return true;
    };
    while (at < body) {
        PlannedFile p;
        std::string existed, size;
        if (!line(p.name) || !line(existed) || !line(size) || !is_allowed_card_file(p.name)) return false;
        const ParsedInteger n = parse_integer(size, 0, static_cast<std::int64_t>(kMaxSmallCardFile));
        if (!n.whole(size.size()) || at + static_cast<std::size_t>(n.value) > body) return false;
        p.existed = existed == "1";
        p.old = r.substr(at, static_cast<std::size_t>(n.value));
        at += static_cast<std::size_t>(n.value);
        plan.push_back(std::move(p));
    }
    return true;
}

// Puts a file's old bytes back (or removes it when it was not there): as a new file renamed over
// it where that can be done, else over the file as it stands.
bool put_back(const CardFolder& card, const PlannedFile& p) {
    if (!p.existed) return ::unlinkat(card.fd(), p.name.c_str(), 0) == 0 || errno == ENOENT;
    const std::string temp = card_temp_name(p.name);
    ::unlinkat(card.fd(), temp.c_str(), 0);
    if (write_new_file(card, temp, p.old, 0644) && ::renameat(card.fd(), temp.c_str(), card.fd(), p.name.c_str()) == 0)
        return true;
    ::unlinkat(card.fd(), temp.c_str(), 0);
    return write_in_place(card, p.name, p.old);
}

// patient.wav's image while it holds the forward record of the change of `files`: the record,
// then the empty sound file's bytes, so that the file keeps its size. Empty when it does not fit.
std::string next_record_image(const std::vector<PlannedFile>& files) {
    const std::string r = change_record(kNextMagic, files, true);
    std::string image = kNextMagic + std::to_string(r.size()) + "\n" + r;
    if (image.size() > kEmptyWavSize) return {};
    const std::string wav = empty_patient_wav();
    return image + wav.substr(image.size());
}

// The forward record in patient.wav's place: 1 a whole one (its files in `plan`), 0 none, -1 one
// that was cut short or altered.
int read_next_record(const CardFolder& card, const std::string& wav, std::vector<PlannedFile>& plan) {
    const OutsideFile f = open_outside_file_at(card.fd(), wav, kMaxSmallCardFile);
    const std::size_t magic = std::strlen(kNextMagic);
    std::string bytes(f ? f.size : 0, '\0');
    if (bytes.size() < magic || !platform::pread_all(f.fd.get(), bytes.data(), bytes.size(), 0) ||
        bytes.compare(0, magic, kNextMagic) != 0)
        return 0;
    const std::size_t end = bytes.find('\n', magic);
    if (end == std::string::npos) return -1;
    const std::string size = bytes.substr(magic, end - magic);
    const ParsedInteger n = parse_integer(size, 0, static_cast<std::int64_t>(kEmptyWavSize));
    if (!n.whole(size.size()) || end + 1 + static_cast<std::size_t>(n.value) > bytes.size()) return -1;
    return parse_change_record(bytes.substr(end + 1, static_cast<std::size_t>(n.value)), kNextMagic, plan) ? 1 : -1;
}

// Finishes a change whose forward record is in patient.wav's place: 1 when one was finished, 0
// when there was none, -1 when it could not be (the record stays for the next run).
int finish_recorded_change(const CardFolder& card) {
    const auto wav = card.find("patient.wav");
    std::vector<PlannedFile> plan;
    int found = wav ? read_next_record(card, *wav, plan) : 0;
    if (found == 0) return 0;
    // Only the files a details change writes, of the sizes a card carries: the record is on a card
    // anyone may write.
    for (const PlannedFile& p : plan) {
        const bool config = platform::iequals(p.name, "config.dat") && p.old.size() == kConfigSize;
        const bool cnav = platform::iequals(p.name, "cnav.dat") &&
                          (p.old.size() == kEmptyCnavSize || p.old.size() == kRecordedCnavSize);
        if (!config && !cnav) found = -1;
    }
    if (found > 0) {
        trace("a change of the card's files left unfinished is finished\n");
        for (const PlannedFile& p : plan)
            if (!put_back(card, p)) return -1;
    } else {
        // Cut short while it was written: nothing else was changed after it.
        trace("a record cut short on %s is dropped\n", card.path().c_str());
    }
    // Either way the change leaves the empty sound file there.
    return write_in_place(card, *wav, empty_patient_wav()) && flush_fd(card.fd()) ? std::max(found, 0) : -1;
}

bool remove_undo_record(const CardFolder& card) {
    const bool gone = ::unlinkat(card.fd(), kCardUndoName, 0) == 0 || errno == ENOENT;
    return gone && flush_fd(card.fd());
}

}  // namespace

std::string card_temp_name(const std::string& name) { return name + ".new"; }

int undo_unfinished_change(const CardFolder& card) {
    if (!card) return 0;
    if (const int finished = finish_recorded_change(card)) return finished;
    const auto name = card.find(kCardUndoName);
    if (!name) return 0;
    ::unlinkat(card.fd(), card_temp_name(*name).c_str(), 0);
    OutsideFile f = open_outside_file_at(card.fd(), *name, 8 * kMaxSmallCardFile);
    std::string bytes(f ? f.size : 0, '\0');
    std::vector<PlannedFile> plan;
    if (!f || !platform::pread_all(f.fd.get(), bytes.data(), bytes.size(), 0) ||
        !parse_change_record(bytes, kUndoMagic, plan)) {
        // Never finished, so nothing was changed after it: it only goes.
        trace("an unusable undo record on %s is removed\n", card.path().c_str());
        return remove_undo_record(card) ? 0 : -1;
    }
    trace("a change of the card's files left unfinished is undone\n");
    for (std::size_t i = plan.size(); i-- > 0;)
        if (!put_back(card, plan[i])) return -1;
    return remove_undo_record(card) ? 1 : -1;
}

bool CardFolder::open(const std::string& path) {
    close();
    path_ = path;
    fd_ = open_folder_no_link(platform::strip_trailing_slashes(path));
    struct stat st;
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) {
        fd_.reset();
        return false;
    }
    dev_ = static_cast<std::uint64_t>(st.st_dev);
    ino_ = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

void CardFolder::close() {
    fd_.reset();
    dev_ = ino_ = 0;
}

bool CardFolder::still_there() const {
    if (!fd_) return false;
    CardFolder now;
    return now.open(path_) && now.dev_ == dev_ && now.ino_ == ino_;
}

std::optional<std::string> CardFolder::find(const std::string& name) const {
    if (!fd_) return std::nullopt;
    const auto list = entries();
    if (!list) return std::nullopt;
    std::optional<std::string> found;
    for (const FolderEntry& e : *list) {
        if (e.name == name) return e.name;
        if (!found && platform::iequals(e.name, name)) found = e.name;
    }
    return found;
}

OutsideFile CardFolder::open_file(const std::string& name, std::uint64_t max) const {
    const auto actual = find(name);
    if (!actual) {
        OutsideFile none;
        none.refusal = OutsideRefusal::Missing;
        return none;
    }
    return open_outside_file_at(fd_.get(), *actual, max);
}

bool replace_card_files(const std::string& folder, const std::vector<CardFileUpdate>& files) {
    CardFolder card;
    return card.open(folder) && replace_card_files(card, files);
}

bool replace_card_files(const CardFolder& card, const std::vector<CardFileUpdate>& files) {
    // A card that went away is never written: its mount point now shows another folder.
    if (!card.still_there()) {
        trace("the card in %s is no longer there\n", card.path().c_str());
        return false;
    }
    std::uint64_t block = 512;
    std::uint64_t room = room_on(card, block);
    std::vector<PlannedFile> plan;
    const auto list = card.entries();
    if (!list) return false;
    for (const CardFileUpdate& f : files) {
        PlannedFile p;
        p.bytes = f.bytes;
        p.name = card.find(f.name).value_or(f.name);
        p.temp = card_temp_name(p.name);
        const auto e = std::find_if(list->begin(), list->end(), [&](const FolderEntry& x) { return x.name == p.name; });
        if (e != list->end()) {
            // Without the old bytes a failure could not be undone.
            OutsideFile old = open_outside_file_at(card.fd(), p.name, kMaxSmallCardFile);
            std::string bytes(old ? old.size : 0, '\0');
            if (!old || !platform::pread_all(old.fd.get(), bytes.data(), bytes.size(), 0)) {
                trace("%s/%s cannot be read before it is replaced\n", card.path().c_str(), p.name.c_str());
                return false;
            }
            p.existed = true;
            p.old = std::move(bytes);
            p.mode = e->mode;
        }
        // A renamed file needs room for its whole new copy beside the old one, whose blocks come
        // back once it is replaced.
        const std::uint64_t need = blocks_of(p.bytes.size(), block);
        if (need <= room) {
            room = room - need + (p.existed ? blocks_of(p.old.size(), block) : 0);
        } else if (p.existed && p.old.size() == p.bytes.size()) {
            p.in_place = true;
        } else {
            trace("no room on %s for %s\n", card.path().c_str(), p.name.c_str());
            return false;
        }
        plan.push_back(std::move(p));
    }
    // Several files change together: until the last is in place a record of the old ones is on
    // the card, so that the next run, whatever its mode, puts them back should this one not finish.
    // A card its ecg.dat fills has no room for it: there the record of the new ones takes
    // patient.wav's place where the change leaves the empty sound file there, and the next run
    // finishes the change. A card that allows neither is left as it is.
    bool recorded = false;
    std::optional<std::string> wav;  // patient.wav while it holds the forward record
    std::string wav_old;
    if (plan.size() > 1) {
        const std::string record = change_record(kUndoMagic, plan, false);
        const std::string temp = card_temp_name(kCardUndoName);
        ::unlinkat(card.fd(), temp.c_str(), 0);
        if (blocks_of(record.size(), block) <= room && write_new_file(card, temp, record, 0644)) {
            recorded = ::renameat(card.fd(), temp.c_str(), card.fd(), kCardUndoName) == 0 && flush_fd(card.fd());
            if (!recorded) ::unlinkat(card.fd(), temp.c_str(), 0);
        }
        if (!recorded) {
            wav = card.find("patient.wav");
            std::vector<PlannedFile> others;
            bool emptied = false;
            for (const PlannedFile& p : plan) {
                if (wav && p.name == *wav) {
                    emptied = p.bytes == empty_patient_wav();
                    wav_old = p.old;
                } else {
                    others.push_back(p);
                }
            }
            if (wav && !emptied) {
                const OutsideFile f = open_outside_file_at(card.fd(), *wav, kMaxSmallCardFile);
                wav_old.assign(f ? f.size : 0, '\0');
                emptied = f && platform::pread_all(f.fd.get(), wav_old.data(), wav_old.size(), 0) &&
                          wav_old == empty_patient_wav();
            }
            const std::string image = emptied ? next_record_image(others) : std::string();
            if (image.empty() || wav_old.size() != image.size() || !write_in_place(card, *wav, image) ||
                !flush_fd(card.fd())) {
                if (!image.empty()) restore(card, PlannedFile{*wav, {}, {}, true, wav_old});
                trace("no room on %s for the record of its change\n", card.path().c_str());
                return false;
            }
        }
    }
    const bool forward = wav && !recorded;
    auto undo = [&](std::size_t done) {
        bool back = true;
        for (std::size_t i = done; i-- > 0;)
            if (!forward || plan[i].name != *wav) back = restore(card, plan[i]) && back;
        // The record stays while the files are not all back: the next run settles them from it.
        if (back && forward) back = restore(card, PlannedFile{*wav, {}, {}, true, wav_old});
        ::fsync(card.fd());
        if (back && recorded) remove_undo_record(card);
        return false;
    };
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlannedFile& p = plan[i];
        if (forward && p.name == *wav) continue;  // emptied last, which ends its record
        if (!card.still_there()) {
            trace("the card in %s is no longer there\n", card.path().c_str());
            return undo(i);
        }
        ::unlinkat(card.fd(), p.temp.c_str(), 0);  // left by an interrupted replacement
        bool ok;
        if (p.in_place) {
            ok = write_in_place(card, p.name, p.bytes);
            if (!ok) restore(card, p);
        } else {
            ok = write_new_file(card, p.temp, p.bytes, p.mode) &&
                 ::renameat(card.fd(), p.temp.c_str(), card.fd(), p.name.c_str()) == 0;
            if (!ok) ::unlinkat(card.fd(), p.temp.c_str(), 0);
        }
        if (!ok) {
            trace("%s/%s could not be replaced\n", card.path().c_str(), p.name.c_str());
            return undo(i);
        }
    }
    if (forward && (!card.still_there() || !write_in_place(card, *wav, empty_patient_wav()))) {
        trace("%s/%s could not be emptied\n", card.path().c_str(), wav->c_str());
        return undo(plan.size());
    }
    if (!flush_fd(card.fd())) return undo(plan.size());
    if (recorded && !remove_undo_record(card))
        trace("the undo record on %s could not be removed\n", card.path().c_str());
    return true;
}

bool write_card_file(const std::string& path, const void* data, std::size_t size) {
    const PathParts parts = split_path(path);
    return replace_card_files(parts.folder, {{parts.name, std::string(static_cast<const char*>(data), size)}});
}

std::string ConfigDat::text(int index) const {
    if (index < 1 || index > 3) return {};
    const std::uint8_t* p = &bytes[kTextOffset[index]];
    std::size_t n = 0;
    while (n < kTextSize[index] && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

void ConfigDat::set_text(int index, const std::string& value) {
    if (index < 1 || index > 3) return;
    std::uint8_t* p = &bytes[kTextOffset[index]];
    std::memset(p, 0, kTextSize[index]);
    const std::size_t n = std::min(value.size(), kTextSize[index] - 1);
    std::memcpy(p, value.data(), n);
}

std::string ConfigDat::logical_text(int index) const {
    std::string t = text(index);
    return code_page() == 131 ? to_visual_order(t) : t;
}

void ConfigDat::set_logical_texts(const std::string& t1, const std::string& t2, const std::string& t3,
                                  std::uint8_t cp) {
    bytes[95] = cp;
    const std::string* texts[3] = {&t1, &t2, &t3};
    for (int i = 0; i < 3; ++i) {
        // Cut before the order is turned, so the stored text is the visual form of what is kept.
        std::string v = texts[i]->substr(0, kTextSize[i + 1] - 1);
        set_text(i + 1, cp == 131 ? to_visual_order(v) : v);
    }
}

void ConfigDat::set_time(int offset, std::int64_t unix_time) {
    std::time_t t = static_cast<std::time_t>(unix_time);
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return;
    bytes[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(tm.tm_sec);
    bytes[static_cast<std::size_t>(offset) + 1] = static_cast<std::uint8_t>(tm.tm_min);
    bytes[static_cast<std::size_t>(offset) + 2] = static_cast<std::uint8_t>(tm.tm_hour);
    bytes[static_cast<std::size_t>(offset) + 3] = static_cast<std::uint8_t>(tm.tm_mday);
    bytes[static_cast<std::size_t>(offset) + 4] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    bytes[static_cast<std::size_t>(offset) + 5] = static_cast<std::uint8_t>((tm.tm_year + 1900) % 100);
}

void ConfigDat::set_fir(const std::array<std::uint16_t, 32>* table) {
    // The recorder reads the first 32 bytes of the table; the rest of the block is cleared so
    // that the sum over the block is the same on every write.
    std::memset(&bytes[16], 0, 64);
    if (table) {
        bytes[15] = 32;
        for (int i = 0; i < 16; ++i)
            store_le16(&bytes[16 + 2 * static_cast<std::size_t>(i)], (*table)[static_cast<std::size_t>(i)]);
    } else {
        bytes[15] = 0;
    }
    unsigned sum = 0;
    for (int i = 0; i < 32; ++i) sum += load_le16(&bytes[16 + 2 * static_cast<std::size_t>(i)]);
    store_le16(&bytes[80], table ? sum & 0xFFFF : 0);
}

bool read_config(const CardFolder& card, ConfigDat& config) {
    const OutsideFile f = card.open_file("config.dat", kMaxSmallCardFile);
    if (!f) return false;
    config.bytes.fill(0);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(f.size, kConfigSize));
    return platform::pread_all(f.fd.get(), config.bytes.data(), n, 0);
}

bool write_config(const CardFolder& card, const ConfigDat& config) {
    return replace_card_files(card, {{"config.dat", std::string(config.bytes.begin(), config.bytes.end())}});
}

std::uint8_t current_code_page_byte() {
    locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (!loc) return 129;
    std::string cs = ::nl_langinfo_l(CODESET, loc);
    ::freelocale(loc);
    cs = to_upper_copy(cs);
    if (cs == "CP1255" || cs == "CP862" || cs == "ISO-8859-8" || cs == "WINDOWS-1255") return 131;
    if (cs == "CP1250" || cs == "ISO-8859-2" || cs == "WINDOWS-1250") return 130;
    return 129;
}

std::string to_visual_order(const std::string& text) {
    std::string out = text;
    std::size_t i = 0;
    while (i < out.size()) {
        if (!is_rtl_byte(static_cast<std::uint8_t>(out[i]))) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < out.size() && is_rtl_byte(static_cast<std::uint8_t>(out[j]))) ++j;
        std::reverse(out.begin() + static_cast<std::ptrdiff_t>(i), out.begin() + static_cast<std::ptrdiff_t>(j));
        i = j;
    }
    return out;
}

std::string empty_patient_wav() {
    std::string w(kEmptyWavSize, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(w.data());
    std::memcpy(p, "RIFF", 4);
    store_le32(p + 4, 65528);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    store_le32(p + 16, 18);
    store_le16(p + 20, 1);
    store_le16(p + 22, 1);
    store_le32(p + 24, 8000);
    store_le32(p + 28, 8000);
    store_le16(p + 32, 1);
    store_le16(p + 34, 8);
    store_le16(p + 36, 0);
    std::memcpy(p + 38, "fact", 4);
    store_le32(p + 42, 4);
    store_le32(p + 46, 65477);
    std::memcpy(p + 50, "data", 4);
    store_le32(p + 54, 65477);
    return w;
}

bool write_empty_patient_wav(const std::string& folder) {
    const std::string w = empty_patient_wav();
    return write_card_file(card_path(folder, "patient.wav"), w.data(), w.size());
}

std::string empty_cnav() { return std::string(kEmptyCnavSize, '\0'); }

CardVolume card_volume(const std::string& root) {
    CardFolder card;
    card.open(root);
    return card_volume(card);
}

CardVolume card_volume(const CardFolder& card) {
    CardVolume v;
    v.exists = card && card.still_there();
    if (!v.exists) return v;
    const std::string me = canonical(card.path());
    std::optional<platform::MappedDrive> drive;
    for (auto& d : platform::mapped_drives())
        if (canonical(d.folder) == me) drive = d;
    if (drive) {
        v.is_drive_root = true;
        v.letter = drive->letter;
        v.label = drive->label.empty() ? "?" : drive->label;
        v.read_only = drive->kind == platform::DriveKind::CdRom;
    }
    struct statvfs sv;
    if (drive && drive->capacity) {
        // A card folder stands for a whole card: what its files take is what is gone.
        std::uint64_t used = 0;
        for (const FolderEntry& e : card.entries().value_or(std::vector<FolderEntry>{}))
            used += (e.size + 511) / 512 * 512;
        v.capacity = v.total = drive->capacity;
        v.free = used >= v.total ? 0 : v.total - used;
    } else if (::fstatvfs(card.fd(), &sv) == 0) {
        v.total = static_cast<std::uint64_t>(sv.f_blocks) * sv.f_frsize;
        v.free = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
    }
    return v;
}

bool set_card_label(const std::string& root, const std::string& label) {
    const std::string me = canonical(root);
    for (auto d : platform::mapped_drives()) {
        if (canonical(d.folder) != me) continue;
        d.label = label;
        return platform::map_drive(d);
    }
    return false;
}

bool is_allowed_card_file(const std::string& name) {
    for (const char* n :
         {"patient.wav", "ecg.dat", "config.dat", "cnav.dat", "BOOTEX.LOG", "BOOTLOG.TXT", kCardUndoName})
        if (platform::iequals(name, n)) return true;
    // What an interrupted replacement left never makes the card unusable; the next one removes it.
    for (const char* n : {"patient.wav", "config.dat", "cnav.dat", kCardUndoName})
        if (platform::iequals(name, card_temp_name(n))) return true;
    return false;
}

bool only_allowed_files(const CardFolder& card) {
    // Every entry is judged by its name, empty files included.
    const auto list = card.entries();
    if (!list) return false;
    for (const FolderEntry& e : *list)
        if (!is_allowed_card_file(e.name)) return false;
    return true;
}

bool has_read_only_or_folders(const CardFolder& card) {
    for (const FolderEntry& e : card.entries().value_or(std::vector<FolderEntry>{}))
        if (e.folder || !(e.mode & S_IWUSR)) return true;
    return false;
}

std::int64_t card_file_size(const CardFolder& card, const std::string& name) {
    const auto actual = card.find(name);
    if (!actual) return -1;
    for (const FolderEntry& e : card.entries().value_or(std::vector<FolderEntry>{}))
        if (e.name == *actual) return e.regular ? static_cast<std::int64_t>(e.size) : -1;
    return -1;
}

bool folder_file_exists(const CardFolder& card, const std::string& name, std::int64_t size) {
    const std::int64_t n = card_file_size(card, name);
    return n >= 0 && (size <= 0 || n == size);
}

std::string format_card_time(const std::uint8_t* t) {
    const int year = t[5] == 99 ? 1999 : 2000 + t[5];
    return format_string("%02d/%02d/%04d %02d:%02d:%02d", t[3], t[4], year, t[2], t[1], t[0]);
}

}  // namespace tv::vond
