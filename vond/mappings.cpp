#include "vond/mappings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/files.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "vond/card_format.h"
#include "vond/messages.h"
#include "common/text.h"

namespace tv::vond {

namespace {

// Far more than the 4,096 event times the area holds.
constexpr std::uint64_t kMaxEventFileBytes = 16 << 20;

// A whole read into the mappings may take a while; a second writer waits for it.
constexpr int kWriterWaitMs = 60000;

// The machine-wide lock of whoever fills the mappings.
bool lock_mappings(platform::FileLock& lock) {
    const std::string folder = platform::run_dir();
    create_folder_path(folder);
    if (lock.lock_within(folder + "/ecg-mappings.lock", true, kWriterWaitMs)) return true;
    trace("another run fills the ECG mappings\n");
    return false;
}

}  // namespace

std::unique_ptr<platform::SharedMemory> open_card_mapping(const std::string& name, std::size_t size) {
    if (auto probe = platform::SharedMemory::open_existing(name, 1, false)) {
        if (probe->object_size() < size) {
            trace("mapping %s holds %zu bytes, %zu needed\n", name.c_str(), probe->object_size(), size);
            return nullptr;
        }
    }
    auto m = platform::SharedMemory::open(name, size, true);
    // Memory that is not there would end the program at the first sample written into it.
    if (m && !m->reserve()) {
        trace("mapping %s: no room for %zu bytes: %s\n", name.c_str(), size, std::strerror(errno));
        return nullptr;
    }
    return m;
}

bool EcgMappings::open(bool events) {
    release();
    if (!lock_mappings(writer_)) return false;
    ctrl_ = open_card_mapping(kEcgCtrlName, kEcgCtrlBytes);
    for (int i = 0; i < 3; ++i) raw_[i] = open_card_mapping(kRawEcgNames[i], kRawEcgBytes);
    if (events) events_ = open_card_mapping(kPatientEventsName, kCardPatientEventBytes);
    const bool ok = ctrl_ && raw_[0] && raw_[1] && raw_[2] && (!events || events_);
    if (!ok) release();
    return ok;
}

void EcgMappings::release() {
    ctrl_.reset();
    for (auto& r : raw_) r.reset();
    events_.reset();
    writer_.unlock();
}

void EcgMappings::begin_transfer() {
    for (int c = 0; c < 3; ++c) {
        control(c)->samples_written = 0;
        control(c)->transfer_done = 0;
    }
    if (std::int32_t* e = events()) e[0] = 0;
}

void EcgMappings::end_transfer() {
    for (int c = 0; c < 3; ++c) control(c)->transfer_done = 1;
}

bool EcgMappings::held_elsewhere() const {
    for (const auto& r : raw_)
        if (!r || !r->held_elsewhere()) return false;
    return true;
}

EcgControlBlock* EcgMappings::control(int channel) const {
    return static_cast<EcgControlBlock*>(ctrl_->data()) + channel;
}

std::uint16_t* EcgMappings::samples(int channel) const { return static_cast<std::uint16_t*>(raw_[channel]->data()); }

std::int32_t* EcgMappings::events() const { return events_ ? static_cast<std::int32_t*>(events_->data()) : nullptr; }

bool EcgMappings::add_event(std::int32_t seconds) {
    std::int32_t* e = events();
    if (!e) return true;
    const std::int32_t n = e[0];
    if (n < 0 || n >= static_cast<std::int32_t>(kCardPatientEventSlots)) return false;
    e[1 + n] = seconds;
    e[0] = n + 1;
    return true;
}

bool fill_mappings_from_folder(const std::string& folder, int skip_hours, int duration_hours) {
    auto size_of = [&](const char* name) -> std::int64_t {
        auto p = platform::find_name_ci(folder, name);
        return p ? get_file_size_64(*p) : -1;
    };
    const int channels = size_of("RAWECG3.DAT") > 0   ? 3
                         : size_of("RAWECG2.DAT") > 0 ? 2
                         : size_of("RAWECG1.DAT") > 0 ? 1
                                                      : 0;
    if (channels == 0) return false;
    platform::FileLock writer;
    if (!lock_mappings(writer)) return false;
    std::unique_ptr<platform::SharedMemory> raw[3];
    for (int i = 0; i < channels; ++i)
        if (!(raw[i] = open_card_mapping(kRawEcgNames[i], kRawEcgBytes))) return false;
    auto ctrl_mem = open_card_mapping(kEcgCtrlName, kEcgCtrlBytes);
    if (!ctrl_mem) return false;
    auto* ctrl = static_cast<EcgControlBlock*>(ctrl_mem->data());
    // Every record starts afresh, the unused channels' too: a holder may keep the last run's.
    for (int i = 0; i < 3; ++i) {
        ctrl[i].samples_written = 0;
        ctrl[i].transfer_done = 0;
    }
    auto ev_mem = open_card_mapping(kPatientEventsName, kCardPatientEventBytes);
    if (!ev_mem) return false;
    auto* ev = static_cast<std::int32_t*>(ev_mem->data());
    ev[0] = 0;
    const std::int64_t skip_s = static_cast<std::int64_t>(skip_hours) * 3600;
    const std::int64_t dur_s = static_cast<std::int64_t>(duration_hours) * 3600;
    if (auto p = platform::find_name_ci(folder, "PATEVENT.DAT")) {
        if (const platform::UniqueFile f = open_outside_stream(*p, kMaxEventFileBytes)) {
            std::string line;
            int c = 0;
            do {
                line.clear();
                while ((c = std::fgetc(f.get())) != EOF && c != '\n') line.push_back(static_cast<char>(c));
                if (c == EOF && line.empty()) break;
                const std::int64_t t = parse_integer(line, INT64_MIN, INT64_MAX).value - skip_s;
                // Room for 4,096 times: later lines are left out.
                if (t >= 0 && t < dur_s && ev[0] < static_cast<std::int32_t>(kCardPatientEventSlots)) {
                    ev[1 + ev[0]] = static_cast<std::int32_t>(t);
                    ev[0] = ev[0] + 1;
                }
            } while (c != EOF);
        }
    }
    const std::uint64_t skip_bytes = static_cast<std::uint64_t>(skip_hours) * 921600u;
    // The areas hold 32 hours: a longer duration ends there.
    const std::uint64_t limit =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(duration_hours) * 921600u, kRawEcgBytes);
    platform::UniqueFile files[3];
    bool ok = true;
    for (int i = 0; i < channels && ok; ++i) {
        auto p = platform::find_name_ci(folder, "RAWECG" + std::to_string(i + 1) + ".DAT");
        if (p) files[i] = open_outside_stream(*p, UINT64_MAX);  // read as it streams, `limit` at most
        if (!files[i]) ok = false;
    }
    if (ok && static_cast<std::uint64_t>(std::max<std::int64_t>(size_of("RAWECG1.DAT"), 0)) <= skip_bytes) ok = false;
    for (int i = 0; i < channels && ok; ++i)
        if (std::fseek(files[i].get(), static_cast<long>(skip_bytes), SEEK_SET) != 0) ok = false;
    if (ok) {
        // Round by round, one block per channel, each block in place before its count rises. A
        // channel that has run out stops on its own (an empty RAWECG2.DAT among three channels);
        // one that cannot be read fails the flow.
        std::vector<std::uint8_t> buf(1u << 20);
        std::uint64_t pos[3] = {0, 0, 0};
        bool done[3] = {false, false, false};
        for (bool more = true; more && ok;) {
            more = false;
            for (int i = 0; i < channels && ok; ++i) {
                if (done[i]) continue;
                const std::size_t n = std::fread(buf.data(), 1, buf.size(), files[i].get());
                if (n == 0) {
                    if (std::ferror(files[i].get())) {
                        trace("RAWECG%d.DAT could not be read\n", i + 1);
                        ok = false;
                    }
                    done[i] = true;
                    continue;
                }
                const std::uint64_t take = std::min<std::uint64_t>(n, limit - pos[i]) & ~std::uint64_t{1};
                std::memcpy(static_cast<std::uint8_t*>(raw[i]->data()) + pos[i], buf.data(), take);
                pos[i] += take;
                ctrl[i].samples_written = static_cast<std::int32_t>(pos[i] / 2);
                done[i] = pos[i] >= limit;
                more = more || !done[i];
            }
        }
        if (limit == kRawEcgBytes && pos[0] >= limit) trace("mapping capacity of 32 hours reached\n");
    }
    if (!ok) return false;
    for (int i = 0; i < 3; ++i) ctrl[i].transfer_done = 1;
    return true;
}

}  // namespace tv::vond
