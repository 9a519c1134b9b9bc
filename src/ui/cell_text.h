#pragma once

#include <QString>

#include <string>

namespace palvero {

// Table cells are single-byte text (Latin-1): every byte shows as one character, and a
// cell written back from the window keeps its bytes.
inline QString cellText(const std::string& cell)
{
    return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
}

inline std::string cellBytes(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

} // namespace palvero
