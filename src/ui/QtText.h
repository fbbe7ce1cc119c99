#pragma once

#include <string>

#include <QString>

// The core keeps its texts as UTF-8 bytes; every crossing to and from Qt goes through these two.

// UTF-8 bytes to a QString; invalid sequences become replacement characters.
inline QString ToQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A QString to UTF-8 bytes.
inline std::string FromQt(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
