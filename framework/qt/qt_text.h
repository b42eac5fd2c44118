// The one conversion pair between core text (Windows-1252 bytes) and Qt's QString.
#pragma once
#include <QString>
#include <string>
#include <string_view>

namespace tv {

QString to_qstring(std::string_view cp1252);
// Characters with no Windows-1252 form become '?'.
std::string from_qstring(const QString& text);

}  // namespace tv
