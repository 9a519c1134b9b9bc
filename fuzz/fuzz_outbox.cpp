// Outbox lines after a crash or from other hands, and any text crossing to and from the
// central database: decoded without trusting a byte, and a reading read back is the
// reading written.
#include "cell_codec.h"
#include "outbox.h"
#include "reading_sender.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace palvero::central;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        OutboxReading r;
        if (Outbox::decode(line, r)) {
            OutboxReading again;
            if (!Outbox::decode(Outbox::encode(r), again) || !(again == r))
                __builtin_trap();
            (void)copyLine(r);
        }
        const std::string cell(line);
        const std::string utf8 = databaseText(cell);
        // Every byte but NUL comes back as it was.
        if (!isUtf8(utf8) || (cell.find('\0') == std::string::npos && cellText(utf8) != cell))
            __builtin_trap();
        int replaced = 0;
        (void)cellText(line, &replaced);
    }
    return 0;
}
