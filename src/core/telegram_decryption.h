#pragma once

#include "meter_key_source.h"
#include "meter_table.h"
#include "payload_decryption.h"
#include "reading_settings.h"
#include "receiver_frame.h"

#include <optional>
#include <string>

namespace palvero {

struct TelegramLayers;

// Decrypts a telegram's payload in place before its records are decoded, with the
// master key, the row's key or the meters file's key, and sets the row's Decrypted flag.
// The meters file is asked only when the row has no key of its own; the key it gives is
// written into the row, which keeps it.
class TelegramDecryption {
public:
    TelegramDecryption(MeterTable& table, const ReadingSettings& settings, MeterKeySource* keys);

    // `meterId` is the telegram's meter ID: a row that was just added has none yet, and
    // its first telegram must find its key all the same.
    void decrypt(int row, const std::string& meterId, ReceiverFrame& f);
    // The same with the layers already read; those behind a decrypted extended link layer
    // are read again.
    void decrypt(int row, const std::string& meterId, ReceiverFrame& f, TelegramLayers& layers);

private:
    std::optional<AesKey> keyFor(int row, const std::string& meterId);

    MeterTable& m_table;
    const ReadingSettings& m_settings;
    MeterKeySource* m_keys;
    PayloadDecryption m_payload;
};

} // namespace palvero
