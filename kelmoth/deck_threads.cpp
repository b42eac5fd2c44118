// The deck's message stream (read_usb / ReadReplay) and the run driver (run_deck).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <system_error>
#include <unistd.h>

#include "kelmoth/firmware_texts.h"
#include "kelmoth/kelmoth.h"

namespace tv::kelmoth {
namespace {

constexpr int kReadTimeoutMs = 1000;

std::uint32_t word(const std::uint8_t* m, int i) {
    std::uint32_t v;
    std::memcpy(&v, m + 4 * i, 4);
    return v;
}
float word_float(const std::uint8_t* m, int i) {
    float v;
    std::memcpy(&v, m + 4 * i, 4);
    return v;
}

// A message is a whole number of words only when the deck says so; the dump shows every byte.
void dump_words(Kelmoth& k, const std::uint8_t* m, int n, int limit, bool decimal) {
    const int words = std::min((n + 3) / 4, limit);
    for (int i = 0; i < words; ++i) {
        std::uint8_t w[4] = {0, 0, 0, 0};
        std::memcpy(w, m + 4 * i, static_cast<std::size_t>(std::min(4, n - 4 * i)));
        std::uint32_t v;
        std::memcpy(&v, w, 4);
        if (decimal)
            say(k, " %d(hex %X) ", static_cast<int>(v), v);
        else
            say(k, " %8.8lx ", static_cast<unsigned long>(v));
    }
    say(k, "\n");
}

void corrupt(Kelmoth& k, const std::uint8_t* m, int n) {
    say(k, "\nCorrupt message from replay, size %d: \n", n);
    dump_words(k, m, n, 10, false);
}

void acknowledge(Kelmoth& k, const std::uint8_t* m) {
    const std::uint32_t ack[3] = {word(m, 1), word(m, 0), 520};
    SendRPtoUSB(k, ack, sizeof ack);
}

// The fewest bytes a debug code's fields need.
int debug_bytes_needed(std::uint32_t code) {
    switch (code) {
        case 1:
        case 2:
        case 3: return 16;
        case 7: return 24;
        case 11: return 48;
        case 12: return 28;
        default: return 12;
    }
}

void handle_debug(Kelmoth& k, const std::uint8_t* m, int n, ReaderState& st) {
    const std::uint32_t code = word(m, 2);
    if (n < debug_bytes_needed(code)) {
        corrupt(k, m, n);
        return;
    }
    switch (code) {
        case 1: {
            const std::uint32_t text = word(m, 3);
            if (text <= 91) {
                say(k, "%s", kFirmwareTexts[text]);
                if (text == 72) stop_iso(k);
            } else {
                say(k, " replay string number too high: %d\n", static_cast<int>(text));
            }
            break;
        }
        case 2: say(k, "%d", static_cast<int>(word(m, 3))); break;
        case 3: say(k, "0x%X", word(m, 3)); break;
        case 4: k.running = 0; break;
        case 5: say(k, " got flash_erased status message ? \n"); break;
        case 6: say(k, " got flash block programmed status message? \n"); break;
        case 7:
            say(k, " ch1= %4d,  ch2= %4d,  ch3= %4d\n", static_cast<int>(word(m, 3) & 0xFFF),
                static_cast<int>(word(m, 4) & 0xFFF), static_cast<int>(word(m, 5) & 0xFFF));
            break;
        case 8:
            if (k.tape && k.tape->deck_state != kDeckCassetteOut) k.tape->deck_state = kDeckIdle;
            if (k.run_pending) {
                st.idle_count = 0;
            } else if (++st.idle_count > 10) {
                close_handles(k);
                say(k, "Read from USB disabled as deck is idle\n");
            }
            break;
        case 9:
            start_iso(k);
            say(k, " got start iso from Sharc\n");
            st.next_poll_ms = now_ms() + 10000;
            k.run_pending = 0;
            break;
        case 10:
            if (n != 268) {
                say(k, "  Got time code block with incorrect length was %d, should have been 268\n", n);
                break;
            }
            append_time_code_block(k, m, n);
            if (!k.start_found && k.expected_sample > k.skip_start) start_time_search(k);
            break;
        case 11:
            if (k.debug_display) {
                say(k, "V=%6d I=%4d TE=%3d ", static_cast<int>(word(m, 3)), static_cast<int>(word(m, 4)),
                    static_cast<int>(word(m, 5)));
                say(k, "S=%+3.1f%% RecS=%+3.1f%% ADCClk=%4d Pll=%4.2fkHz B=%d S=%d\n", word_float(m, 6) * 100.0,
                    word_float(m, 7) * 100.0, static_cast<int>(word(m, 8)), static_cast<double>(word_float(m, 9)),
                    static_cast<int>(word(m, 10)), static_cast<int>(word(m, 11)));
            }
            break;
        case 12:
            say(k, "USB Replay: Firmware version is %0d.%0x, Board rev is %d, Xilinx is %d\n",
                static_cast<int>(word(m, 4)), word(m, 3), static_cast<int>(word(m, 5)), static_cast<int>(word(m, 6)));
            break;
        default:
            say(k, "\nGot unrecognised debug output command from replay:\n length %d, message:", n);
            dump_words(k, m, n, 1021, true);
            break;
    }
}

void handle_deck(Kelmoth& k, const std::uint8_t* m, int n) {
    const std::uint32_t w0 = word(m, 0), w1 = word(m, 1), tag = word(m, 2);
    const bool valid = (w0 == 109 || w0 == 77 || w0 == 107) && (w1 == 16 || w1 == 18 || w1 == 15);
    if (!valid || (tag == 150 && n < 16)) {
        corrupt(k, m, n);
        return;
    }
    switch (tag) {
        case 150: {
            const std::int32_t status = static_cast<std::int32_t>(word(m, 3));
            if (k.tape) k.tape->status = status;
            if (status == kStatusSpeedError) {
                if (k.tape) k.tape->speed_error = 1;
                say(k, "Replay reports gross speed error\n");
            } else if (status == kStatusCassetteOut) {
                if (k.tape) k.tape->deck_state = kDeckCassetteOut;
                say(k, "Replay reports cassette out\n");
            }
            acknowledge(k, m);
            break;
        }
        case 98:
            if (k.tape) k.tape->deck_state = kDeckLoading;
            break;
        case 503: break;
        default:
            say(k, "Unhandled message from replay - message tag %d\n", static_cast<int>(tag));
            acknowledge(k, m);
            break;
    }
}

}  // namespace

void handle_message(Kelmoth& k, const std::uint8_t* m, int n, ReaderState& st) {
    if (n < 12) {
        corrupt(k, m, n);
        return;
    }
    if (word(m, 0) == 80)
        handle_debug(k, m, n, st);
    else
        handle_deck(k, m, n);
}

void read_usb(Kelmoth& k) {
    ReaderState st;
    st.next_poll_ms = now_ms();
    bool end_handled = false;
    std::uint8_t message[platform::kDeckMessageMax + 3];
    for (;;) {
        if (!k.transfer_ended) end_handled = false;
        // While the handles are closed the steps below still run, so a run can end.
        while (!k.read_enabled && k.running && !(k.transfer_ended && !end_handled)) {
            st.idle_count = 0;
            sleep_ms(20);
        }
        std::shared_ptr<platform::DeckHandle> h;
        {
            std::lock_guard<std::mutex> lock(k.handles_mutex);
            if (k.read_enabled) h = k.reader;
        }
        if (h) {
            std::memset(message, 0, sizeof message);
            int error = 0;
            const int n = h->read(message, platform::kDeckMessageMax, kReadTimeoutMs, error);
            if (n < 0) {
                say(k, "\nReadReplay : ReadFile failed, error number:  %d\n", error);
                note_deck_error(k, error);
                k.running = 0;
                if (k.read_shutdown) k.read_shutdown->set();
                return;
            }
            if (n > 0) handle_message(k, message, n, st);
        } else {
            st.idle_count = 0;
        }
        if (!k.running) {
            say(k, "read_usb thread ending because going is FALSE\n");
            if (k.read_shutdown) k.read_shutdown->set();
            return;
        }
        if (!k.data_arrived && !k.serial_found && k.tc_count > 500 && !k.serial_searched) {
            serial_block_search(k);
            k.serial_searched = 1;
            if (!k.memory_full) {
                const std::int64_t until = now_ms() + 3000;
                while (now_ms() < until && k.tc_count > 500 && !k.memory_full && patient_event_scan(k) != 0) {}
            }
        }
        if (k.start_found && k.tc_count > 500 && now_ms() >= st.next_poll_ms && k.data_arrived && !k.memory_full) {
            patient_event_scan(k);
            st.next_poll_ms = now_ms() + 10000;
        }
        if (k.transfer_ended && !end_handled) {
            end_handled = true;
            drain_patient_events(k);
            k.running = k.interactive.load();
        }
    }
}

namespace {

void raise_priority(Kelmoth& k) {
    // Time-critical where the system allows it; an ordinary user may not, which is no error here.
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -15) != 0 && k.debug_display)
        say(k, "Failed to increase priority of USB ISO handler thread\n");
}

