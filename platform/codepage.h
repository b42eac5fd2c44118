// Windows-1252 <-> UTF-8. Core text is Windows-1252 bytes; these convert at the edges.
#pragma once
#include <string>
#include <string_view>

namespace tv::platform {

std::string cp1252_to_utf8(std::string_view text);
// Characters with no Windows-1252 form become `replacement`; invalid UTF-8 bytes too.
std::string utf8_to_cp1252(std::string_view text, char replacement = '?');

}  // namespace tv::platform
