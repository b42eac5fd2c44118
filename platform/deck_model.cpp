#include "platform/deck_model.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "platform/byte_order.h"

namespace tv::platform {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'D', 'E', 'C', 'K', 'T', 'R'};
constexpr std::uint32_t kMaxPayload = 1u << 20;

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool read32(std::FILE* f, std::uint32_t& v) {
    std::uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) return false;
    v = load_le32(b);
    return true;
}

// The shape the model fills, whatever the header claims.
std::uint32_t clamp_u32(std::uint32_t v, std::uint32_t lo, std::uint32_t hi) { return std::min(std::max(v, lo), hi); }

}  // namespace

// ---- trace files ----

bool TraceWriter::open(const std::string& path, const DeckGeometry& g, std::uint32_t idle_ms) {
    file_ = open_file(path, "wbe");
    if (!file_) return false;
    std::vector<std::uint8_t> head(kMagic, kMagic + 8);
    for (std::uint32_t v : {1u, g.packets_per_entry, g.stride, g.bytes_per_entry, g.entries, idle_ms})
        append_le32(head, v);
    ok_ = std::fwrite(head.data(), 1, head.size(), file_.get()) == head.size();
    return ok_;
}

bool TraceWriter::add(const TraceRecord& r) {
    if (!file_) return false;
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(r.kind));
    std::vector<std::uint8_t> payload;
    switch (r.kind) {
        case TraceKind::packet:
            append_le32(payload, static_cast<std::uint32_t>(r.desc_status));
            append_le32(payload, static_cast<std::uint32_t>(r.desc_length));
            payload.insert(payload.end(), r.bytes.begin(), r.bytes.end());
            payload.resize(8 + ring::kPacketBytes, 0);
            break;
        case TraceKind::message: payload = r.bytes; break;
        default: append_le32(payload, r.value);
    }
    append_le32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    ok_ = ok_ && std::fwrite(out.data(), 1, out.size(), file_.get()) == out.size();
    return ok_;
}

bool TraceWriter::close() {
    if (!file_) return false;
    bool ok = ok_ && std::fflush(file_.get()) == 0;
    return close_file(file_) && ok;
}

bool VectorTraceSource::next(TraceRecord& record) {
    if (at_ >= records_.size()) return false;
    record = records_[at_++];
    return true;
}

bool FileTraceSource::open(const std::string& path, DeckGeometry& g, std::uint32_t& idle_ms, std::string& error) {
    file_ = open_file(path, "rbe");
    if (!file_) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    char magic[8];
    std::uint32_t version = 0;
    std::FILE* f = file_.get();
    if (std::fread(magic, 1, 8, f) != 8 || std::memcmp(magic, kMagic, 8) != 0 || !read32(f, version) || version != 1 ||
        !read32(f, g.packets_per_entry) || !read32(f, g.stride) || !read32(f, g.bytes_per_entry) ||
        !read32(f, g.entries) || !read32(f, idle_ms)) {
        error = path + " is not a deck trace";
        return false;
    }
    data_start_ = std::ftell(f);
    return true;
}

bool FileTraceSource::next(TraceRecord& r) {
    if (!file_) return false;
    std::FILE* f = file_.get();
    int kind = std::fgetc(f);
    std::uint32_t length = 0;
    if (kind == EOF || !read32(f, length) || length > kMaxPayload) return false;
    std::vector<std::uint8_t> payload(length);
    if (length && std::fread(payload.data(), 1, length, f) != length) return false;
    r = TraceRecord{};
    r.kind = static_cast<TraceKind>(kind);
    switch (r.kind) {
        case TraceKind::packet:
            if (length < 8) return false;
            r.desc_status = static_cast<std::int32_t>(load_le32(payload.data()));
            r.desc_length = static_cast<std::int32_t>(load_le32(payload.data() + 4));
            r.bytes.assign(payload.begin() + 8, payload.end());
            r.bytes.resize(ring::kPacketBytes, 0);
            break;
        case TraceKind::message:
            if (length > kDeckMessageMax) return false;
            r.bytes = std::move(payload);
            break;
        default:
            if (length < 4) return false;
            r.value = load_le32(payload.data());
    }
    return true;
}

