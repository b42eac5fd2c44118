// The conversions between core strings and Qt's QString. Texts (what files and the user read) are
// Windows-1252 bytes; paths are the file system's own bytes and never pass through Windows-1252,
// so a folder the user picks is the folder the program opens.
#pragma once
#include <QString>
#include <string>
#include <string_view>

namespace tv {

QString to_qstring(std::string_view cp1252);
// Characters with no Windows-1252 form become '?'.
std::string from_qstring(const QString& text);

// A path as the file system spells it (QFile::encodeName); "" stays "".
std::string path_from_qstring(const QString& path);
// A file-system path for Qt to show or open (QFile::decodeName). Bytes that are not valid in the
// file system's encoding show as replacement characters and do not convert back.
QString qstring_from_path(std::string_view path);

}  // namespace tv
