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
std::uint64_t room_on(const std::string& folder, std::uint64_t& block) {
    struct statvfs sv;
    if (::statvfs(folder.c_str(), &sv) != 0) return 0;
    block = std::max<std::uint64_t>(sv.f_frsize ? sv.f_frsize : sv.f_bsize, 512);
    std::uint64_t room = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
    const CardVolume v = card_volume(folder);
    if (v.is_drive_root) room = std::min(room, v.free);
    return room;
}

std::uint64_t blocks_of(std::uint64_t size, std::uint64_t block) { return (size + block - 1) / block * block; }

bool flush_fd(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

// A new file with `bytes` and `mode`, on the disk; removed again when that fails.
bool write_new_file(const std::string& path, std::string_view bytes, mode_t mode) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return false;
    bool ok = platform::write_all(fd.get(), bytes.data(), bytes.size()) && ::fchmod(fd.get(), mode) == 0 &&
              flush_fd(fd.get());
    ok = fd.close() && ok;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// Writes `bytes` over an existing file without first giving up its blocks, then cuts it to length.
bool write_in_place(const std::string& path, std::string_view bytes) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return false;
    bool ok = platform::pwrite_all(fd.get(), bytes.data(), bytes.size(), 0) &&
              ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) == 0 && flush_fd(fd.get());
    return fd.close() && ok;
}

struct PlannedFile {
    std::string path, temp;
    std::string_view bytes;
    bool existed = false;
    std::string old;
    mode_t mode = 0644;
    bool in_place = false;
};

void restore(const PlannedFile& p) {
    if (!p.existed) {
        ::unlink(p.path.c_str());
        return;
    }
    if (!write_in_place(p.path, p.old)) trace("%s could not be restored\n", p.path.c_str());
}

}  // namespace

std::string card_temp_name(const std::string& name) { return name + ".new"; }

bool replace_card_files(const std::string& folder, const std::vector<CardFileUpdate>& files) {
    std::uint64_t block = 512;
    std::uint64_t room = room_on(folder, block);
    std::vector<PlannedFile> plan;
    for (const CardFileUpdate& f : files) {
        PlannedFile p;
        p.bytes = f.bytes;
        const auto found = platform::find_name_ci(folder, f.name);
        p.path = found ? *found : join_path(folder, f.name);
        p.temp = join_path(get_path_folder(p.path), card_temp_name(p.path.substr(p.path.rfind('/') + 1)));
        struct stat st;
        if (::lstat(p.path.c_str(), &st) == 0) {
            std::vector<std::uint8_t> old;
            // Without the old bytes a failure could not be undone.
            if (!S_ISREG(st.st_mode) || !platform::read_whole_file(p.path, old)) {
                trace("%s cannot be read before it is replaced\n", p.path.c_str());
                return false;
            }
            p.existed = true;
            p.old.assign(old.begin(), old.end());
            p.mode = st.st_mode & 07777;
        }
        // A renamed file needs room for its whole new copy beside the old one, whose blocks come
        // back once it is replaced.
        const std::uint64_t need = blocks_of(p.bytes.size(), block);
        if (need <= room) {
            room = room - need + (p.existed ? blocks_of(p.old.size(), block) : 0);
        } else if (p.existed && p.old.size() == p.bytes.size()) {
            p.in_place = true;
        } else {
            trace("no room on %s for %s\n", folder.c_str(), p.path.c_str());
            return false;
        }
        plan.push_back(std::move(p));
    }
    auto undo = [&](std::size_t done) {
        for (std::size_t i = done; i-- > 0;) restore(plan[i]);
        platform::sync_folder(folder);
        return false;
    };
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlannedFile& p = plan[i];
        ::unlink(p.temp.c_str());  // left by an interrupted replacement
        bool ok;
        if (p.in_place) {
            ok = write_in_place(p.path, p.bytes);
            if (!ok) restore(p);
        } else {
            ok = write_new_file(p.temp, p.bytes, p.mode) && ::rename(p.temp.c_str(), p.path.c_str()) == 0;
            if (!ok) ::unlink(p.temp.c_str());
        }
        if (!ok) {
            trace("%s could not be replaced\n", p.path.c_str());
            return undo(i);
        }
    }
    if (!platform::sync_folder(folder)) return undo(plan.size());
    return true;
}

bool write_card_file(const std::string& path, const void* data, std::size_t size) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return replace_card_files(folder, {{name, std::string(static_cast<const char*>(data), size)}});
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

bool read_config(const std::string& root, ConfigDat& config) {
    const platform::UniqueFile f = platform::open_file(card_path(root, "config.dat"), "rb");
    if (!f) return false;
    config.bytes.fill(0);
    std::fread(config.bytes.data(), 1, kConfigSize, f.get());
    return true;
}

bool write_config(const std::string& root, const ConfigDat& config) {
    return write_card_file(card_path(root, "config.dat"), config.bytes.data(), kConfigSize);
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
    CardVolume v;
    struct stat st;
    v.exists = ::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!v.exists) return v;
    const std::string me = canonical(root);
    std::optional<platform::MappedDrive> drive;
    for (auto& d : platform::mapped_drives())
        if (canonical(d.folder) == me) drive = d;
    if (drive) {
        v.is_drive_root = true;
        v.letter = drive->letter;
        v.label = drive->label.empty() ? "?" : drive->label;
        v.read_only = drive->kind == platform::DriveKind::CdRom;
    }
    if (drive && drive->capacity) {
        // A card folder stands for a whole card: what its files take is what is gone.
        std::uint64_t used = 0;
        for (FileFinder ff(join_path(root, "*"), kFindAny); !ff.at_end(); ff.next())
            used += (static_cast<std::uint64_t>(ff.get_size()) + 511) / 512 * 512;
        v.capacity = v.total = drive->capacity;
        v.free = used >= v.total ? 0 : v.total - used;
    } else if (auto vol = platform::volume_of(root)) {
        v.total = vol->total_bytes;
        v.free = vol->free_bytes;
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
    for (const char* n : {"patient.wav", "ecg.dat", "config.dat", "cnav.dat", "BOOTEX.LOG", "BOOTLOG.TXT"})
        if (platform::iequals(name, n)) return true;
    // What an interrupted replacement left never makes the card unusable; the next one removes it.
    for (const char* n : {"patient.wav", "config.dat", "cnav.dat"})
        if (platform::iequals(name, card_temp_name(n))) return true;
    return false;
}

bool only_allowed_files(const std::string& root) {
    // Every entry is judged by its name, empty files included.
    for (FileFinder ff(join_path(root, "*"), kFindAny); !ff.at_end(); ff.next())
        if (!is_allowed_card_file(ff.get_name())) return false;
    return true;
}

bool has_read_only_or_folders(const std::string& root) {
    for (FileFinder ff(join_path(root, "*"), kFindAny); !ff.at_end(); ff.next())
        if (ff.is_folder() || (ff.get_attributes() & kAttrReadOnly)) return true;
    return false;
}

bool folder_file_exists(const std::string& folder, const std::string& name, std::int64_t size) {
    auto p = platform::find_name_ci(folder, name);
    if (!p) return false;
    struct stat st;
    if (::stat(p->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return size <= 0 || st.st_size == size;
}

std::string format_card_time(const std::uint8_t* t) {
    const int year = t[5] == 99 ? 1999 : 2000 + t[5];
    return format_string("%02d/%02d/%04d %02d:%02d:%02d", t[3], t[4], year, t[2], t[1], t[0]);
}

}  // namespace tv::vond