void FileTraceSource::rewind() {
    if (file_) std::fseek(file_.get(), data_start_, SEEK_SET);
}

// ---- the model ----

std::size_t DeckModel::region_bytes(const DeckGeometry& g) {
    const std::size_t ppe = clamp_u32(g.packets_per_entry, 1, 64);
    const std::size_t stride = clamp_u32(g.stride, ring::kMinStride, 4096);
    const std::size_t entries = clamp_u32(g.entries, 2, 4096);
    return ring::kHeaderRoom + entries * (8 * ppe + ppe * stride);
}

DeckModel::DeckModel(std::unique_ptr<TraceSource> trace, const DeckGeometry& g, DeckRegion region,
                     DeckModelOptions options)
    : trace_(std::move(trace)), geometry_(g), region_(region), options_(options) {
    ppe_ = clamp_u32(g.packets_per_entry, 1, 64);
    stride_ = clamp_u32(g.stride, ring::kMinStride, 4096);
    entry_bytes_ = 8 * ppe_ + ppe_ * stride_;
    // A ring of one entry is always full: nothing could ever be published.
    entries_ = clamp_u32(g.entries, 2, 4096);
    std::uint8_t* h = region_.base;
    std::memset(h, 0, ring::kHeaderRoom);
    ring_store(h, ring::kPacketsPerEntry, g.packets_per_entry);
    ring_store(h, ring::kStride, g.stride);
    ring_store(h, ring::kBytesPerEntry, g.bytes_per_entry ? g.bytes_per_entry : entry_bytes_);
    ring_store(h, ring::kEntries, g.entries);
    next_idle_ms_ = now_ms() + options_.idle_ms;
}

DeckModel::~DeckModel() { shutdown(); }

void DeckModel::shutdown() {
    closing_ = true;
    stop_player();
    cv_.notify_all();
}

void DeckModel::stop_player() {
    stop_play_ = true;
    cv_.notify_all();
    if (player_.joinable() && player_.get_id() != std::this_thread::get_id()) player_.join();
    playing_ = false;
}

void DeckModel::queue_message(std::vector<std::uint8_t> message) {
    // A read of no bytes means the time ran out: an empty message is no message.
    if (message.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(std::move(message));
    }
    cv_.notify_all();
}

void DeckModel::queue_words(std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> m;
    for (std::uint32_t w : words) append_le32(m, w);
    queue_message(std::move(m));
}

std::vector<std::vector<std::uint8_t>> DeckModel::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool DeckModel::write(const std::uint8_t* data, std::size_t size, int& error) {
    if (closing_) {
        error = EPIPE;
        return false;
    }
    std::vector<std::uint8_t> packet(data, data + size);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(packet);
    }
    if (log_) log_(packet);
    if (size < 12) return true;
    const std::uint32_t command = load_le32(data + 8);
    if (command == 73) {
        queue_words({80, 17, 1, 0});
        queue_words({80, 17, 12, 0x10, 2, 3, 4});
    } else if (command == 502) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            start_pending_ = true;
        }
        queue_words({109, 16, 98});
        queue_words({80, 17, 1, 50});
        queue_words({80, 17, 9});
    } else if (command == 81) {
        stop_play_ = true;
        queue_words({80, 17, 1, 42});
        queue_words({80, 17, 4});
    }
    cv_.notify_all();
    return true;
}

