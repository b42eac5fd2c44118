// The command line, the command packets and the deck's handles.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "kelmoth/kelmoth.h"
#include "common/text.h"
#include "platform/fs.h"

namespace tv::kelmoth {

void say(Kelmoth& k, const char* format, ...) {
    std::lock_guard<std::mutex> lock(k.out_mutex);
    va_list args;
    va_start(args, format);
    std::vfprintf(k.out, format, args);
    va_end(args);
    std::fflush(k.out);
}

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---- command line ----

namespace {

// Decimal as the C library reads it: leading blanks, a sign, digits; anything else ends it.
int decimal(const std::string& text) { return static_cast<int>(parse_integer(text).value); }

}  // namespace

CommandLine parse_command_line(Kelmoth& k, const std::vector<std::string>& args) {
    bool accepted = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (platform::iequals(a, "/debug")) {
            accepted = true;
            k.start_request = 0;
            k.interactive = 1;
        } else if (platform::iequals(a, "/type")) {
            if (!has_value) break;  // the verdict so far stands
            const int type = decimal(args[++i]);
            bool ok = false;
            if (type == 1 || type == 2 || type == 3 || type == 5 || type == 6 || type == 9)
                ok = true;
            else if ((type >= 11 && type <= 13) || type > 14)
                ok = accepted;
            if (!ok) return CommandLine::invalid;
            k.tape_type = type;
            k.start_request = 1;
            accepted = true;
        } else if (platform::iequals(a, "/pace")) {
            if (!has_value) return CommandLine::invalid;
            k.pacing_disable = decimal(args[++i]) == 0 ? 1 : 0;
        } else if (platform::iequals(a, "/disablespeedcontrol")) {
            k.speed_control_disable = 1;
        } else if (platform::iequals(a, "/skip24")) {
            k.skip_start = kSkip24Start;
        } else if (platform::iequals(a, "/flutter")) {
            if (!has_value) return CommandLine::invalid;
            k.flutter = decimal(args[++i]);
        } else if (platform::iequals(a, "/gain")) {
            if (!has_value) return CommandLine::invalid;
            k.gain = decimal(args[++i]);
        }
    }
    return accepted ? CommandLine::accepted : CommandLine::invalid;
}

void print_usage(Kelmoth& k) {
    static const char* const lines[] = {
        "\n Usage: ",
        "\n\tKELMOTH /o1 /o2.....",
        "\n\t  where /o1 /o2 are options. Valid options are:",
        "\n\t    /debug         interactive operation",
        "\n\t    /type x        load tape type x",
        "\n\t    /pace 0|1      pacing disable | enable ",
        "\n\t    /disablespeedcontrol    ",
        "\n\t    /skip24        skip first 24hours of recording",
        "\n\t    /flutter 0|1   flutter compensation off | on (default is on)",
        "\n\t    /gain 0 | 1    gain normal | x0.5",
        "\n\t  Tape types are per Quorril definitions viz:",
        "\n\t    Wendle2 is 1, Wendle3 is 2, Dunmarra2 is 5, Dunmarra3 is 6",
        "\n\t    Industry standard 1mm/s (3 channel) is 9",
        "\n\t    Wendle D60 is 3",
        "\n",
    };
    for (const char* line : lines) say(k, "%s", line);
}

// ---- packets ----

namespace {

constexpr std::uint32_t f32(float v) { return std::bit_cast<std::uint32_t>(v); }

constexpr int kRowWords = 22;
constexpr std::uint32_t kTapeTable[][kRowWords] = {
    {1, 1, 2, 8, 16, 1, f32(1.47f), 0, 1, 16, 1, 0, 500, 1, 1, 0, 1, 0, 0, 1, 1, 1},
    {2, 1, 2, 4, 16, 1, f32(1.47f), 0, 1, 16, 1, 0, 500, 1, 1, 0, 1, 0, 0, 1, 1, 0},
    {5, 1, 2, 16, 0, 1, f32(1.0f), 0, 1, 32, 2, 2, 500, 1, 1, 0, 1, 0, 0, 1, 1, 0},
    {6, 1, 2, 16, 4, 1, f32(1.0f), 0, 1, 32, 2, 2, 500, 1, 1, 0, 1, 0, 0, 1, 1, 0},
    {3, 1, 2, 16, 8, 1, f32(1.0f), 0, 1, 32, 2, 2, 500, 1, 1, 0, 1, 0, 0, 1, 1, 0},
    {9, 1, 2, 16, 4, 0, f32(1.0f), 0, 1, 32, 2, 2, 500, 1, 1, 0, 1, 0, 0, 1, 1, 1},
    {18, 1, 2, 16, 4, 1, f32(1.0f), 0, 0, 32, 2, 2, 500, 1, 1, 0, 1, 0, 0, 1, 1, 1},
};
constexpr std::uint32_t kEndRowType = 18;

}  // namespace

