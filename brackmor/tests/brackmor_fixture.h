// Builds archive trees from a compact description and runs the built BRACKMOR on them.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/test_root.h"

namespace tv::brackmor::testing {

namespace fs = std::filesystem;

struct RunResult {
    int code = -1;
    std::string out;
};

class BrackmorTest : public ::testing::Test {
public:
    static std::string upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

protected:
    // The group folder is root/g; the program runs in root (where its log goes).
    std::string base() const { return root_.path() + "/g"; }
    std::string at(const std::string& rel) const { return base() + "/" + rel; }

    // Each item: "dir/" a folder; "path" an empty file; "path=text" a file whose text has '|'
    // for CR LF; "dir/{A,B}" the empty files A and B in dir.
    void make(const std::vector<std::string>& items) {
        for (const std::string& item : items) {
            const auto eq = item.find('=');
            const std::string rel = item.substr(0, eq);
            if (const auto brace = rel.find("/{"); brace != std::string::npos && rel.back() == '}') {
                std::stringstream names(rel.substr(brace + 2, rel.size() - brace - 3));
                for (std::string name; std::getline(names, name, ',');) write(rel.substr(0, brace + 1) + name, "");
            } else if (rel.back() == '/') {
                fs::create_directories(at(rel));
            } else {
                std::string text = eq == std::string::npos ? "" : item.substr(eq + 1);
                std::string out;
                for (char c : text) out += c == '|' ? std::string("\r\n") : std::string(1, c);
                write(rel, out);
            }
        }
    }
    void write(const std::string& rel, const std::string& text) {
        fs::create_directories(fs::path(at(rel)).parent_path());
        std::ofstream(at(rel), std::ios::binary) << text;
    }
    // A file's text with CR LF shown as '|'; "(none)" when missing.
    std::string read(const std::string& path) const {
        std::ifstream in(path.front() == '/' ? path : at(path), std::ios::binary);
        if (!in) return "(none)";
        std::ostringstream ss;
        ss << in.rdbuf();
        return replace_all(ss.str(), "\r\n", "|");
    }
    std::string log(const std::string& name = "BRACKMOR.LOG") const { return mask(read(root_.path() + "/" + name)); }
    bool exists(const std::string& rel) const { return fs::exists(fs::symlink_status(at(rel))); }

    // Dates and the build stamp masked.
    static std::string mask(const std::string& text) {
        auto date_at = [&](std::size_t p) {
            static const char shape[] = "##/##/## ##:##:##";
            for (std::size_t i = 0; shape[i]; ++i)
                if (p + i >= text.size() || (shape[i] == '#' ? !std::isdigit(static_cast<unsigned char>(text[p + i]))
                                                             : text[p + i] != shape[i]))
                    return false;
            return true;
        };
        std::string out;
        for (std::size_t p = 0; p < text.size();) {
            if (date_at(p)) {
                out += "<date>";
                p += 17;
            } else if (text.compare(p, 12, "compiled on ") == 0) {
                out += "compiled on <build>";
                p += 12 + 23;
            } else {
                out += text[p++];
            }
        }
        return out;
    }
    static std::string replace_all(const std::string& text, const std::string& from, const std::string& to) {
        std::string out;
        std::size_t p = 0;
        for (std::size_t q; (q = text.find(from, p)) != std::string::npos; p = q + from.size())
            out.append(text, p, q - p).append(to);
        return out.append(text, p);
    }

    // Runs BRACKMOR with `args` (the group folder is not added), `input` on standard input.
    RunResult run(std::vector<std::string> args, const std::string& input = "") {
        const std::string in_path = root_.tmp() + "/stdin.txt", out_path = root_.tmp() + "/stdout.txt";
        std::ofstream(in_path, std::ios::binary) << input;
        args.insert(args.begin(), BRACKMOR_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int in = ::open(in_path.c_str(), O_RDONLY);
            const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || ::chdir(root_.path().c_str()) != 0) ::_exit(126);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::setenv("TZ", "UTC", 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        RunResult r;
        r.code = platform::testing::wait_child(pid);
        r.out = mask(read(out_path));
        return r;
    }
    RunResult check(std::vector<std::string> options, const std::string& input = "") {
        options.insert(options.begin(), base());
        return run(options, input);
    }

    platform::testing::TempRoot root_;
};

// BRACKMOR with its standard input and output on pipes, answered as its questions come.
class Dialogue {
public:
    // `become`, when given, runs in the child before the program starts (to take another account).
    Dialogue(const std::string& work, std::vector<std::string> args, const std::function<void()>& become = {}) {
        int in[2], out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        args.insert(args.begin(), BRACKMOR_PROGRAM);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::setenv("TZ", "UTC", 1);
            if (become) become();
            if (::chdir(work.c_str()) != 0) ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Dialogue() {
        ::close(to_);
        ::close(from_);
        if (pid_ > 0) platform::testing::wait_child(pid_);
    }
    // Reads until the output holds `text` for the `n`th time; false after 30 s.
    bool wait_for(const std::string& text, int n = 1) {
        for (int i = 0; i < 3000; ++i) {
            int seen = 0;
            for (std::size_t p = 0; (p = out_.find(text, p)) != std::string::npos; ++p) ++seen;
            if (seen >= n) return true;
            struct pollfd p = {from_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buf[4096];
                const ssize_t got = ::read(from_, buf, sizeof buf);
                if (got <= 0) return false;
                out_.append(buf, static_cast<std::size_t>(got));
            }
        }
        return false;
    }
    void answer(const char* text) {
        EXPECT_EQ(::write(to_, text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
    }
    int finish() {
        wait_for("BRACKMOR.SAV");
        const int code = platform::testing::wait_child(pid_);
        pid_ = -1;
        return code;
    }
    const std::string& out() const { return out_; }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string out_;
};

}  // namespace tv::brackmor::testing
