// Who owns a temporary: a token naming this process so that a later run can tell whether it
// still runs. A process id alone is reused; with the process's start time and the machine's
// boot it names one process for good.
#pragma once
#include <string>
#include <string_view>

namespace tv::platform {

// "<pid>-<start>-<boot>": this process's id, its start in clock ticks since boot, and the
// first eight hex digits of the boot id. Never contains '.' or '/'.
const std::string& own_process_token();

enum class OwnerState {
    Alive,    // that process runs on this machine now
    Gone,     // it ran on this machine since its last boot and has ended
    Unknown,  // another machine or boot, or not a token: nobody here can tell
};
OwnerState owner_state(std::string_view token);

// The token in a temporary's name: the text after `prefix` up to the next '.'; empty when the
// name does not begin with `prefix`.
std::string_view token_after(std::string_view name, std::string_view prefix);

}  // namespace tv::platform
