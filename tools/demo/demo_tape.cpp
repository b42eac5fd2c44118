#include "tools/demo/demo_tape.h"

#include "common/files.h"
#include "platform/paths.h"
#include "tools/tapegen/tapegen.h"

namespace tv::demo {

std::string demo_tape_path() { return platform::machine_dir() + "/demo/tape.trace"; }

bool make_demo_tape(std::string* error) {
    const std::string path = demo_tape_path();
    if (file_exists(path)) return true;
    if (!create_folder_path(get_path_folder(path))) {
        if (error) *error = "cannot make the folder of " + path;
        return false;
    }
    tapegen::Options tape;
    tape.type = 2;        // Wendle 3, the second entry of Tape Options
    tape.packets = 6144;  // 150 samples each: two hours
    tapegen::Expected expected;
    std::string why;
    if (!tapegen::generate(tape, path, expected, why) || !tapegen::write_expected(path + ".expect", expected)) {
        if (error) *error = why.empty() ? "cannot write " + path : why;
        return false;
    }
    return true;
}

}  // namespace tv::demo
