// Settings files and meters files from older versions or other hands, and CSV files to
// import: the INI form, the fixed records and the import readers are read without trusting
// a byte of them.
#include "error_log.h"
#include "import_readers.h"
#include "ini_document.h"
#include "meters_file.h"
#include "settings.h"
#include "settings_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    palvero::IniDocument doc(text);
    palvero::Settings settings;
    palvero::loadSettings(settings, doc);
    doc.setValue("Com port", "Speed", "9600");
    doc.setValue("New section", "Key", "1");
    (void)doc.text();

    for (size_t at = 0; at + palvero::MeterKeyRecord::kSize <= size; at += palvero::MeterKeyRecord::kSize) {
        auto record = palvero::MeterKeyRecord::decode(data + at);
        auto again = palvero::MeterKeyRecord::decode(record.encode().data());
        if (!(again == record))
            __builtin_trap();
    }

    fuzzImportReaders(data, size);
    return 0;
}