std::size_t padded_length(long bytes) {
    if (bytes < 7) return 7;
    std::size_t n = static_cast<std::size_t>(bytes);
    return n + (7 + 16 - n % 16) % 16;
}

int find_tape_type(int type) {
    for (int row = 0;; ++row) {
        if (kTapeTable[row][0] == kEndRowType) return -1;
        if (kTapeTable[row][0] == static_cast<std::uint32_t>(type)) return row;
    }
}

std::uint32_t flag_word(int row, int speed, int gain) {
    const std::uint32_t* w = kTapeTable[row];
    std::uint32_t flags = 0;
    if (w[8] != 0) flags |= 0x2000;
    if ((w[3] & 0x10) || (w[4] & 7)) flags |= 0x200;
    if (w[5] == 0 || gain == 1) {
        flags |= 0x40;
        if (w[4] & 7) flags |= 0x4000;
        if (w[5] & 7) flags |= 0x8000;
    }
    flags &= ~0x180u;
    if (speed == 125)
        flags |= 0x180;
    else if (speed == 250)
        flags |= 0x100;
    else if (speed == 500)
        flags |= 0x80;
    return flags;
}

int build_start_command(Kelmoth& k, std::uint32_t (&packet)[26]) {
    const int row = find_tape_type(k.tape_type);
    if (row < 0) return -1;
    const std::uint32_t* w = kTapeTable[row];
    for (int i = 0; i < kRowWords; ++i) packet[4 + i] = w[i];
    if (k.tape) {
        for (int c = 0; c < 3; ++c) k.tape->channel_words[c] = static_cast<std::int32_t>(w[19 + c]);
        k.tape->scale = kScale;
    }
    const int speed = k.run_speed != 0 ? k.run_speed.load() : 500;
    packet[3] = 1;
    packet[16] = static_cast<std::uint32_t>(speed);
    packet[19] = static_cast<std::uint32_t>(k.speed_control_disable.load());
    if (k.flutter != -1) packet[20] = static_cast<std::uint32_t>(k.flutter.load());
    packet[21] = std::getenv("FLUTTER") ? 1 : 0;
    packet[22] = static_cast<std::uint32_t>(k.pacing_disable.load());
    packet[23] = 58336;
    packet[24] = flag_word(row, speed, k.gain);
    packet[25] = static_cast<std::uint32_t>(k.production_test.load());
    return 26;
}

namespace {

std::shared_ptr<platform::DeckHandle> handle(Kelmoth& k, std::shared_ptr<platform::DeckHandle> Kelmoth::*which) {
    std::lock_guard<std::mutex> lock(k.handles_mutex);
    return k.*which;
}

bool write_packet(Kelmoth& k, const std::uint32_t* words, std::size_t byte_length, std::size_t written) {
    std::vector<std::uint8_t> bytes(written, 0);
    std::memcpy(bytes.data(), words, std::min(byte_length, written));
    auto h = handle(k, &Kelmoth::command);
    int error = EBADF;
    if (!h || !h->write(bytes.data(), bytes.size(), error)) {
        say(k, "SendRPtoUSB : WriteFile failed, error number:  %d\n", error);
        note_deck_error(k, error);
        k.running = 0;
        return false;
    }
    return true;
}

}  // namespace

bool SendRPtoUSB(Kelmoth& k, const std::uint32_t* words, std::size_t byte_length) {
    return write_packet(k, words, byte_length, padded_length(static_cast<long>(byte_length)));
}

bool send_stop_command(Kelmoth& k) {
    const std::uint32_t stop[3] = {17, 80, 81};
    return write_packet(k, stop, sizeof stop, 39);
}

