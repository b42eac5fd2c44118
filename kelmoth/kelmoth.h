// KELMOTH, the replay-deck reader: plain functions over one program-wide state that four threads
// share (console loop, run_deck, read_usb and the isochronous transfer).
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/memory_mapped_file.h"
#include "common/tape_mappings.h"
#include "kelmoth/exit_codes.h"
#include "platform/deck.h"
#include "platform/shared_memory.h"

namespace tv::kelmoth {

inline constexpr double kVersion = 1.3;
inline constexpr std::int32_t kSkip24Start = 11059200;  // 24 hours at 128 samples per second
inline constexpr std::int32_t kTimeCodeLimit = 50336;   // blocks are appended while fewer are held
inline constexpr std::int32_t kTimeCodeRoom = kTimeCodeLimit + 32;
inline constexpr std::int32_t kScale = 410;
inline constexpr std::int32_t kFullMarginBytes = 163840;
inline constexpr std::int32_t kFullMarginSamples = kFullMarginBytes / 2;
inline constexpr const char* kDeviceName = "\\\\.\\Tvreplay0";
inline constexpr const char* kReadShutdownEvent = "TV USB READ SHUTDOWN";

using Flag = std::atomic<std::int32_t>;

struct Kelmoth {
    // Settings and flags.
    Flag running{0};
    Flag start_request{0};
    Flag interactive{0};
    Flag tape_type{1};
    Flag pacing_disable{0};
    Flag speed_control_disable{0};
    Flag flutter{-1};
    Flag gain{0};
    Flag run_speed{0};
    Flag production_test{0};
    Flag debug_display{0};
    Flag memory_full{0};
    Flag runs_started{0};
    Flag caller_gone{0};  // the mappings' other holder let go of them
    std::int32_t skip_start = 0;

    // The deck.
    platform::DeckDriver* driver = nullptr;
    std::string device = kDeviceName;
    std::mutex handles_mutex;
    std::shared_ptr<platform::DeckHandle> command, reader, control;
    Flag read_enabled{0};
    Flag deck_silent{0};  // a request timed out or the deck went away: the run ends with kExitDeckSilent
    Flag iso_running{0};
    Flag run_pending{0};
    std::uint8_t* ring_header = nullptr;
    std::uint8_t* ring_buffer = nullptr;
    std::size_t ring_buffer_bytes = 0;

    // The mappings.
    MemoryMappedFile maps[6];  // RAWECG1..3, ECGCTRL, Patient Events, TAPEDATA
    std::uint16_t* ecg[3] = {nullptr, nullptr, nullptr};
    EcgControlBlock* ctrl = nullptr;
    PatientEventList* events = nullptr;
    TapeDataBlock* tape = nullptr;

    // The transfer.
    std::size_t write_sample = 0;  // next mapping index, the same for all three channels
    Flag expected_sample{0};
    Flag stream_started{0};  // the run's first packet fixes where its samples begin
    Flag stream_broken{0};   // a packet did not follow the last: nothing more is stored
    std::atomic<std::uint32_t> packet_errors{0};
    std::atomic<std::uint32_t> bytes_transferred{0};
    Flag data_arrived{0};
    Flag transfer_ended{0};
    std::atomic<std::int64_t> last_entry_ms{0};
    std::function<void()> iso_idle;  // tests: runs instead of the transfer's 25 ms wait on an empty ring

    // Time codes, the serial block and patient events (per run).
    std::mutex tc_mutex;
    std::vector<std::int32_t> tc_position = std::vector<std::int32_t>(kTimeCodeRoom);
    std::vector<std::uint32_t> tc_word = std::vector<std::uint32_t>(kTimeCodeRoom);
    Flag tc_count{0};
    Flag start_found{0};
    Flag serial_searched{0};
    Flag serial_found{0};
    std::int32_t event_count = 0;
    std::int32_t event_scan = 0;
    std::string wendle_path;  // empty: no report

    // Events and threads.
    std::unique_ptr<platform::NamedEvent> read_shutdown, shutdown_request;
    std::thread run_deck_thread, read_thread, iso_thread;

