// Synthetic replay-deck tapes: a deck trace for the simulator, and beside it what the reader must
// make of it (samples, counts, tape-data fields, events, exit code).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/deck_model.h"

namespace tv::tapegen {

struct Options {
    int type = 9;
    std::int64_t packets = 20000;  // good ECG packets
    int count = 150;               // samples per packet
    std::int32_t first_sample = 0;
    std::int32_t skip = 0;           // the reader's skip start (11,059,200 with /skip24)
    std::int64_t status_after = -1;  // after this many packets the deck reports `status` and goes silent
    std::int32_t status = 0;
    std::int32_t end_status = 0;  // reported just before the end (115: cassette out)
    std::int64_t jump_at = -1;    // from this packet on the sample numbers skip one packet: a gap
    bool bad_packets = false;     // four unusable packets among the first entries
    bool no_tape = false;         // no data at all: cassette out, then the end
    bool time_codes = true;
    bool extra_messages = true;  // an unknown tag (acknowledged) and a corrupt message (not)
    std::uint32_t idle_ms = 250;
    platform::DeckGeometry geometry;
};

struct Expected {
    int exit_code = 0;
    std::int32_t deck_state = 4;
    std::int32_t samples_written = 0;  // per channel, as counted
    std::int64_t samples_stored = 0;   // per channel, as stored (one packet more when full)
    std::uint64_t channel_hash[3] = {};
    std::int32_t start_time_code = -1;
    std::int32_t start_offset = -1;
    std::string serial_text;
    std::string recording_date;
    std::string wendle_line;
    std::int32_t speed_error = 0;
    std::int32_t status = 0;
    std::int32_t scale = 410;
    std::int32_t channel_words[3] = {1, 1, 1};
    std::vector<std::int32_t> events;
    int packet_errors = 0;
    int acks = 0;
};

std::uint16_t sample_value(std::int64_t sample, int channel);  // channel 1..3; never 0
// A time-code word showing hh:mm (or, with `shown` false, the same digits as another value).
std::uint32_t time_word(int hours, int minutes, bool shown, int event_nibble = 0xF, int serial_bit = 0);
std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size, std::uint64_t hash = 14695981039346656037ull);

bool generate(const Options& options, const std::string& trace_path, Expected& expected, std::string& error);
bool write_expected(const std::string& path, const Expected& expected);
// key=value lines as write_expected makes them.
bool read_expected(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace tv::tapegen
