#include "fixed_text.h"

#include <algorithm>
#include <cstring>

namespace palvero {

void writeFixedText(std::uint8_t* field, std::size_t capacity, std::string_view text)
{
    const std::size_t length = std::min(text.size(), capacity);
    field[0] = static_cast<std::uint8_t>(length);
    std::memcpy(field + 1, text.data(), length);
    std::memset(field + 1 + length, 0, capacity - length);
}

std::string_view readFixedText(const std::uint8_t* field, std::size_t capacity)
{
    const std::size_t length = std::min<std::size_t>(field[0], capacity);
    return {reinterpret_cast<const char*>(field + 1), length};
}

} // namespace palvero