    // Console output.
    std::FILE* out = stdout;
    std::mutex out_mutex;
};

void say(Kelmoth& k, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::int64_t now_ms();
void sleep_ms(int ms);

// ---- command line ----
enum class CommandLine { accepted, invalid };
CommandLine parse_command_line(Kelmoth& k, const std::vector<std::string>& args);
void print_usage(Kelmoth& k);

// ---- packets ----
// The written length of a packet of `bytes`: the smallest L >= bytes with L mod 16 = 7.
std::size_t padded_length(long bytes);
int find_tape_type(int type);
std::uint32_t flag_word(int row, int speed, int gain);
// Words 0..25 of the start command; 26, or -1 when the tape type has no row.
int build_start_command(Kelmoth& k, std::uint32_t (&packet)[26]);
// Writes `words` padded to the packet length, never with bytes that are not the packet's.
bool SendRPtoUSB(Kelmoth& k, const std::uint32_t* words, std::size_t byte_length);
bool send_stop_command(Kelmoth& k);

// ---- deck handles and threads ----
// Notes a failed deck request: one that timed out, or whose deck is gone, makes the run end with kExitDeckSilent.
void note_deck_error(Kelmoth& k, int error);
void EnableReadUSB(Kelmoth& k);
void close_handles(Kelmoth& k);
// Before a run: stops the deck and its transfer, disarms the ring and reads away every message
// the deck still holds (an earlier run's end among them), until the deck says it is idle, falls
// quiet, or `limit_ms` has passed. Returns the number of messages dropped.
int clear_deck(Kelmoth& k, int limit_ms = 10000);
int start_iso(Kelmoth& k);
int stop_iso(Kelmoth& k);
struct ReaderState {
    int idle_count = 0;
    std::int64_t next_poll_ms = 0;
};
void handle_message(Kelmoth& k, const std::uint8_t* message, int n, ReaderState& state);
void read_usb(Kelmoth& k);
void run_deck(Kelmoth& k);

// ---- mappings and the isochronous transfer ----
bool create_mappings(Kelmoth& k);
bool map_views(Kelmoth& k);
void release_mappings(Kelmoth& k);
void init_tape_data(Kelmoth& k);
void reset_transfer_pointers(Kelmoth& k);
struct RingShape {
    std::uint32_t packets_per_entry = 0, stride = 0, bytes_per_entry = 0, entries = 0;
};
// Reads and checks the ring's shape and indices; false (with the reason) when they cannot be used.
bool check_ring(const std::uint8_t* header, std::size_t buffer_bytes, RingShape& shape, std::string& why);
void process_entry(Kelmoth& k, const std::uint8_t* entry, const RingShape& shape);
// The run's transfer state and tape header made fresh; before the transfer thread starts, so that a
// status the deck sends before that thread gets to run is kept.
void prepare_transfer(Kelmoth& k);
// Arms the ring, then stores what the deck writes until the transfer ends.
void iso_transfer(Kelmoth& k);
void end_transfer(Kelmoth& k);

// ---- time codes, serial block, patient events ----
struct TimeCode {
    std::int32_t time = 0;  // BCD hhmm
    int time_valid = 0;
    std::int32_t other = 0;
    int other_valid = 0;
};
void digit_lookup(std::uint32_t pattern, std::int32_t& result, int& valid, bool first_digit);
TimeCode decode_time_code(std::uint32_t word);
void append_time_code_block(Kelmoth& k, const std::uint8_t* message, int n);
void start_time_search(Kelmoth& k);

struct SerialBlock {
    std::uint8_t bytes[32] = {};
    int hours = 0, minutes = 0, day = 0, month = 0, year = 0;  // BCD bytes as stored
    std::uint32_t serial = 0;
    int hours_run = 0;
    bool checksum_ok = false;
};
SerialBlock parse_serial_block(const std::uint8_t (&bytes)[32]);
// The block's date in the user's short form with a four-digit year ("12/25/1999" in the C locale), empty when its date is
// no real date.
std::string serial_block_date(const SerialBlock& block);
// The index of the first word of the block's 32-bit lead-in (k), or -1.
long find_serial_block(const std::int32_t* positions, const std::uint32_t* words, long count, std::int32_t skip,
                       SerialBlock& block);
// Writes the Wendle report file `path` anew (a temporary name renamed over it); false on failure.
bool write_wendle_report(const std::string& path, std::string_view text);
bool serial_block_search(Kelmoth& k);
// One scan: writes at most one event and returns its position, or 0. With `stored_only`, events
// past the stored samples are passed over.
std::int32_t patient_event_scan(Kelmoth& k, bool stored_only = false);
void drain_patient_events(Kelmoth& k);

// ---- the program ----
// SIGTERM and SIGINT ask for the same orderly shutdown as "KELMOTH SHUTDOWN REQ".
void install_stop_signals();
int kelmoth_main(Kelmoth& k, const std::vector<std::string>& args);

}  // namespace tv::kelmoth
