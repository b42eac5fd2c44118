// Time codes, the recorder's serial block and patient events.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "kelmoth/kelmoth.h"

namespace tv::kelmoth {
namespace {

constexpr std::uint8_t kFirstDigit[4][2] = {{5, 0}, {0, 0}, {4, 1}, {1, 2}};
constexpr std::uint8_t kSegments[11][2] = {{0x3F, 0}, {0x00, 0}, {0x06, 1}, {0x5B, 2}, {0x4F, 3}, {0x66, 4},
                                           {0x6D, 5}, {0x7D, 6}, {0x07, 7}, {0x7F, 8}, {0x6F, 9}};

std::uint32_t bit(std::uint32_t w, int n) { return (w >> n) & 1u; }

void digits(std::uint32_t w, std::uint32_t (&d)[4]) {
    d[0] = bit(w, 25) << 2 | bit(w, 24);
    d[1] = ((w >> 26) & 0x1F) | ((w >> 16) & 3) << 5;
    d[2] = ((w >> 18) & 0x3F) | bit(w, 9) << 6;
    d[3] = ((w >> 10) & 0x3F) | bit(w, 31) << 6;
}

bool valid_bcd(int v, int lo, int hi) {
    if ((v & 0xF) > 9 || (v >> 4) > 9) return false;
    const int n = (v >> 4) * 10 + (v & 0xF);
    return n >= lo && n <= hi;
}

int bcd2(int v) { return (v >> 4) * 10 + (v & 0xF); }

}  // namespace

void digit_lookup(std::uint32_t pattern, std::int32_t& result, int& valid, bool first_digit) {
    if (valid != 1) return;
    if (first_digit) {
        for (const auto& e : kFirstDigit)
            if (e[0] == pattern) {
                result |= e[1];
                return;
            }
    } else {
        for (const auto& e : kSegments)
            if (e[0] == pattern) {
                result |= e[1];
                return;
            }
    }
}

TimeCode decode_time_code(std::uint32_t word) {
    TimeCode t;
    std::uint32_t d[4];
    digits(word, d);
    if (word & 0x100) {
        t.time_valid = 1;
        digit_lookup(d[0], t.time, t.time_valid, true);
        if (t.time > 2) t.time_valid = 0;
        t.time <<= 4;
        digit_lookup(d[1], t.time, t.time_valid, false);
        const int tens = (t.time >> 4) & 0xF, units = t.time & 0xF;
        if ((tens == 0 || tens == 1) && units > 9) t.time_valid = 0;
        t.time <<= 4;
        digit_lookup(d[2], t.time, t.time_valid, false);
        if ((t.time & 0xF) > 5) t.time_valid = 0;
        t.time <<= 4;
        digit_lookup(d[3], t.time, t.time_valid, false);
        if ((t.time & 0xF) > 9) t.time_valid = 0;
    } else {
        t.other_valid = 1;
        digit_lookup(d[0], t.other, t.other_valid, true);
        for (int i = 1; i < 4; ++i) {
            t.other <<= 4;
            digit_lookup(d[i], t.other, t.other_valid, false);
        }
    }
    return t;
}

void append_time_code_block(Kelmoth& k, const std::uint8_t* m, int n) {
    if (n != 268) return;
    std::lock_guard<std::mutex> lock(k.tc_mutex);
    std::int32_t count = k.tc_count;
    if (count >= kTimeCodeLimit) return;
    for (int i = 0; i < 32; ++i) {
        std::memcpy(&k.tc_position[count + i], m + 12 + 8 * i, 4);
        std::memcpy(&k.tc_word[count + i], m + 16 + 8 * i, 4);
    }
    k.tc_count = count + 32;
}

void start_time_search(Kelmoth& k) {
    std::lock_guard<std::mutex> lock(k.tc_mutex);
    const std::int32_t count = k.tc_count;
    std::int32_t i = 0;
    while (i < count && k.tc_position[i] <= k.skip_start) ++i;
    TimeCode previous;
    for (; i < count; ++i) {
        const TimeCode t = decode_time_code(k.tc_word[i]);
        if (t.time_valid && t.time != 0 && previous.time_valid && previous.time == t.time) {
            k.start_found = 1;
            say(k, "  *** START TIME FOUND ****  %04X \n", static_cast<unsigned>(t.time));
            if (k.tape) {
                k.tape->start_time_code = t.time;
                k.tape->start_offset = k.tc_position[i] - k.skip_start;
            }
            return;
        }
        previous = t;
    }
}

SerialBlock parse_serial_block(const std::uint8_t (&bytes)[32]) {
    SerialBlock b;
    std::memcpy(b.bytes, bytes, 32);
    unsigned sum = 0;
    for (int i = 8; i <= 19; ++i) sum += bytes[i];
    b.checksum_ok = sum % 256 == 0;
    b.minutes = bytes[1];
    b.hours = bytes[2] & 0x3F;
    b.day = bytes[3];
    b.month = bytes[4];
    b.year = bytes[6];
    b.hours_run = (bytes[15] >> 4) | bytes[16] << 4 | (bytes[17] & 0xF) << 12;
    b.serial = std::uint32_t(bytes[17] >> 4) | std::uint32_t(bytes[18]) << 4 | std::uint32_t(bytes[19]) << 12;
    return b;
}

std::string serial_block_date(const SerialBlock& b) {
    // A date that is not one is left out rather than formatted.
    if (!valid_bcd(b.year, 0, 99) || !valid_bcd(b.month, 1, 12) || !valid_bcd(b.day, 1, 31) ||
        !valid_bcd(b.hours, 0, 23) || !valid_bcd(b.minutes, 0, 59))
        return {};
    std::tm tm{};
    tm.tm_year = (b.year >= 0x90 ? 0 : 100) + bcd2(b.year);
    tm.tm_mon = bcd2(b.month) - 1;
    tm.tm_mday = bcd2(b.day);
    tm.tm_hour = bcd2(b.hours);
    tm.tm_min = bcd2(b.minutes);
    std::tm check = tm;
    check.tm_isdst = -1;
    if (timegm(&check) == -1 || check.tm_mday != tm.tm_mday) return {};  // 31/02 and the like
    // The user's short date form, as the environment's locale (LC_ALL, LC_TIME, LANG) gives it,
    // with a four-digit year: the Patient Details dialog this date is offered to refuses two-digit
    // years. The program's own locale stays "C".
    locale_t user = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (!user) user = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    if (!user) return {};
    std::string format = ::nl_langinfo_l(D_FMT, user);
    for (std::size_t at = format.find("%y"); at != std::string::npos; at = format.find("%y", at + 2))
        format[at + 1] = 'Y';
    char text[40];
    const std::size_t n = ::strftime_l(text, sizeof text, format.c_str(), &tm, user);
    ::freelocale(user);
    return std::string(text, n);
}

long find_serial_block(const std::int32_t* pos, const std::uint32_t* w, long count, std::int32_t skip,
                       SerialBlock& block) {
    long i = 0;
    while (i < count && pos[i] <= skip) ++i;
    long equal = 0, sync = 0, end = -1;
    for (; i + 1 < count; ++i) {
        if (((w[i] ^ w[i + 1]) & 0xFFFFFF00u) == 0) {
            ++equal;
            continue;
        }
        if (equal == 14) {
            if (++sync == 39) {
                end = i;
                break;
            }
        } else {
            sync = 0;
        }
        equal = 0;
    }
    if (end < 0) return -1;
    long run = 0;
    bool need_clear = false;
    for (long j = end - 585 < 0 ? 0 : end - 585; j < end; ++j) {
        if (!(w[j] & 0x80)) {
            run = 0;
            need_clear = false;
            continue;
        }
        if (need_clear || ++run < 32) continue;
        const long k = j - 31;
        if (k + 288 > count) return -1;  // the block would lie past the stored codes
        std::uint8_t bytes[32] = {};
        for (int b = 0; b < 256; ++b)
            if (w[k + 32 + b] & 0x80) bytes[b / 8] |= static_cast<std::uint8_t>(1u << (b % 8));
        block = parse_serial_block(bytes);
        if (block.checksum_ok) return k;
        j = k + 32 + 256 - 1;
        run = 0;
        need_clear = true;
    }
    return -1;
}

bool write_wendle_report(const std::string& path, std::string_view text) {
    // The analysis system's folder is shared: the report is made under a fresh name and renamed
    // over its own, so that whatever was planted there meanwhile is replaced, never written through.
    std::string temp;
    platform::UniqueFd fd = create_sibling_temp(path, temp, 0666);
    if (!fd) return false;
    bool ok = platform::write_all(fd.get(), text.data(), text.size());
    if (!fd.close()) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

bool serial_block_search(Kelmoth& k) {
    say(k, "Searching for Wendle 3 serial data in timecodes...\n");
    std::lock_guard<std::mutex> lock(k.tc_mutex);
    const std::int32_t count = k.tc_count;
    if (count == 0) {
        say(k, "No timecodes received from replay\n");
        return false;
    }
    SerialBlock b;
    const long at = find_serial_block(k.tc_position.data(), k.tc_word.data(), count, k.skip_start, b);
    if (at < 0) {
        say(k, "No Wendle 3 serial data found\n");
        return false;
    }
    k.serial_found = 1;
    char rtc[160];
    std::snprintf(rtc, sizeof rtc,
                  "  RTC: %02hx:%02hx  Date(dd/mm/yy):%02hx/%02hx/%02hx Serial Number: %X  Hours run: %d\n",
                  static_cast<unsigned short>(b.hours), static_cast<unsigned short>(b.minutes),
                  static_cast<unsigned short>(b.day), static_cast<unsigned short>(b.month),
                  static_cast<unsigned short>(b.year), b.serial, b.hours_run);
    static const char kFound[] = "\n  ***** VALID WENDLE 3 SERIAL DATA BLOCK FOUND ****\n";
    say(k, "%s%s", kFound, rtc);
    const TimeCode t = decode_time_code(k.tc_word[at]);
    if (t.time_valid)
        say(k, "  (Sanity check: Time code at start of serial data sync=%04X)\n", static_cast<unsigned>(t.time));
    if (!k.wendle_path.empty()) write_wendle_report(k.wendle_path, std::string(kFound) + rtc);
    if (k.tape) {
        std::snprintf(k.tape->serial_text, sizeof k.tape->serial_text, "SN:%X / %d", b.serial, b.hours_run);
        const std::string date = serial_block_date(b);
        std::memset(k.tape->recording_date, 0, sizeof k.tape->recording_date);
        std::memcpy(k.tape->recording_date, date.data(), std::min<std::size_t>(date.size(), 39));
    }
    return true;
}

std::int32_t patient_event_scan(Kelmoth& k, bool stored_only) {
    std::lock_guard<std::mutex> lock(k.tc_mutex);
    const std::int32_t count = k.tc_count;
    if (k.event_count >= static_cast<std::int32_t>(kMaxPatientEvents) || !k.events) {
        k.event_scan = count;
        return 0;
    }
    const std::int32_t stored = k.ctrl ? __atomic_load_n(&k.ctrl[0].samples_written, __ATOMIC_ACQUIRE) : 0;
    for (std::int32_t i = k.event_scan; i < count; ++i) {
        if (k.tc_word[i] & 0xF) continue;
        const std::int32_t position = k.tc_position[i] - k.skip_start;
        // Marks before the skip point belong to no stored sample.
        if (position <= 0) continue;
        if (stored_only && position >= stored) {
            i += 7;
            continue;
        }
        std::int32_t* slots = k.events->positions;
        __atomic_store_n(&slots[k.event_count + 1], 0, __ATOMIC_RELEASE);
        __atomic_store_n(&slots[k.event_count], position, __ATOMIC_RELEASE);
        ++k.event_count;
        k.event_scan = i + 8;
        say(k, "Written one patient event to MMF, %d in total\n", k.event_count);
        return position;
    }
    k.event_scan = count;
    return 0;
}

void drain_patient_events(Kelmoth& k) {
    const bool stored_only = k.memory_full;
    for (std::uint32_t n = 0; n < kMaxPatientEvents; ++n)
        if (patient_event_scan(k, stored_only) == 0) break;
}

}  // namespace tv::kelmoth
