// Outbox lines after a crash or from other hands, and any text crossing to and from the
// central database in either code page: decoded without trusting a byte, a reading read
// back is the reading written, and a text crossed and crossed back is the text it was.
#include "cell_codec.h"
#include "outbox.h"
#include "reading_sender.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace palvero::central;
    using palvero::CodePage;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        OutboxReading r;
        const bool reading = Outbox::decode(line, r);
        if (reading) {
            OutboxReading again;
            if (!Outbox::decode(Outbox::encode(r), again) || !(again == r))
                __builtin_trap();
        }
        const bool hasNul = line.find('\0') != std::string_view::npos;
        for (const CodePage page : {CodePage::Windows1251, CodePage::Windows1252}) {
            if (reading)
                (void)copyLine(r, page);
            // Every byte but NUL comes back as it was.
            const std::string utf8 = databaseText(line, page);
            if (!isUtf8(utf8) || (!hasNul && cellText(utf8, page) != std::string(line)))
                __builtin_trap();
            // UTF-8 that the code page holds comes back as it was; what it cannot hold is
            // refused unasked and counted when asked.
            int replaced = 0;
            const std::optional<std::string> strict = cellText(line, page);
            const std::optional<std::string> shown = cellText(line, page, &replaced);
            if (!shown || (strict && (replaced != 0 || *shown != *strict)) || (!strict && replaced == 0))
                __builtin_trap();
            if (strict && !hasNul && databaseText(*strict, page) != line)
                __builtin_trap();
        }
    }
    return 0;
}
