#include "central_config.h"

#include "ini_document.h"

namespace palvero::central {

CentralConfig readCentralConfig(const std::filesystem::path& iniFile)
{
    CentralConfig c;
    const IniDocument doc = IniDocument::load(iniFile).value_or(IniDocument());
    c.database = doc.value(kCentralSection, "CentralDatabase").value_or("");
    c.laptop = doc.value(kCentralSection, "CentralLaptop").value_or("");
    const auto send = parseIniInteger(doc.value(kCentralSection, "CentralSendOnStop").value_or(""));
    c.sendOnStop = send && *send != 0;
    return c;
}

} // namespace palvero::central
