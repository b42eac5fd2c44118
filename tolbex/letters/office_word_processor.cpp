#include "tolbex/letters/office_word_processor.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/runner.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/process.h"

#ifndef TV_LETTER_HELPER_SOURCE
#define TV_LETTER_HELPER_SOURCE ""
#endif

namespace tv::letters {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(90);
constexpr auto kRequestTimeout = std::chrono::seconds(60);

std::string escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            c = text[++i];
            c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
        out += c;
    }
    return out;
}

std::string python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

class Session {
public:
    Session() {
        const std::string helper = letter_helper_path();
        if (helper.empty()) throw WordProcessorError("the letter helper script is missing");
        folder_ = create_temp_folder();
        if (folder_.empty()) throw WordProcessorError("no temporary folder");
        chmod(folder_.c_str(), 0700);
        const std::string requests = folder_ + "requests", replies = folder_ + "replies";
        if (mkfifo(requests.c_str(), 0600) != 0 || mkfifo(replies.c_str(), 0600) != 0)
            fail_start("cannot make the helper's pipes");
        // Read-write opens never wait for the other side; a helper that dies is noticed by polling.
        requests_.reset(::open(requests.c_str(), O_RDWR | O_CLOEXEC));
        replies_.reset(::open(replies.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!requests_ || !replies_) fail_start("cannot open the helper's pipes");
        // The office keeps its own profile, so the user's desktop session is left alone and
        // later starts skip the first-run set-up.
        const std::string profile = join_path(platform::user_dir(), "letters-office");
        create_folder_path(profile);
        if (!child_.start({python(), helper, requests, replies, profile})) fail_start("cannot start the letter helper");
    }

    // Waits, once, for the helper to say that the office runs: a session started ahead of need
    // starts the office while the user does something else. Throws WordProcessorError when it did
    // not start.
    void ready() {
        if (ready_) return;
        try {
            expect_ok(read_reply(kStartTimeout));
        } catch (const WordProcessorError&) {
            child_.end(0);
            throw;
        }
        ready_ = true;
    }

    ~Session() {
        if (child_.running()) {
            send("quit");
            ChildEnd end;
            if (!child_.wait_for(15000, end)) child_.end(0);
        }
        requests_.reset();
        replies_.reset();
        if (!folder_.empty()) delete_folder_tree(folder_, true, false);
    }

    bool alive() {
        ChildEnd end;
        return !child_.poll(end);
    }

    // One request; the reply's value. Texts are Windows-1252 and go as UTF-8; field `path`
    // (when not 0) is a path and goes as its bytes. Throws WordProcessorError on "err" or a dead
    // helper.
    std::string call(const std::vector<std::string>& fields, std::size_t path = 0) {
        ready();
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) line += '\t';
            line += escape(i == path && path ? fields[i] : platform::cp1252_to_utf8(fields[i]));
        }
        if (!send(line)) throw WordProcessorError("the letter helper has gone");
        return expect_ok(read_reply(kRequestTimeout));
    }

private:
    [[noreturn]] void fail_start(const std::string& why) {
        requests_.reset();
        replies_.reset();
        delete_folder_tree(folder_, true, false);
        folder_.clear();
        throw WordProcessorError(why);
    }

    bool send(const std::string& line) {
        const std::string data = line + "\n";
        return requests_ && platform::write_all(requests_.get(), data.data(), data.size());
    }

    std::string read_reply(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            if (std::chrono::steady_clock::now() > deadline)
                throw WordProcessorError("the word processor does not answer");
            pollfd p{replies_.get(), POLLIN, 0};
            const int r = poll(&p, 1, 100);
            if (r > 0) {
                char buf[65536];
                const ssize_t n = ::read(replies_.get(), buf, sizeof buf);
                if (n > 0)
                    pending_.append(buf, static_cast<std::size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    throw WordProcessorError("cannot read the helper");
            } else if (r == 0 && !alive()) {
                throw WordProcessorError("the letter helper has gone");
            }
        }
    }

    static std::string expect_ok(const std::string& reply) {
        const std::size_t tab = reply.find('\t');
        const std::string status = reply.substr(0, tab);
        const std::string value =
            tab == std::string::npos ? "" : platform::utf8_to_cp1252(unescape(reply.substr(tab + 1)));
        if (status != "ok") throw WordProcessorError(value.empty() ? "the word processor failed" : value);
        return value;
    }

    std::string folder_;
    platform::UniqueFd requests_, replies_;
    ChildProgram child_;
    std::string pending_;
    bool ready_ = false;
};

std::unique_ptr<Session>& session() {
    static std::unique_ptr<Session> s;
    return s;
}