int DeckModel::read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) {
    const std::int64_t deadline = now_ms() + std::max(timeout_ms, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!messages_.empty()) {
            std::vector<std::uint8_t> m = std::move(messages_.front());
            messages_.pop_front();
            lock.unlock();
            cv_.notify_all();
            const std::size_t n = std::min(m.size(), capacity);
            if (n != 0) std::memcpy(buffer, m.data(), n);
            return static_cast<int>(n);
        }
        const std::int64_t now = now_ms();
        if (!playing_ && now >= next_idle_ms_) {
            next_idle_ms_ = now + options_.idle_ms;
            lock.unlock();
            std::uint8_t idle[12] = {80, 0, 0, 0, 17, 0, 0, 0, 8, 0, 0, 0};
            const std::size_t n = std::min(sizeof idle, capacity);
            std::memcpy(buffer, idle, n);
            return static_cast<int>(n);
        }
        if (now >= deadline || closing_) return 0;
        std::int64_t until = deadline;
        if (!playing_) until = std::min(until, next_idle_ms_);
        cv_.wait_for(lock,
                     std::chrono::milliseconds(std::max<std::int64_t>(1, std::min<std::int64_t>(until - now, 50))));
    }
}

bool DeckModel::control(std::uint32_t code, std::uint8_t (&out)[kDeckControlOut], int& error) {
    std::memset(out, 0, sizeof out);
    switch (code) {
        case kIoctlMapBuffer: {
            if (options_.fail_map) {
                error = EIO;
                return false;
            }
            store_le32(out + 4, static_cast<std::uint32_t>(ring::kHeaderRoom));
            store_le32(out + 8, static_cast<std::uint32_t>(region_bytes(geometry_)));
            return true;
        }
        case kIoctlUnmapBuffer: return true;
        case kIoctlStartIso: {
            bool start = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                start = start_pending_;
                start_pending_ = false;
            }
            if (start) {
                stop_player();
                stop_play_ = false;
                playing_ = true;
                trace_done_ = false;
                trace_->rewind();
                player_ = std::thread([this] { play(); });
            }
            return true;
        }
        case kIoctlStopIso:
            stop_play_ = true;
            cv_.notify_all();
            return true;
        default: error = EINVAL; return false;
    }
}

