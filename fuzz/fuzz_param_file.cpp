// Parameter files ("/paramfile"): their tokens join the command line, which the operand walkers
// then read as the dispatcher does (show state, actions, the first pass's flags).
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/tolbex_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("params") + "PARAMS.TXT";
    tv::fuzz::put_file(path, data, size);
    // The file named twice, and once by itself from inside: its tokens are not searched again.
    std::vector<std::string> args{"/paramfile", path, "/hidden", "/paramfile", path};
    tv::expand_parameter_files(args);
    bool preview = false;
    (void)tv::prescan_show_state(args, preview);
    (void)tv::has_command_line_action(args);
    tv::CommandLineFlags flags;
    (void)tv::read_command_line_flags(args, flags);
    return 0;
}
