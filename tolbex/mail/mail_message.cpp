#include "tolbex/mail/mail_message.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string_view>
#include <unistd.h>

#include <gmime/gmime.h>

#include "platform/ascii.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/codepage.h"

namespace tv {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool is_plain_header_text(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return text.find("=?") == std::string::npos;
}

std::string base64(const std::string& bytes);

std::string base64(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v =
            (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size()) v |= (unsigned char)bytes[i + 1] << 8;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// RFC 2231 value for a parameter: attr*=utf-8''percent-encoded.
// `cp1252_value` in plain ASCII for readers that know no encoded parameter: Latin letters without
// their accents, every other character outside printable ASCII, '"' and '\\' as '_'.
std::string ascii_parameter_value(const std::string& cp1252_value) {
    // Windows-1252 0xC0..0xFF, letter by letter.
    static constexpr char kBase[] = "AAAAAAACEEEEIIIIDNOOOOO_OUUUUYTsaaaaaaaceeeeiiiidnooooo_ouuuuyty";
    static_assert(sizeof kBase == 0x40 + 1);
    std::string out;
    for (unsigned char c : cp1252_value) {
        if (c >= 0xC0)
            out += kBase[c - 0xC0];
        else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
            out += '_';
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string encode_parameter(const std::string& attr, const std::string& cp1252_value) {
    if (is_plain_header_text(cp1252_value) && cp1252_value.find_first_of("\"\\") == std::string::npos)
        return attr + "=\"" + cp1252_value + "\"";
    // Both forms: a reader that knows the encoded one takes it (it comes first, as some readers
    // take the first of the two), any other the plain one.
    std::string out = attr + "*=utf-8''";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : platform::cp1252_to_utf8(cp1252_value)) {
        if (platform::is_alnum(static_cast<char>(c)) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out + "; " + attr + "=\"" + ascii_parameter_value(cp1252_value) + "\"";
}

// CR LF for every line end, whatever the note was written with.
std::string crlf_lines(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string now_rfc5322() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &tm);
    return buf;
}

void init_gmime() {
    static const bool ready = [] {
        g_mime_init();
        return true;
    }();
    (void)ready;
}

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using AddressList = std::unique_ptr<InternetAddressList, GObjectUnref>;
using FormatOptions = std::unique_ptr<GMimeFormatOptions, decltype(&g_mime_format_options_free)>;

// A list as GMime reads it, with every ';' that parts items (outside quoted strings, angle
// brackets and comments) made a ',': mail programs take either, and GMime would pass over what
// follows a ';'. `items` counts the items so parted.
std::string comma_separated(std::string_view list, std::size_t& items) {
    std::string out(list);
    items = 0;
    bool quoted = false, item = false;
    int angle = 0, comment = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        } else if (c == '(') {
            ++comment;
        } else if (c == ')' && comment > 0) {
            --comment;
        } else if ((c == ',' || c == ';') && angle == 0 && comment == 0) {
            out[i] = ',';
            items += item;
            item = false;
            continue;
        }
        if (c != ' ' && c != '\t') item = true;
    }
    items += item;
    return out;
}

// GMime's reading of a list, or null when it holds a control character or GMime passes over an
// item it cannot read (it would leave that recipient out without a word).
AddressList parse_list(const std::string& cp1252_list) {
    for (unsigned char c : cp1252_list)
        if (c < 0x20 || c == 0x7F) return nullptr;
    init_gmime();
    std::size_t items = 0;
    const std::string utf8 = platform::cp1252_to_utf8(comma_separated(cp1252_list, items));
    AddressList list(internet_address_list_parse(nullptr, utf8.c_str()));
    if (!list || static_cast<std::size_t>(internet_address_list_length(list.get())) != items) return nullptr;
    return list;
}

std::string fresh_token() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld.%d.%u.%08x", static_cast<long long>(std::time(nullptr)),
                  static_cast<int>(getpid()), counter++, static_cast<unsigned>(rd()));
    return buf;
}

}  // namespace

std::string encode_header_text(const std::string& cp1252_text) {
    if (is_plain_header_text(cp1252_text)) return cp1252_text;
    // Encoded words of at most 45 source bytes each, cut between UTF-8 characters.
    const std::string utf8 = platform::cp1252_to_utf8(cp1252_text);
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t n = std::min<std::size_t>(45, utf8.size() - i);
        while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) --n;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + base64(utf8.substr(i, n)) + "?=";
        i += n;
    }
    return out;
}

