// BRACKMOR's run from its command line to its exit code.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "brackmor/exit_codes.h"

namespace tv::brackmor {

inline constexpr const char* kVersion = "3.35";

// `args` without the program name; `build_date` and `build_time` go into the usage text. The
// log is written in `log_folder`; questions are answered from `input_fd`.
int run_program(const std::vector<std::string>& args, const std::string& build_date, const std::string& build_time,
                std::FILE* console = stdout, int input_fd = 0, const std::string& log_folder = ".");

}  // namespace tv::brackmor
