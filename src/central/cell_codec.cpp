#include "cell_codec.h"

namespace palvero::central {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

std::string databaseText(std::string_view cell, CodePage page)
{
    std::string out;
    out.reserve(cell.size());
    for (;;) {
        const size_t nul = cell.find('\0');
        out += codePageToUtf8(cell.substr(0, nul), page);
        if (nul == std::string_view::npos)
            return out;
        out += kReplacement;
        cell.remove_prefix(nul + 1);
    }
}

std::optional<std::string> cellText(std::string_view utf8, CodePage page, int* replaced)
{
    std::string out;
    if (!replaced)
        return utf8ToCodePage(utf8, page, out) ? std::optional<std::string>(std::move(out)) : std::nullopt;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const char32_t c = decodeUtf8(utf8, at);
        // U+FFFD itself has no byte in either code page, so a character the decoder gives
        // for bytes that are no UTF-8 is counted like any other that cannot be held.
        const std::optional<std::uint8_t> byte = codePageByte(page, c);
        if (byte) {
            out += static_cast<char>(*byte);
        } else {
            out += '?';
            ++*replaced;
        }
    }
    return out;
}

bool isUtf8(std::string_view bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        const size_t from = at;
        if (decodeUtf8(bytes, at) == 0xFFFD && bytes.substr(from, at - from) != kReplacement)
            return false;
    }
    return true;
}

} // namespace palvero::central
