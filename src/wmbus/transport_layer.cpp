#include "transport_layer.h"

#include "telegram_layers.h"

namespace palvero {

TransportLayout transportLayout(const ReceiverFrame& f)
{
    return readTelegramLayers(f, static_cast<int>(f.size()) - 1).transport;
}

ConfigurationWord configurationWord(const ReceiverFrame& f, const TransportLayout& t)
{
    if (t.configuration < 0)
        return {};
    return {byteAt(f, t.configuration), byteAt(f, t.configuration + 1)};
}

} // namespace palvero
