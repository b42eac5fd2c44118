// A simulated replay deck: the driver's ring and the firmware's message stream, playing a tape
// trace. The same model serves the in-process deck of the tests and the simulator program
// (tools/deck-sim).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/deck.h"
#include "platform/handles.h"

namespace tv::platform {

// The ring's shape as the driver reports it. A trace may give hostile values on purpose: the
// header then carries them as given, while the model fills the ring with a sane shape.
struct DeckGeometry {
    std::uint32_t packets_per_entry = 8;
    std::uint32_t stride = 1024;
    std::uint32_t bytes_per_entry = 0;  // 0: 8 * ppe + ppe * stride
    std::uint32_t entries = 256;
};

enum class TraceKind : std::uint8_t {
    packet = 1,        // descriptor status and length, and the packet's 912 bytes
    message = 2,       // a deck message, at most 1021 bytes
    pause = 3,         // value = milliseconds
    disable = 4,       // the driver clears the ring's enabled word
    wait_command = 5,  // value = a command number: wait until the program sent it
    sync = 6,          // wait until the program has drained the ring and taken every message
    overrun = 7,       // the driver sets the ring's overrun status to value
};

struct TraceRecord {
    TraceKind kind = TraceKind::pause;
    std::uint32_t value = 0;
    std::int32_t desc_status = 0;
    std::int32_t desc_length = 0;
    std::vector<std::uint8_t> bytes;
};

// Trace file: "TVDECKTR", u32 version 1, u32 ppe, stride, bytes/entry, entries, idle ms, then
// records of {u8 kind, u32 payload length, payload}; all little-endian.
class TraceWriter {
public:
    bool open(const std::string& path, const DeckGeometry& geometry, std::uint32_t idle_ms);
    bool add(const TraceRecord& record);
    bool close();

private:
    UniqueFile file_;
    bool ok_ = true;
};

class TraceSource {
public:
    virtual ~TraceSource() = default;
    virtual bool next(TraceRecord& record) = 0;  // false at the end (or on a damaged record)
    virtual void rewind() = 0;
};

class VectorTraceSource : public TraceSource {
public:
    explicit VectorTraceSource(std::vector<TraceRecord> records) : records_(std::move(records)) {}
    bool next(TraceRecord& record) override;
    void rewind() override { at_ = 0; }

private:
    std::vector<TraceRecord> records_;
    std::size_t at_ = 0;
};

class FileTraceSource : public TraceSource {
public:
    // Reads the header; false on a file that is not a trace (error says why).
    bool open(const std::string& path, DeckGeometry& geometry, std::uint32_t& idle_ms, std::string& error);
    bool next(TraceRecord& record) override;
    void rewind() override;

private:
    UniqueFile file_;
    long data_start_ = 0;
};

struct DeckModelOptions {
    bool real_rate = false;  // one packet per 1 ms frame, as the deck delivers; else as fast as the ring drains
    bool fail_map = false;   // the map-buffer control code fails
    std::uint32_t idle_ms = 100;
};

class DeckModel {
public:
    // `region` must hold region_bytes(geometry) bytes and outlive the model.
    DeckModel(std::unique_ptr<TraceSource> trace, const DeckGeometry& geometry, DeckRegion region,
              DeckModelOptions options);
    ~DeckModel();
    DeckModel(const DeckModel&) = delete;
    DeckModel& operator=(const DeckModel&) = delete;

    static std::size_t region_bytes(const DeckGeometry& geometry);

    bool write(const std::uint8_t* data, std::size_t size, int& error);
    int read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms);
    bool control(std::uint32_t code, std::uint8_t (&out)[kDeckControlOut], int& error);
    DeckRegion region() const { return region_; }

    // Every packet the program wrote, in order.
    std::vector<std::vector<std::uint8_t>> received() const;
    // Called (under no lock of the model's) for each packet written.
    void set_write_log(std::function<void(const std::vector<std::uint8_t>&)> log) { log_ = std::move(log); }
    // True once the trace has been played to its end.
    bool trace_done() const { return trace_done_.load(); }
    void shutdown();

private:
    void queue_message(std::vector<std::uint8_t> message);
    void queue_words(std::initializer_list<std::uint32_t> words);
    void stop_player();
    void play();
    bool publish(std::vector<TraceRecord>& pending);
    bool wait_until(const std::function<bool()>& done, int limit_ms);

    std::unique_ptr<TraceSource> trace_;
    DeckGeometry geometry_;                               // as the header reports it
    std::uint32_t ppe_, stride_, entry_bytes_, entries_;  // the shape actually filled
    DeckRegion region_;
    DeckModelOptions options_;
    std::function<void(const std::vector<std::uint8_t>&)> log_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::vector<std::uint8_t>> messages_;
    std::vector<std::vector<std::uint8_t>> received_;
    bool start_pending_ = false;
    std::int64_t next_idle_ms_ = 0;
    std::atomic<bool> playing_{false};
    std::atomic<bool> stop_play_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> trace_done_{false};
    std::thread player_;
};

// A deck inside the process: a driver whose handles talk straight to one model.
class InProcessDeck : public DeckDriver {
public:
    InProcessDeck(std::unique_ptr<TraceSource> trace, const DeckGeometry& geometry, DeckModelOptions options);
    ~InProcessDeck() override;
    std::unique_ptr<DeckHandle> open(const std::string& device, DeckAccess access, int& error) override;
    DeckModel& model() { return *model_; }
    bool present = true;  // false: the device cannot be opened

private:
    std::vector<std::uint64_t> memory_;
    std::unique_ptr<DeckModel> model_;
    std::shared_ptr<std::atomic<bool>> command_taken_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tv::platform
