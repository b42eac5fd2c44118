#include "platform/registry.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/codepage.h"

namespace tv::platform {
namespace {

constexpr std::string_view kMagic = "TORVANE REGISTRY 1";

// Key paths are stored without leading or trailing backslashes; "" is the root itself.
std::optional<std::string> normalize_key(const std::string& key) {
    std::size_t b = 0, e = key.size();
    while (b < e && key[b] == '\\') ++b;
    while (e > b && key[e - 1] == '\\') --e;
    std::string k = key.substr(b, e - b);
    for (std::size_t i = 0; i < k.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(k[i]);
        if (c == '\r' || c == '\n' || c == '\0') return std::nullopt;  // would break the hive's lines
        if (c == '\\' && k[i + 1] == '\\') return std::nullopt;        // empty component
    }
    return k;
}

bool is_descendant(const std::string& path, const std::string& ancestor) {
    if (ancestor.empty()) return !path.empty();
    return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
           iequals(std::string_view(path).substr(0, ancestor.size()), ancestor);
}

bool is_child(const std::string& path, const std::string& parent) {
    if (!is_descendant(path, parent)) return false;
    std::size_t from = parent.empty() ? 0 : parent.size() + 1;
    return path.find('\\', from) == std::string::npos;
}

std::ptrdiff_t find_key(const std::vector<HiveKey>& keys, const std::string& path) {
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (iequals(keys[i].path, path)) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::ptrdiff_t find_value(const HiveKey& key, const std::string& name) {
    for (std::size_t i = 0; i < key.values.size(); ++i)
        if (iequals(key.values[i].first, name)) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

// The key, created with its missing parents. A new key takes its parents' stored spelling and
// is placed after its parent's last descendant, so a subtree stays together in the file.
HiveKey& ensure_key(std::vector<HiveKey>& keys, const std::string& path) {
    std::string spelled;
    std::size_t from = 0;
    std::ptrdiff_t idx = -1;
    if (path.empty()) {
        idx = find_key(keys, path);
        if (idx < 0) {
            keys.insert(keys.begin(), HiveKey{"", {}});
            idx = 0;
        }
        return keys[static_cast<std::size_t>(idx)];
    }
    while (from <= path.size()) {
        std::size_t end = path.find('\\', from);
        if (end == std::string::npos) end = path.size();
        std::string prefix = path.substr(0, end);
        std::ptrdiff_t found = find_key(keys, prefix);
        std::string parent = spelled;
        spelled = found >= 0 ? keys[static_cast<std::size_t>(found)].path
                             : (parent.empty() ? std::string() : parent + "\\") + path.substr(from, end - from);
        if (found < 0) {
            std::size_t pos = keys.size();
            std::ptrdiff_t p = parent.empty() ? -1 : find_key(keys, parent);
            if (p >= 0) {
                pos = static_cast<std::size_t>(p) + 1;
                while (pos < keys.size() && is_descendant(keys[pos].path, parent)) ++pos;
            }
            keys.insert(keys.begin() + static_cast<std::ptrdiff_t>(pos), HiveKey{spelled, {}});
            found = static_cast<std::ptrdiff_t>(pos);
        }
        idx = found;
        from = end + 1;
    }
    return keys[static_cast<std::size_t>(idx)];
}

// ---- text codec ----

void put_quoted(std::string& out, const std::string& s) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string at line[pos] (the opening quote); pos ends after the closing quote.
bool get_quoted(std::string_view line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= line.size()) return false;
            char n = line[i + 1];
            if (n == '\\' || n == '"') {
                out += n;
                ++i;
            } else if (n == 'x' && i + 3 < line.size() && hex_digit(line[i + 2]) >= 0 && hex_digit(line[i + 3]) >= 0) {
                out += static_cast<char>(hex_digit(line[i + 2]) * 16 + hex_digit(line[i + 3]));
                i += 3;
            } else {
                out += '\\';  // a hand-written Windows path: the backslash is meant as such
            }
        } else if (c < 0x20 && c != '\t') {
            return false;
        } else {
            out += static_cast<char>(c);
        }
    }
    return false;  // no closing quote
}

bool parse_value(std::string_view v, RegValue& out) {
    auto starts = [&](std::string_view p) { return v.substr(0, p.size()) == p; };
    std::size_t pos = 0;
    if (!v.empty() && v[0] == '"') {
        out = RegValue::string({});
        return get_quoted(v, pos, out.text) && pos == v.size();
    }
    if (starts("expand:")) {
        out = RegValue::expand_string({});
        pos = 7;
        return get_quoted(v, pos, out.text) && pos == v.size();
    }
    if (starts("dword:")) {
        std::string_view d = v.substr(6);
        if (d.size() != 8) return false;
        std::uint32_t x = 0;
        for (char c : d) {
            int h = hex_digit(c);
            if (h < 0) return false;
            x = (x << 4) | static_cast<std::uint32_t>(h);
        }
        out = RegValue::from_dword(x);
        return true;
    }
    if (starts("hex:")) {
        std::string_view d = v.substr(4);
        out = RegValue{RegType::Binary, {}, 0, {}};
        for (std::size_t i = 0; i < d.size();) {
            if (i + 2 > d.size() || hex_digit(d[i]) < 0 || hex_digit(d[i + 1]) < 0) return false;
            out.bytes += static_cast<char>(hex_digit(d[i]) * 16 + hex_digit(d[i + 1]));
            i += 2;
            if (i < d.size()) {
                if (d[i] != ',' || i + 1 == d.size()) return false;
                ++i;
            }
        }
        return true;
    }
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// ---- the registry over a store of hives ----

const char* hive_name(RegRoot root) {
    switch (root) {
        case RegRoot::LocalMachine: return "HKLM";
        case RegRoot::CurrentUser: return "HKCU";
        case RegRoot::ClassesRoot: return "HKCR";
    }
    return "HKLM";
}

using Mutator = std::function<bool(std::vector<HiveKey>&)>;

class HiveRegistry : public Registry {
public:
    std::optional<RegValue> get(RegRoot root, const std::string& key, const std::string& name) override {
        auto k = normalize_key(key);
        std::vector<HiveKey> keys;
        if (!k || !read(root, keys)) return std::nullopt;
        auto i = find_key(keys, *k);
        if (i < 0) return std::nullopt;
        auto v = find_value(keys[static_cast<std::size_t>(i)], name);
        if (v < 0) return std::nullopt;
        return keys[static_cast<std::size_t>(i)].values[static_cast<std::size_t>(v)].second;
    }

    bool set(RegRoot root, const std::string& key, const std::string& name, const RegValue& value) override {
        auto k = normalize_key(key);
        if (!k) return false;
        return update(root, [&](std::vector<HiveKey>& keys) {
            HiveKey& hk = ensure_key(keys, *k);
            auto v = find_value(hk, name);
            if (v >= 0)
                hk.values[static_cast<std::size_t>(v)].second = value;  // the stored spelling stays
            else
                hk.values.emplace_back(name, value);
            return true;
        });
    }

    bool key_exists(RegRoot root, const std::string& key) override {
        auto k = normalize_key(key);
        std::vector<HiveKey> keys;
        if (!k || !read(root, keys)) return false;
        return k->empty() || find_key(keys, *k) >= 0;
    }

    bool create_key(RegRoot root, const std::string& key) override {
        auto k = normalize_key(key);
        if (!k) return false;
        if (k->empty()) return true;
        return update(root, [&](std::vector<HiveKey>& keys) {
            ensure_key(keys, *k);
            return true;
        });
    }

    bool delete_value(RegRoot root, const std::string& key, const std::string& name) override {
        auto k = normalize_key(key);
        if (!k) return false;
        return update(root, [&](std::vector<HiveKey>& keys) {
            auto i = find_key(keys, *k);
            if (i < 0) return false;
            auto& values = keys[static_cast<std::size_t>(i)].values;
            auto v = find_value(keys[static_cast<std::size_t>(i)], name);
            if (v < 0) return false;
            values.erase(values.begin() + v);
            return true;
        });
    }

    bool delete_key(RegRoot root, const std::string& key) override {
        auto k = normalize_key(key);
        if (!k || k->empty()) return false;
        return update(root, [&](std::vector<HiveKey>& keys) {
            if (find_key(keys, *k) < 0) return false;
            std::erase_if(keys, [&](const HiveKey& hk) { return iequals(hk.path, *k) || is_descendant(hk.path, *k); });
            return true;
        });
    }

    std::vector<std::string> sub_keys(RegRoot root, const std::string& key) override {
        std::vector<std::string> out;
        auto k = normalize_key(key);
        std::vector<HiveKey> keys;
        if (!k || !read(root, keys)) return out;
        for (const auto& hk : keys)
            if (is_child(hk.path, *k)) out.push_back(hk.path.substr(k->empty() ? 0 : k->size() + 1));
        return out;
    }

    std::vector<std::string> value_names(RegRoot root, const std::string& key) override {
        std::vector<std::string> out;
        auto k = normalize_key(key);
        std::vector<HiveKey> keys;
        if (!k || !read(root, keys)) return out;
        auto i = find_key(keys, *k);
        if (i < 0) return out;
        for (const auto& v : keys[static_cast<std::size_t>(i)].values) out.push_back(v.first);
        return out;
    }

protected:
    // The hive's keys; false when it cannot be read or does not parse.
    virtual bool read(RegRoot root, std::vector<HiveKey>& keys) = 0;
    // Reads, applies `change` (false: nothing to do, the call fails) and stores, as one step.
    virtual bool update(RegRoot root, const Mutator& change) = 0;
};

class MemoryRegistry final : public HiveRegistry {
protected:
    bool read(RegRoot root, std::vector<HiveKey>& keys) override {
        std::lock_guard<std::mutex> g(mutex_);
        keys = hives_[static_cast<int>(root)];
        return true;
    }
    bool update(RegRoot root, const Mutator& change) override {
        std::lock_guard<std::mutex> g(mutex_);
        auto copy = hives_[static_cast<int>(root)];
        if (!change(copy)) return false;
        hives_[static_cast<int>(root)] = std::move(copy);
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<HiveKey> hives_[3];
};

bool make_dirs(const std::string& dir, mode_t mode) {
    if (dir.empty()) return false;
    std::string cur;
    std::size_t i = 0;
    while (i <= dir.size()) {
        std::size_t end = dir.find('/', i);
        if (end == std::string::npos) end = dir.size();
        cur = dir.substr(0, end);
        if (!cur.empty() && ::mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) return false;
        i = end + 1;
    }
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes `path` as an empty file, 0666 less the umask, unless something is there. The rewrite
// and the lock then keep that mode instead of making their own.
void create_shared_file(const std::string& path) {
    const UniqueFd made(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

class FileRegistry final : public HiveRegistry {
public:
    // Empty folders: follow paths.h on every call, so a changed TORVANE_ROOT is seen.
    FileRegistry(std::string machine, std::string user) : machine_(std::move(machine)), user_(std::move(user)) {}

protected:
    bool read(RegRoot root, std::vector<HiveKey>& keys) override { return load(hive_path(root), keys); }

    // The machine's hives are shared by every account of the site's group, so what is made for
    // them follows the umask; the user's hive stays in the user's own folder, as it was.
    bool update(RegRoot root, const Mutator& change) override {
        const bool shared = root != RegRoot::CurrentUser;
        std::string dir = folder(root);
        if (!make_dirs(dir, shared ? 0777 : 0755)) return false;
        std::string path = dir + "/" + hive_name(root) + ".reg";
        const std::string lock_path = dir + "/" + hive_name(root) + ".lock";
        if (shared) create_shared_file(lock_path);
        FileLock lock;
        if (!lock.lock(lock_path, true, true)) return false;
        std::vector<HiveKey> keys;
        // A hive that does not parse is kept as it is rather than replaced by a near-empty one.
        if (!load(path, keys) || !change(keys)) return false;
        // An empty hive reads as no hive, so a failed rewrite leaves nothing wrong behind.
        if (shared) create_shared_file(path);
        return atomic_write_file(path, format_hive(keys));
    }

private:
    std::string folder(RegRoot root) const {
        bool user = root == RegRoot::CurrentUser;
        const std::string& fixed = user ? user_ : machine_;
        if (!fixed.empty()) return fixed;
        return user ? user_registry_dir() : machine_registry_dir();
    }
    std::string hive_path(RegRoot root) const { return folder(root) + "/" + hive_name(root) + ".reg"; }

    static bool load(const std::string& path, std::vector<HiveKey>& keys) {
        keys.clear();
        auto text = read_whole_file(path);
        if (!text) {
            struct stat st;
            return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;  // no hive yet: empty
        }
        return parse_hive(*text, keys);
    }

    std::string machine_, user_;
};

std::atomic<Registry*> g_override{nullptr};

}  // namespace

bool parse_hive(const std::string& text, std::vector<HiveKey>& keys) {
    keys.clear();
    if (text.empty()) return true;
    if (text.back() != '\n') return false;  // every line ends with a line end: a cut file is refused
    bool first = true;
    std::ptrdiff_t current = -1;
    for (std::string_view line : split_lines(text)) {
        line = trim(line);
        if (first) {
            if (line != kMagic) return false;
            first = false;
            continue;
        }
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (line.size() < 2 || line.back() != ']') return false;
            auto k = normalize_key(std::string(line.substr(1, line.size() - 2)));
            if (!k) return false;
            ensure_key(keys, *k);  // repeated sections merge; missing parents appear
            current = find_key(keys, *k);
            continue;
        }
        if (current < 0) return false;
        std::string name;
        std::size_t p = 0;
        if (line.front() == '@') {
            p = 1;
        } else if (!get_quoted(line, p, name)) {
            return false;
        }
        if (p >= line.size() || line[p] != '=') return false;
        RegValue value;
        if (!parse_value(line.substr(p + 1), value)) return false;
        HiveKey& hk = keys[static_cast<std::size_t>(current)];
        auto v = find_value(hk, name);
        if (v >= 0)
            hk.values[static_cast<std::size_t>(v)].second = std::move(value);
        else
            hk.values.emplace_back(std::move(name), std::move(value));
    }
    return !first;
}

std::string format_hive(const std::vector<HiveKey>& keys) {
    static const char hex[] = "0123456789abcdef";
    std::string out(kMagic);
    out += "\r\n";
    for (const auto& k : keys) {
        if (k.path.empty() && k.values.empty()) continue;
        out += "\r\n[";
        out += k.path;
        out += "]\r\n";
        for (const auto& [name, v] : k.values) {
            if (name.empty())
                out += '@';
            else
                put_quoted(out, name);
            out += '=';
            switch (v.type) {
                case RegType::String: put_quoted(out, v.text); break;
                case RegType::ExpandString:
                    out += "expand:";
                    put_quoted(out, v.text);
                    break;
                case RegType::Dword: {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.dword));
                    out += buf;
                    break;
                }
                case RegType::Binary:
                    out += "hex:";
                    for (std::size_t i = 0; i < v.bytes.size(); ++i) {
                        unsigned char c = static_cast<unsigned char>(v.bytes[i]);
                        if (i) out += ',';
                        out += hex[c >> 4];
                        out += hex[c & 15];
                    }
                    break;
            }
            out += "\r\n";
        }
    }
    return out;
}

std::unique_ptr<Registry> make_file_registry(const std::string& machine_folder, const std::string& user_folder) {
    return std::make_unique<FileRegistry>(machine_folder, user_folder);
}

std::unique_ptr<Registry> make_memory_registry() { return std::make_unique<MemoryRegistry>(); }

Registry& registry() {
    static const std::unique_ptr<Registry> files = make_file_registry("", "");
    Registry* r = g_override.load(std::memory_order_acquire);
    return r ? *r : *files;
}

void set_registry(Registry* r) { g_override.store(r, std::memory_order_release); }

}  // namespace tv::platform