// ---- handles ----

void note_deck_error(Kelmoth& k, int error) {
    if (error == ETIMEDOUT || error == EPIPE || error == ECONNRESET || error == ENOTCONN) k.deck_silent = 1;
}

void EnableReadUSB(Kelmoth& k) {
    std::lock_guard<std::mutex> lock(k.handles_mutex);
    int error = 0;
    if (!k.reader) {
        k.reader = k.driver->open(k.device, platform::DeckAccess::read, error);
        if (!k.reader) {
            say(k, "**EnableReadUSB:  couldn't open handle, (%d) for read\n", error);
            return;
        }
    }
    if (!k.control) {
        k.control = k.driver->open(k.device, platform::DeckAccess::control, error);
        if (!k.control) say(k, "**EnableReadUSB:  couldn't open ioctrl handle, (%d)\n", error);
    }
    k.read_enabled = 1;
}

void close_handles(Kelmoth& k) {
    std::lock_guard<std::mutex> lock(k.handles_mutex);
    k.reader.reset();
    k.control.reset();
    k.read_enabled = 0;
}

int clear_deck(Kelmoth& k, int limit_ms) {
    EnableReadUSB(k);
    std::uint8_t out[platform::kDeckControlOut];
    int error = EBADF;
    // Whatever an earlier run left going (its holder may have been killed mid-tape) stops here.
    if (auto h = handle(k, &Kelmoth::control); h && !h->control(platform::kIoctlStopIso, out, error))
        note_deck_error(k, error);
    k.iso_running = 0;
    if (k.ring_header) platform::ring_store(k.ring_header, platform::ring::kEnabled, 0);
    if (!send_stop_command(k)) return 0;
    auto reader = handle(k, &Kelmoth::reader);
    int dropped = 0;
    const std::int64_t until = now_ms() + limit_ms;
    std::uint8_t message[platform::kDeckMessageMax];
    while (reader && now_ms() < until) {
        error = 0;
        const int n = reader->read(message, sizeof message, 1000, error);
        if (n < 0) {
            note_deck_error(k, error);
            break;
        }
        if (n == 0) break;  // nothing more to come
        std::uint32_t words[3] = {};
        std::memcpy(words, message, static_cast<std::size_t>(std::min(n, 12)));
        if (n >= 12 && words[0] == 80 && words[2] == 8) break;  // the deck is idle
        ++dropped;
    }
    return dropped;
}

int start_iso(Kelmoth& k) {
    if (k.iso_running) return 0;
    auto h = handle(k, &Kelmoth::control);
    std::uint8_t out[platform::kDeckControlOut];
    int error = EBADF;
    if (!h || !h->control(platform::kIoctlStartIso, out, error)) {
        say(k, "IOCTL_TVREPLAY_START_ISO failed:  %d\n", error);
        note_deck_error(k, error);
        return -1;
    }
    k.iso_running = 1;
    return 0;
}

int stop_iso(Kelmoth& k) {
    if (!k.iso_running) return 0;
    auto h = handle(k, &Kelmoth::control);
    std::uint8_t out[platform::kDeckControlOut];
    int error = EBADF;
    if (!h || !h->control(platform::kIoctlStopIso, out, error)) {
        say(k, "IOCTL_TVREPLAY_STOP_ISO failed:  %d\n", error);
        note_deck_error(k, error);
        return -1;
    }
    k.iso_running = 0;
    k.run_pending = 0;
    const std::uint8_t* r = k.ring_header;
    say(k,
        "ISO Stopped\n  Data overrun status: %d\n URB Header errors: %u,\n  Irp errors: %lu\n Times Irp/Urb pair "
        "circulated: %u \n",
        static_cast<int>(platform::ring_load(r, platform::ring::kOverrun)),
        platform::ring_load(r, platform::ring::kUrbHeaderErrors),
        static_cast<unsigned long>(platform::ring_load(r, platform::ring::kIrpErrors)),
        platform::ring_load(r, platform::ring::kCirculated));
    say(k, " Bytes transferred: %u\n Packet errors: %u\n", k.bytes_transferred.load(), k.packet_errors.load());
    return 0;
}

}  // namespace tv::kelmoth