void force_swap_when_short(Kelmoth& k) {
    struct sysinfo si {};
    if (::sysinfo(&si) != 0) return;
    const unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
    const unsigned long long avail = static_cast<unsigned long long>(si.freeram) * unit;
    const unsigned long long total = static_cast<unsigned long long>(si.totalram) * unit;
    if (avail >= 83886080ULL || total <= 136314880ULL) return;
    say(k, "Allocating %ld M bytes of memory in usbrep to force Windows to swap\n", 100L);
    auto* block = static_cast<volatile char*>(std::malloc(104857600));
    if (!block) {
        say(k, "Attempt to Malloc memory failed in usbrep.cpp\n");
    } else {
        say(k, "Alloced memory in usbrep.cpp - about to write it\n");
        for (std::size_t i = 0; i < 104857600; i += 4096) block[i] = 0x21;
        std::free(const_cast<char*>(block));
        say(k, "Memory freed in usbrep.cpp\n");
    }
    sleep_ms(6000);
}

}  // namespace

void run_deck(Kelmoth& k) {
    try {
        k.read_thread = std::thread([&k] { read_usb(k); });
    } catch (const std::system_error&) {
        say(k, "Unable to start read_usb thread\n");
        k.running = 0;
    }
    sleep_ms(100);
    k.production_test = std::getenv("USB_TEST_MODE") ? 1 : 0;
    EnableReadUSB(k);
    const std::uint32_t debug_start[5] = {17, 80, 73, 1, std::getenv("DEBUG_REPLAY") ? 1u : 0u};
    SendRPtoUSB(k, debug_start, sizeof debug_start);
    for (;;) {
        if (!k.running) {
            say(k, "run_deck thread stopping because going is FALSE\n");
            break;
        }
        if (!k.start_request) {
            sleep_ms(10);
            continue;
        }
        say(k, "KELMOTH - start analysis command received\n");
        k.start_request = 0;
        std::uint32_t packet[26] = {15, 107, 502};
        {
            std::lock_guard<std::mutex> lock(k.tc_mutex);
            k.tc_count = 0;
            k.start_found = 0;
            k.serial_searched = 0;
            k.serial_found = 0;
            k.event_count = 0;
            k.event_scan = 0;
        }
        k.run_pending = 1;
        if (!k.wendle_path.empty()) {
            std::error_code ec;
            std::filesystem::remove(k.wendle_path, ec);
        }
        force_swap_when_short(k);
        if (build_start_command(k, packet) < 0) {
            // No row, no command: the deck gets nothing rather than a stray fragment.
            say(k, "No recorder table entry for tape type %d\n", k.tape_type.load());
            if (k.tape) k.tape->status = kStatusNoTableEntry;
            k.run_pending = 0;
            k.running = k.interactive.load();
            continue;
        }
        if (k.iso_thread.joinable()) {
            if (!k.transfer_ended) {
                say(k, "A transfer is still running\n");
                k.run_pending = 0;
                continue;
            }
            k.iso_thread.join();
        }
        prepare_transfer(k);
        ++k.runs_started;
        try {
            k.iso_thread = std::thread([&k] {
                raise_priority(k);
                iso_transfer(k);
            });
        } catch (const std::system_error&) {
            say(k, "Unable to start USB Iso handler thread\n");
        }
        EnableReadUSB(k);
        sleep_ms(10);
        SendRPtoUSB(k, packet, 4 * 26);
    }
    if (k.read_thread.joinable()) k.read_thread.join();
    if (k.iso_thread.joinable()) k.iso_thread.join();
}

}  // namespace tv::kelmoth
