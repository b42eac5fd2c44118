// The six mappings and the isochronous transfer that fills the three ECG channels.
#include <cstring>

#include "kelmoth/kelmoth.h"

namespace tv::kelmoth {
namespace {

namespace ring = platform::ring;

const char* const kMapNames[6] = {kRawEcgNames[0], kRawEcgNames[1],    kRawEcgNames[2],
                                  kEcgCtrlName,    kPatientEventsName, kTapeDataName};
const std::uint32_t kMapSizes[6] = {kRawEcgBytes,  kRawEcgBytes,       kRawEcgBytes,
                                    kEcgCtrlBytes, kPatientEventBytes, kTapeDataBytes};
const char* const kViewFailures[6] = {"Map view of file failed on ECG1 map\n",
                                      "Map view of file failed on ECG2 map\n",
                                      "Map view of file failed on ECG3 map\n",
                                      "Map view of file failed on ECG_Ctrl map\n",
                                      "Map view of file failed on patient events map\n",
                                      "Map view of file failed on tape_data block map\n"};

std::int32_t load32(const std::int32_t& v) { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
void store32(std::int32_t& v, std::int32_t x) { __atomic_store_n(&v, x, __ATOMIC_RELEASE); }

}  // namespace

bool create_mappings(Kelmoth& k) {
    // A shared-memory object is made and mapped in one step, so a failure of either is this one.
    for (int i = 0; i < 6; ++i)
        if (!k.maps[i].open(kMapNames[i], kMapSizes[i], true)) {
            for (int j = 0; j <= i; ++j) k.maps[j].close();
            return false;
        }
    return true;
}

bool map_views(Kelmoth& k) {
    for (int i = 0; i < 6; ++i)
        if (!k.maps[i].get_view() || k.maps[i].size() < kMapSizes[i]) {
            say(k, "%s", kViewFailures[i]);
            return false;
        }
    for (int c = 0; c < 3; ++c) k.ecg[c] = static_cast<std::uint16_t*>(k.maps[c].get_view());
    k.ctrl = static_cast<EcgControlBlock*>(k.maps[3].get_view());
    k.events = static_cast<PatientEventList*>(k.maps[4].get_view());
    k.tape = static_cast<TapeDataBlock*>(k.maps[5].get_view());
    return true;
}

void release_mappings(Kelmoth& k) {
    k.ecg[0] = k.ecg[1] = k.ecg[2] = nullptr;
    k.ctrl = nullptr;
    k.events = nullptr;
    k.tape = nullptr;
    for (auto& m : k.maps) m.close();
}

namespace {

// What a tape's header fields and event count read before the tape has told anything.
void reset_tape_header(Kelmoth& k) {
    TapeDataBlock& t = *k.tape;
    t.start_time_code = -1;
    t.start_offset = -1;
    std::memset(t.serial_text, 0, sizeof t.serial_text);
    std::memset(t.recording_date, 0, sizeof t.recording_date);
    t.speed_error = 0;
    t.status = 0;
    t.scale = kScale;
    store32(k.events->positions[0], 0);
}

}  // namespace

void init_tape_data(Kelmoth& k) {
    reset_tape_header(k);
    for (auto& w : k.tape->channel_words) w = 0;
}

void reset_transfer_pointers(Kelmoth& k) {
    const std::int32_t start = load32(k.ctrl[0].start_sample);
    if (start < 0 || start > static_cast<std::int32_t>(kRawEcgSamples) - kFullMarginSamples) {
        // Nothing can be stored from there without leaving the mapping.
        say(k, "Invalid start sample %d in ECGCTRL.MMF: nothing will be stored\n", start);
        k.memory_full = 1;
        k.write_sample = kRawEcgSamples;
    } else {
        k.write_sample = static_cast<std::size_t>(start);
    }
    reset_tape_header(k);
    // Counts from an earlier run or intake would read as data that is not there.
    for (int c = 0; c < 3; ++c) {
        store32(k.ctrl[c].samples_written, 0);
        store32(k.ctrl[c].transfer_done, 0);
    }
    k.transfer_ended = 0;
}

bool check_ring(const std::uint8_t* h, std::size_t buffer_bytes, RingShape& s, std::string& why) {
    s.packets_per_entry = platform::ring_load(h, ring::kPacketsPerEntry);
    s.stride = platform::ring_load(h, ring::kStride);
    s.bytes_per_entry = platform::ring_load(h, ring::kBytesPerEntry);
    s.entries = platform::ring_load(h, ring::kEntries);
    const std::uint32_t w = platform::ring_load(h, ring::kWriteIndex);
    const std::uint32_t r = platform::ring_load(h, ring::kReadIndex);
    const std::uint64_t ppe = s.packets_per_entry, stride = s.stride, bpe = s.bytes_per_entry;
    if (s.entries == 0)
        why = "no entries";
    else if (w >= s.entries || r >= s.entries)
        why = "index outside the ring";
    else if (ppe == 0)
        why = "no packets per entry";
    else if (stride < ring::kMinStride)
        why = "stride too small";
    else if (8 * ppe + (ppe - 1) * stride + ring::kPacketBytes > bpe)
        why = "entry too small for its packets";
    else if (std::uint64_t(s.entries) * bpe > buffer_bytes)
        why = "ring larger than its memory";
    else
        return true;
    return false;
}

void process_entry(Kelmoth& k, const std::uint8_t* entry, const RingShape& s) {
    for (std::uint32_t p = 0; p < s.packets_per_entry; ++p) {
        std::int32_t status, length;
        std::memcpy(&status, entry + 8 * p, 4);
        std::memcpy(&length, entry + 8 * p + 4, 4);
        const std::uint8_t* packet = entry + 8 * std::size_t(s.packets_per_entry) + std::size_t(p) * s.stride;
        const int count = packet[6];
        if ((status != 0 && status != 9) || length < 920 || packet[7] != 0xF0 || packet[309] != 0xF1 ||
            packet[611] != 0xF2 || (count != 50 && count != 100 && count != 150)) {
            ++k.packet_errors;
            continue;
        }
        std::int32_t sample;
        std::memcpy(&sample, packet + 2, 4);
        if (k.stream_broken) continue;
        // A gap or a jump would shift every later sample against the tape's time codes and events:
        // the stream ends at the last packet that followed on, and the run fails.
        if (k.stream_started && sample != k.expected_sample && !k.memory_full) {
            say(k, "ISO sample numbers mismatch. Expected %d, actually %d\n", k.expected_sample.load(), sample);
            k.stream_broken = 1;
            continue;
        }
        k.stream_started = 1;
        k.bytes_transferred += 6u * static_cast<std::uint32_t>(count);
        const std::int64_t end = std::int64_t(sample) + count;
        k.expected_sample = static_cast<std::int32_t>(end);
        if (end <= k.skip_start) continue;  // wholly before the skip point
        if (k.memory_full) continue;
        if (k.write_sample + std::size_t(count) > kRawEcgSamples) {
            k.memory_full = 1;
            continue;
        }
        std::memcpy(k.ecg[0] + k.write_sample, packet + 8, 2 * std::size_t(count));
        std::memcpy(k.ecg[1] + k.write_sample, packet + 310, 2 * std::size_t(count));
        std::memcpy(k.ecg[2] + k.write_sample, packet + 612, 2 * std::size_t(count));
        k.write_sample += std::size_t(count);
        if (2 * k.write_sample + kFullMarginBytes > kRawEcgBytes && !k.memory_full) {
            say(k, "ECG memory is full. Ignoring rest of data from replay\n");
            k.memory_full = 1;
            say(k, "pointer to mmf is %X\n", static_cast<unsigned>(2 * k.write_sample));
        }
        if (!k.memory_full)
            for (int c = 0; c < 3; ++c) store32(k.ctrl[c].samples_written, load32(k.ctrl[c].samples_written) + count);
    }
}

void end_transfer(Kelmoth& k) {
    const bool had_data = k.data_arrived;
    k.data_arrived = 0;
    // Cassette out at the end of a tape is no error; with no data at all it means no tape.
    if (k.tape && k.tape->status == kStatusCassetteOut && had_data) k.tape->status = 0;
    for (int c = 0; c < 3; ++c) store32(k.ctrl[c].transfer_done, 1);
    k.transfer_ended = 1;
}

namespace {

// Processes every entry the driver has written since the last call; true when there was one.
bool take_entries(Kelmoth& k, const RingShape& s) {
    std::uint8_t* h = k.ring_header;
    std::uint32_t r = platform::ring_load(h, ring::kReadIndex);
    std::uint32_t w = platform::ring_load(h, ring::kWriteIndex);
    bool processed = false;
    while (w != r && w < s.entries && r < s.entries) {
        const std::size_t at = (std::size_t(r) * s.bytes_per_entry) & ~std::size_t(3);
        process_entry(k, k.ring_buffer + at, s);
        r = r + 1 == s.entries ? 0 : r + 1;
        platform::ring_store(h, ring::kReadIndex, r);
        processed = true;
        w = platform::ring_load(h, ring::kWriteIndex);
    }
    if (processed) {
        k.data_arrived = 1;
        k.last_entry_ms = now_ms();
    }
    return processed;
}

}  // namespace

void prepare_transfer(Kelmoth& k) {
    k.memory_full = 0;
    k.expected_sample = 0;
    k.stream_started = 0;
    k.stream_broken = 0;
    k.packet_errors = 0;
    k.bytes_transferred = 0;
    k.data_arrived = 0;
    reset_transfer_pointers(k);
}

void iso_transfer(Kelmoth& k) {
    std::uint8_t* h = k.ring_header;
    platform::ring_store(h, ring::kOverrun, 0);
    platform::ring_store(h, ring::kWriteIndex, 0);
    platform::ring_store(h, ring::kReadIndex, 0);
    platform::ring_store(h, ring::kEnabled, 1);
    say(k, "USB Iso Transfer thread starting\n");
    RingShape s;
    std::string why;
    // Entries the driver wrote before the transfer ends are the run's last data: they are stored
    // before the end, whatever ends it.
    auto finish = [&](const char* line) {
        take_entries(k, s);
        stop_iso(k);
        end_transfer(k);
        say(k, "%s", line);
    };
    for (;;) {
        if (!check_ring(h, k.ring_buffer_bytes, s, why)) {
            stop_iso(k);
            end_transfer(k);
            say(k, "USB Iso Transfer thread ending because the driver's ring is unusable (%s)\n", why.c_str());
            return;
        }
        if (platform::ring_load(h, ring::kWriteIndex) == platform::ring_load(h, ring::kReadIndex)) {
            if (k.iso_idle)
                k.iso_idle();
            else
                sleep_ms(25);
        }
        // Indices read after the wait: an entry written during it counts before any timeout.
        if (!check_ring(h, k.ring_buffer_bytes, s, why)) continue;
        take_entries(k, s);
        if (k.stream_broken) {
            finish("USB Iso Transfer thread ending because the tape's samples did not follow on\n");
            return;
        }
        if (platform::ring_load(h, ring::kEnabled) == 0) {
            finish("USB Iso Transfer thread ending because driver has disabled DMA\n");
            return;
        }
        if (!k.running) {
            finish("USB Iso Transfer thread ending because going is FALSE\n");
            return;
        }
        if (k.data_arrived && now_ms() - k.last_entry_ms > 1000 && !take_entries(k, s)) {
            finish("USB Iso Transfer thread is stopping due to timeout on ECG data from replay - end of transfer\n");
            return;
        }
    }
}

}  // namespace tv::kelmoth