bool DeckModel::wait_until(const std::function<bool()>& done, int limit_ms) {
    const std::int64_t end = now_ms() + limit_ms;
    while (!done()) {
        if (stop_play_ || closing_ || now_ms() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

bool DeckModel::publish(std::vector<TraceRecord>& pending) {
    std::uint8_t* h = region_.base;
    const std::uint32_t w = ring_load(h, ring::kWriteIndex) % entries_;
    auto full = [&] { return (w + 1) % entries_ == ring_load(h, ring::kReadIndex) % entries_; };
    if (options_.real_rate) {
        if (full()) {
            ring_store(h, ring::kOverrun, 1);
            pending.clear();
            return true;
        }
    } else if (!wait_until([&] { return !full(); }, 60000)) {
        return false;
    }
    std::uint8_t* entry = region_.base + ring::kHeaderRoom + std::size_t(w) * entry_bytes_;
    std::memset(entry, 0, entry_bytes_);
    for (std::size_t k = 0; k < pending.size() && k < ppe_; ++k) {
        std::memcpy(entry + 8 * k, &pending[k].desc_status, 4);
        std::memcpy(entry + 8 * k + 4, &pending[k].desc_length, 4);
        const std::size_t n = std::min<std::size_t>(pending[k].bytes.size(), ring::kPacketBytes);
        if (n != 0) std::memcpy(entry + 8 * ppe_ + k * stride_, pending[k].bytes.data(), n);
    }
    pending.clear();
    ring_store(h, ring::kCirculated, ring_load(h, ring::kCirculated) + 1);
    ring_store(h, ring::kWriteIndex, (w + 1) % entries_);
    return true;
}

void DeckModel::play() {
    std::vector<TraceRecord> pending;
    TraceRecord r;
    const std::int64_t started = now_ms();
    std::int64_t packets = 0;
    // A deck brings its tape up to speed before any data flows, long after the host has armed
    // its ring (indices cleared, then enabled set). The model waits for that arming rather than
    // for a time, so that no entry lands in a ring the host is still about to clear.
    bool armed = false;
    while (!stop_play_ && !closing_ && trace_->next(r)) {
        switch (r.kind) {
            case TraceKind::packet:
                pending.push_back(std::move(r));
                ++packets;
                if (pending.size() == ppe_) {
                    if (!armed) armed = wait_until([&] { return ring_load(region_.base, ring::kEnabled) == 1; }, 60000);
                    if (options_.real_rate) {
                        const std::int64_t due = started + packets;
                        while (now_ms() < due && !stop_play_)
                            std::this_thread::sleep_for(std::chrono::microseconds(200));
                    }
                    if (!publish(pending)) stop_play_ = true;
                }
                break;
            case TraceKind::message: queue_message(std::move(r.bytes)); break;
            case TraceKind::pause:
                wait_until([] { return false; }, static_cast<int>(std::min<std::uint32_t>(r.value, 600000)));
                break;
            case TraceKind::disable: ring_store(region_.base, ring::kEnabled, 0); break;
            case TraceKind::wait_command:
                wait_until(
                    [&] {
                        std::lock_guard<std::mutex> lock(mutex_);
                        for (const auto& p : received_)
                            if (p.size() >= 12 && load_le32(p.data() + 8) == r.value) return true;
                        return false;
                    },
                    600000);
                break;
            case TraceKind::sync:
                wait_until(
                    [&] {
                        std::lock_guard<std::mutex> lock(mutex_);
                        return messages_.empty() &&
                               ring_load(region_.base, ring::kReadIndex) == ring_load(region_.base, ring::kWriteIndex);
                    },
                    30000);
                break;
            case TraceKind::overrun: ring_store(region_.base, ring::kOverrun, r.value); break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next_idle_ms_ = now_ms() + options_.idle_ms;
    }
    trace_done_ = true;
    playing_ = false;
    cv_.notify_all();
}

// ---- in-process deck ----

namespace {

class InProcessHandle : public DeckHandle {
public:
    InProcessHandle(DeckModel& model, std::shared_ptr<std::atomic<bool>> claim)
        : model_(model), claim_(std::move(claim)) {}
    ~InProcessHandle() override {
        if (claim_) *claim_ = false;
    }
    bool write(const void* data, std::size_t size, int& error) override {
        return model_.write(static_cast<const std::uint8_t*>(data), size, error);
    }
    int read(void* buffer, std::size_t capacity, int timeout_ms, int&) override {
        return model_.read(static_cast<std::uint8_t*>(buffer), capacity, timeout_ms);
    }
    bool control(std::uint32_t code, std::uint8_t (&out)[kDeckControlOut], int& error) override {
        const bool ok = model_.control(code, out, error);
        if (ok && code == kIoctlMapBuffer) mapped_ = true;
        return ok;
    }
    DeckRegion region() const override { return mapped_ ? model_.region() : DeckRegion{}; }

private:
    DeckModel& model_;
    std::shared_ptr<std::atomic<bool>> claim_;  // a command handle's hold on the deck
    bool mapped_ = false;
};

}  // namespace

InProcessDeck::InProcessDeck(std::unique_ptr<TraceSource> trace, const DeckGeometry& geometry,
                             DeckModelOptions options) {
    const std::size_t bytes = DeckModel::region_bytes(geometry);
    memory_.assign((bytes + 7) / 8, 0);
    model_ = std::make_unique<DeckModel>(std::move(trace), geometry,
                                         DeckRegion{reinterpret_cast<std::uint8_t*>(memory_.data()), bytes}, options);
}

InProcessDeck::~InProcessDeck() { model_->shutdown(); }

std::unique_ptr<DeckHandle> InProcessDeck::open(const std::string& device, DeckAccess access, int& error) {
    if (!present || deck_unit_name(device).empty()) {
        error = ENOENT;
        return nullptr;
    }
    if (access != DeckAccess::command) return std::make_unique<InProcessHandle>(*model_, nullptr);
    bool expected = false;
    if (!command_taken_->compare_exchange_strong(expected, true)) {
        error = EBUSY;
        return nullptr;
    }
    return std::make_unique<InProcessHandle>(*model_, command_taken_);
}

}  // namespace tv::platform
