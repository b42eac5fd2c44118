// BRACKMOR: checks and repairs an archive group's indexes from the command line.
#include <string>
#include <vector>

#include "brackmor/program.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return tv::brackmor::run_program(args, __DATE__, __TIME__);
}