std::string encode_address_header(const std::string& cp1252_list) {
    const AddressList list = parse_list(cp1252_list);
    if (!list) return encode_header_text(cp1252_list);
    FormatOptions options(g_mime_format_options_new(), &g_mime_format_options_free);
    g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
    // Folded as the value of the longest of our address headers' names.
    constexpr std::string_view kName = "From: ";
    std::unique_ptr<GString, void (*)(GString*)> out(g_string_new(kName.data()),
                                                     [](GString* g) { g_string_free(g, TRUE); });
    internet_address_list_encode(list.get(), options.get(), out.get());
    std::string value(out->str + kName.size(), out->len - kName.size());
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

std::vector<ListedAddress> read_address_list(const std::string& cp1252_list) {
    std::vector<ListedAddress> out;
    const AddressList list = parse_list(cp1252_list);
    if (!list) return out;
    for (int i = 0; i < internet_address_list_length(list.get()); ++i) {
        InternetAddress* a = internet_address_list_get_address(list.get(), i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(a)) return {};
        std::unique_ptr<char, void (*)(void*)> text(internet_address_to_string(a, nullptr, FALSE), &g_free);
        const char* address = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
        out.push_back(
            {platform::utf8_to_cp1252(text ? text.get() : ""), platform::utf8_to_cp1252(address ? address : "")});
    }
    return out;
}

std::vector<ListedAddress> read_recipients(const std::string& cp1252_list) {
    std::vector<ListedAddress> out = read_address_list(cp1252_list);
    for (const ListedAddress& a : out) {
        const std::size_t at = a.address.find('@');
        if (at == std::string::npos || at == 0 || at + 1 == a.address.size()) return {};
    }
    return out;
}

std::string encode_quoted_printable(const std::string& utf8_text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t column = 0;
    auto put = [&](const std::string& piece) {
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    const std::string text = crlf_lines(utf8_text);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        const bool line_end_follows = i + 1 == text.size() || text[i + 1] == '\r';
        const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !line_end_follows);
        if (literal) {
            put(std::string(1, static_cast<char>(c)));
        } else {
            put(std::string{'=', kHex[c >> 4], kHex[c & 15]});
        }
    }
    return out;
}

std::string encode_base64_lines(const std::string& bytes) {
    const std::string flat = base64(bytes);
    std::string out;
    out.reserve(flat.size() + flat.size() / 76 * 2 + 2);
    for (std::size_t i = 0; i < flat.size(); i += 76) {
        out.append(flat, i, 76);
        out += "\r\n";
    }
    return out;
}

Result<std::string> build_mime_message(const MailMessage& message, const MailEnvelope& envelope) {
    if (read_recipients(message.recipient).empty())
        return Error{5, "The recipients \"" + escape_control_chars(message.recipient) +
                            "\" cannot be read as mail addresses, so the mail was not sent."};
    // The sender is one address, checked as the recipients are: "Smith, John <js@...>" would
    // read as two mailboxes.
    if (!envelope.from.empty() && read_recipients(envelope.from).size() != 1)
        return Error{5, "The From Address \"" + escape_control_chars(envelope.from) +
                            "\" of the mail settings cannot be read as one mail address, so the mail was not sent."};
    const std::string boundary = "=_tolbex_" + fresh_token();
    std::string out;
    if (!envelope.from.empty()) out += "From: " + encode_address_header(envelope.from) + "\r\n";
    out += "To: " + encode_address_header(message.recipient) + "\r\n";
    out += "Subject: " + encode_header_text(message.subject) + "\r\n";
    out += "Date: " + (envelope.date.empty() ? now_rfc5322() : envelope.date) + "\r\n";
    // Appended piece by piece: gcc 12 at -O3 takes "<" + token for an overlapping copy.
    out += "Message-ID: ";
    if (envelope.message_id.empty())
        out.append("<").append(fresh_token()).append("@tolbex>");
    else
        out += envelope.message_id;
    out += "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    out += "--" + boundary + "\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    out += encode_quoted_printable(platform::cp1252_to_utf8(message.note)) + "\r\n";
    for (const MailAttachment& a : message.attachments) {
        std::vector<std::uint8_t> bytes;
        OutsideRefusal refusal = OutsideRefusal::None;
        if (!read_outside_file(a.path, kMailAttachmentMax, bytes, &refusal))
            return Error{5, "The attachment " + outside_refusal_text(a.path, refusal)};
        out += "--" + boundary + "\r\n";
        out += "Content-Type: application/octet-stream; " + encode_parameter("name", a.name) + "\r\n";
        out += "Content-Transfer-Encoding: base64\r\n";
        out += "Content-Disposition: attachment; " + encode_parameter("filename", a.name) + "\r\n\r\n";
        out += encode_base64_lines(std::string(bytes.begin(), bytes.end()));
    }
    out += "--" + boundary + "--\r\n";
    return out;
}

}  // namespace tv
