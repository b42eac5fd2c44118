#include "tolbex/mail/mail_message.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <string_view>
#include <unistd.h>

#include "common/files.h"
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

// RFC 5322 atext plus the blank: a display name of these goes as it is.
bool is_atom_phrase(const std::string& text) {
    for (unsigned char c : text)
        if (!std::isalnum(c) &&
            std::string_view(" !#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) == std::string_view::npos)
            return false;
    return true;
}

// One "Name <addr>" or bare address; false when it holds a control character or the brackets do
// not close, as the compose check would refuse.
bool encode_mailbox(std::string one, std::string& out) {
    for (unsigned char c : one)
        if (c < 0x20 || c == 0x7F) return false;
    const std::size_t first = one.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    one = one.substr(first, one.find_last_not_of(' ') - first + 1);
    const std::size_t lt = one.rfind('<');
    if (lt == std::string::npos) {
        if (one.find('>') != std::string::npos || one.find(' ') != std::string::npos) return false;
        out += platform::cp1252_to_utf8(one);
        return true;
    }
    if (one.back() != '>') return false;
    const std::string address = one.substr(lt + 1, one.size() - lt - 2);
    if (address.empty() || address.find_first_of(" <>") != std::string::npos) return false;
    std::string name = one.substr(0, lt);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (is_atom_phrase(name) && name.find("=?") == std::string::npos) {
        out += name;
    } else if (is_plain_header_text(name)) {
        out += '"';
        for (char c : name) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    } else {
        out += encode_header_text(name);
    }
    if (!name.empty()) out += ' ';
    // The address itself is never encoded: an encoded word there is not an address any more.
    out += "<" + platform::cp1252_to_utf8(address) + ">";
    return true;
}

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
std::string encode_parameter(const std::string& attr, const std::string& cp1252_value) {
    if (is_plain_header_text(cp1252_value) && cp1252_value.find_first_of("\"\\") == std::string::npos)
        return attr + "=\"" + cp1252_value + "\"";
    std::string out = attr + "*=utf-8''";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : platform::cp1252_to_utf8(cp1252_value)) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
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
    std::string out;
    std::size_t pos = 0;
    while (pos <= cp1252_list.size()) {
        std::size_t end = cp1252_list.find(',', pos);
        if (end == std::string::npos) end = cp1252_list.size();
        const std::string one = cp1252_list.substr(pos, end - pos);
        pos = end + 1;
        if (one.find_first_not_of(' ') == std::string::npos) continue;
        if (!out.empty()) out += ",\r\n ";
        if (!encode_mailbox(one, out)) return encode_header_text(cp1252_list);
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
    const std::string boundary = "=_tolbex_" + fresh_token();
    std::string out;
    if (!envelope.from.empty()) out += "From: " + encode_address_header(envelope.from) + "\r\n";
    if (!message.recipient.empty()) out += "To: " + encode_address_header(message.recipient) + "\r\n";
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
        if (!read_file_bytes(a.path, bytes)) return Error{5, "The attachment \"" + a.path + "\" could not be read."};
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