// The session, started when none runs (its office may still be starting).
Session& started_session() {
    std::unique_ptr<Session>& s = session();
    if (s && !s->alive()) s.reset();
    if (!s) s = std::make_unique<Session>();
    return *s;
}

// The session with its office running; one that did not start is dropped, so the next use tries
// again.
Session& running_session() {
    Session& s = started_session();
    try {
        s.ready();
    } catch (const WordProcessorError&) {
        session().reset();
        throw;
    }
    return s;
}

class OfficeWordProcessor : public WordProcessor {
public:
    bool open(const std::string& path) override {
        try {
            running_session().call({"open", path}, 1);
            return true;
        } catch (const WordProcessorError&) {
            return false;
        }
    }
    bool save(const std::string& path) override {
        try {
            running_session().call({"save", path}, 1);
            return true;
        } catch (const WordProcessorError&) {
            return false;
        }
    }
    std::string text() override { return running_session().call({"text"}); }
    std::vector<std::size_t> part_breaks() override {
        const std::string list = running_session().call({"breaks"});
        std::vector<std::size_t> out;
        for (std::size_t pos = 0; pos < list.size();) {
            std::size_t end = list.find(',', pos);
            if (end == std::string::npos) end = list.size();
            std::size_t value = 0;
            const auto [stop, ec] = std::from_chars(list.data() + pos, list.data() + end, value);
            if (ec != std::errc() || stop != list.data() + end) throw WordProcessorError("bad reply from the helper");
            out.push_back(value);
            pos = end + 1;
        }
        return out;
    }
    void replace(std::size_t start, std::size_t end, const std::string& replacement) override {
        running_session().call({"replace", std::to_string(start), std::to_string(end), replacement});
    }
    // A round trip per field made a letter take seconds: all of them go in one request.
    void replace_all(const std::vector<TextEdit>& edits) override {
        if (edits.empty()) return;
        std::vector<std::string> request{"edits"};
        request.reserve(1 + 3 * edits.size());
        for (const TextEdit& e : edits) {
            request.push_back(std::to_string(e.start));
            request.push_back(std::to_string(e.end));
            request.push_back(e.text);
        }
        running_session().call(request);
    }
    void close() override {
        try {
            if (session()) session()->call({"close"});
        } catch (const WordProcessorError&) {}
    }
};

}  // namespace

std::string letter_helper_path() {
    if (const char* env = std::getenv("TV_LETTER_HELPER"); env && *env) return file_exists(env) ? env : "";
    for (const std::string& folder : {get_module_folder(), get_private_parts_folder()}) {
        const std::string beside = join_path(folder, "letter_helper.py");
        if (file_exists(beside)) return beside;
    }
    const std::string source = TV_LETTER_HELPER_SOURCE;
    return !source.empty() && file_exists(source) ? source : "";
}

bool office_available(std::string* why) {
    auto missing = [why](const char* what) {
        if (why) *why = what;
        return false;
    };
    if (letter_helper_path().empty()) return missing("the letter helper script letter_helper.py is missing");
    if (platform::resolve_program("soffice").empty()) return missing("soffice (LibreOffice Writer) is not installed");
    if (run_child({python(), "-c", "import uno"}, false).code() != 0)
        return missing("python3 cannot import uno (python3-uno is not installed)");
    return true;
}

std::unique_ptr<WordProcessor> start_office_word_processor() {
    running_session();
    return std::make_unique<OfficeWordProcessor>();
}

void start_office_ahead() {
    if (session() || letter_helper_path().empty() || platform::resolve_program("soffice").empty()) return;
    try {
        started_session();
    } catch (const WordProcessorError&) {
        // Said at the first use, which tries again.
    }
}

void shutdown_office() { session().reset(); }

void write_office_document(const std::string& path, const std::string& text, const OfficeDocumentParts& parts) {
    std::vector<std::string> request{"new", text};
    auto add = [&request](const char* name, const std::string& value) {
        request.push_back(name);
        request.push_back(value);
    };
    if (!parts.header.empty()) add("header", parts.header);
    if (!parts.footer.empty()) add("footer", parts.footer);
    if (!parts.table.empty()) {
        std::string rows;
        for (const std::vector<std::string>& row : parts.table) {
            if (!rows.empty()) rows += '\n';
            for (std::size_t c = 0; c < row.size(); ++c) rows += (c ? "\t" : "") + row[c];
        }
        add("table", rows);
        add("after", parts.after_table);
    }
    if (!parts.frame.empty()) add("frame", parts.frame);
    if (!parts.field.empty()) add("field", parts.field);
    Session& s = running_session();
    s.call(request);
    s.call({"save", path}, 1);
    s.call({"close"});
}

}  // namespace tv::letters
