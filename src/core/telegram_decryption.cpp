#include "telegram_decryption.h"

#include "telegram_layers.h"

namespace palvero {

TelegramDecryption::TelegramDecryption(MeterTable& table, const ReadingSettings& settings, MeterKeySource* keys)
    : m_table(table)
    , m_settings(settings)
    , m_keys(keys)
{
}

std::optional<AesKey> TelegramDecryption::keyFor(int row, const std::string& meterId)
{
    if (m_settings.UseMaster)
        return parseKeyText(m_settings.MasterKey);
    if (m_settings.UseDBMeters && m_keys && m_table.cell(row, col::EncryptionKey).empty()) {
        MeterKeyLookup found = m_keys->findMeterKey(meterId);
        if (found.index != -1 && found.found)
            m_table.setCell(row, col::EncryptionKey, found.key);
    }
    return parseKeyText(m_table.cell(row, col::EncryptionKey));
}

void TelegramDecryption::decrypt(int row, const std::string& meterId, ReceiverFrame& f)
{
    TelegramLayers layers = readTelegramLayers(f, m_settings);
    decrypt(row, meterId, f, layers);
}

void TelegramDecryption::decrypt(int row, const std::string& meterId, ReceiverFrame& f, TelegramLayers& layers)
{
    struct RowKey : PayloadKey {
        TelegramDecryption& d;
        int row;
        const std::string& meterId;
        RowKey(TelegramDecryption& decryption, int r, const std::string& id)
            : d(decryption)
            , row(r)
            , meterId(id)
        {
        }
        std::optional<AesKey> key() override { return d.keyFor(row, meterId); }
    } key(*this, row, meterId);
    m_table.setFlag(RowFlag::Decrypted, row, false);
    m_table.setFlag(RowFlag::Decrypted, row, m_payload.decrypt(f, layers, key));
}

} // namespace palvero
