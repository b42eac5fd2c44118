// Writers of shared files driven through a fixed cycle of known contents, so that a process that
// watches one (and kills it, or starves it of space) can tell a whole version from a torn one.
//
// Each scenario owns one file in a folder. Its states 0 .. period-1 each have exact bytes; a step
// moves the file from one state to the next through the real writer (a rewrite or an append).
// Whatever happens to a step, the file must afterwards be in the state before it or after it.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tv::crash {

class Scenario {
public:
    virtual ~Scenario() = default;
    virtual const char* name() const = 0;
    virtual int period() const = 0;
    int next(int state) const { return (state + 1) % period(); }

    // The file the writer changes.
    virtual std::string file_path(const std::string& folder) const = 0;
    // The exact bytes of a state.
    virtual std::string expected(int state) const = 0;
    // True when the real reader sees exactly the content of `state` (entries, names, checksum).
    virtual bool reader_agrees(const std::string& folder, int state) const = 0;
    // Moves the file from `from` to next(from) through the real writer; false when the writer
    // reported failure.
    virtual bool step(const std::string& folder, int from) const = 0;

    // Writes state 0 (without the writer under test).
    bool prepare(const std::string& folder) const;
    // The state the file is in: its bytes are exactly one state's and the reader agrees. Nullopt
    // for anything else (a torn, mixed or unreadable file).
    std::optional<int> identify(const std::string& folder) const;
};

// "archinfo" (ARCHINFO.DAT rewrites), "generations" (the same replaced with generations), "archdir" (ARCHDIR.DAT appends and a rewrite), "device"
// (DEVICE.DAT rewrites through add/remove), "hive" (registry hive rewrites). Null when unknown.
const Scenario* find_scenario(std::string_view name);
std::vector<const Scenario*> all_scenarios();

// An archive step's outcome; its message goes to the console, as the archive's own used to.
bool shown(const Result<void>& result);

// Numbered records appended by one writer: description "<tag> <n>".
std::string record_text(std::string_view tag, int n);
// Parses "<tag> <n>"; false for anything else.
bool parse_record_text(std::string_view text, std::string& tag, int& n);

// Files that a killed atomic rewrite may leave beside `file` (".<name>.tmp.*"), as names.
std::vector<std::string> leftover_temp_files(const std::string& folder);

}  // namespace tv::crash
