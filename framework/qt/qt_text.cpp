#include "framework/qt/qt_text.h"

#include <QFile>

#include "platform/codepage.h"

namespace tv {

QString to_qstring(std::string_view cp1252) {
    const std::string utf8 = platform::cp1252_to_utf8(cp1252);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string from_qstring(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return platform::utf8_to_cp1252(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

std::string path_from_qstring(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString qstring_from_path(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

}  // namespace tv
