#include "payload_decryption.h"

#include "cipher_modes.h"
#include "crc16.h"
#include "telegram_layers.h"
#include "transport_layer.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace palvero {

namespace {

constexpr int kModeDedicatedIv = 5;
constexpr int kModeZeroIv = 4;
constexpr int kModeDerivedKey = 7;

} // namespace

std::optional<AesKey> parseKeyText(const std::string& text)
{
    if (text.size() != 32)
        return std::nullopt;
    AesKey key{};
    for (size_t i = 0; i < key.size(); ++i) {
        int hi = hexDigitValue(text[2 * i]), lo = hexDigitValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        key[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return key;
}

void encryptionDescriptionTo(std::string& text, uint8_t configurationLow, uint8_t configurationHigh)
{
    text.clear();
    if (configurationLow == 0 && configurationHigh == 0) {
        text.assign("Not encrypted ");
        return;
    }
    switch (ConfigurationWord{configurationLow, configurationHigh}.securityMode()) {
    case kModeDedicatedIv:
        text.assign("AES-128, Mode 5 (Dedicated IV). ");
        break;
    case kModeZeroIv:
        text.assign("AES-128, Mode 4 (Zero IV). ");
        break;
    case 0:
        text.assign("Not encrypted ");
        break;
    default:
        break;
    }
    const int blocks = configurationLow >> 4;
    if (blocks >= 1 && blocks <= 9) {
        text += static_cast<char>('0' + blocks);
        text += " blocks to decrypt. ";
    } else if (blocks >= 10) {
        text += " 1";
        text += static_cast<char>('0' + blocks - 10);
        text += " blocks to decrypt. ";
    }
}

std::string encryptionDescription(uint8_t configurationLow, uint8_t configurationHigh)
{
    std::string text;
    encryptionDescriptionTo(text, configurationLow, configurationHigh);
    return text;
}

AesCbc::AesCbc()
    : m_cipher(EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr))
    , m_decrypt(EVP_CIPHER_CTX_new())
    , m_encrypt(EVP_CIPHER_CTX_new())
{
}

AesCbc::~AesCbc()
{
    EVP_CIPHER_CTX_free(m_decrypt);
    EVP_CIPHER_CTX_free(m_encrypt);
    EVP_CIPHER_free(m_cipher);
}

bool AesCbc::setKey(const AesKey& key)
{
    if (m_keySet && key == m_key)
        return true;
    m_keySet = false;
    m_encryptKeySet = false;
    if (!m_cipher || !m_decrypt || !m_encrypt)
        return false;
    // The context keeps its cipher after the first use; a new key then only re-keys it.
    const EVP_CIPHER* cipher = EVP_CIPHER_CTX_get0_cipher(m_decrypt) ? nullptr : m_cipher;
    if (EVP_DecryptInit_ex(m_decrypt, cipher, nullptr, key.data(), nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(m_decrypt, 0);
    m_key = key;
    m_keySet = true;
    return true;
}

bool AesCbc::setEncryptKey()
{
    if (m_encryptKeySet)
        return true;
    const EVP_CIPHER* cipher = EVP_CIPHER_CTX_get0_cipher(m_encrypt) ? nullptr : m_cipher;
    if (EVP_EncryptInit_ex(m_encrypt, cipher, nullptr, m_key.data(), nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(m_encrypt, 0);
    m_encryptKeySet = true;
    return true;
}

bool AesCbc::decrypt(const AesKey& key, const AesBlock& iv, uint8_t* data, size_t n)
{
    if (!setKey(key))
        return false;
    const size_t full = n / 16 * 16;
    uint8_t plain[256 + 16];
    uint8_t* out = plain;
    std::unique_ptr<uint8_t[]> large;
    if (full > 256) {
        large.reset(new uint8_t[full + 16]);
        out = large.get();
    }
    int written = 0;
    if (full > 0 && (EVP_DecryptUpdate(m_decrypt, out, &written, data, static_cast<int>(full)) != 1
                     || written != static_cast<int>(full)))
        return false;

    // The chaining value of the partial block is the last full cipher block, or the IV.
    AesBlock chain = iv;
    if (full > 0)
        std::copy(data + full - 16, data + full, chain.begin());
    AesBlock stream{};
    if (n > full) {
        int streamLength = 0;
        if (!setEncryptKey())
            return false;
        if (EVP_EncryptUpdate(m_encrypt, stream.data(), &streamLength, chain.data(), 16) != 1 || streamLength != 16)
            return false;
    }

    for (size_t b = 0; b < full; b += 16) {
        const uint8_t* previous = b == 0 ? iv.data() : data + b - 16;
        for (size_t i = 0; i < 16; ++i)
            out[b + i] ^= previous[i];
    }
    std::copy(out, out + full, data);
    for (size_t i = full; i < n; ++i)
        data[i] ^= stream[i - full];
    return true;
}

AesBlock linkCounterBlock(const ReceiverFrame& f, const ExtendedLinkLayer& ell)
{
    AesBlock counter{};
    for (int i = 0; i < 8; ++i)
        counter[static_cast<size_t>(i)] = byteAt(f, frame::kManufacturer + i);
    counter[8] = static_cast<uint8_t>(byteAt(f, ell.communicationControl) & ~0x12);
    for (int i = 0; i < 4; ++i)
        counter[static_cast<size_t>(9 + i)] = byteAt(f, ell.sessionNumber + i);
    return counter;
}

std::optional<AesBlock> keyDerivationInput(const ReceiverFrame& f, const TelegramLayers& layers)
{
    const int counter = layers.auth.messageCounter;
    if (counter < 0 || counter + 3 > layers.dataEnd)
        return std::nullopt;
    const int id = layers.transport.longHeader >= 0 ? layers.transport.longHeader : frame::kId;
    AesBlock input{};
    input[0] = 0x00;
    for (int i = 0; i < 4; ++i) {
        input[static_cast<size_t>(1 + i)] = byteAt(f, counter + i);
        input[static_cast<size_t>(5 + i)] = byteAt(f, id + i);
    }
    std::fill(input.begin() + 9, input.end(), 0x07);
    return input;
}

PayloadDecryption::PayloadDecryption()
    : m_ctr(std::make_unique<AesCtr>())
    , m_cmac(std::make_unique<AesCmac>())
{
}

PayloadDecryption::~PayloadDecryption() = default;

bool PayloadDecryption::decryptLink(ReceiverFrame& f, TelegramLayers& layers, PayloadKey& keys)
{
    const ExtendedLinkLayer& ell = layers.link;
    if (layers.readable)
        return true;
    if (ell.encryption != 1 || ell.payloadCrc > layers.dataEnd)
        return false;
    const std::optional<AesKey> key = keys.key();
    if (!key)
        return false;
    // Counter mode is its own inverse: a wrong key's output is turned back at once, so
    // the frame stays as it was received.
    uint8_t* payload = f.data() + ell.payloadCrc;
    const size_t n = static_cast<size_t>(layers.dataEnd - ell.payloadCrc + 1);
    const AesBlock counter = linkCounterBlock(f, ell);
    if (!m_ctr->apply(*key, counter, payload, n))
        return false;
    if (!linkPayloadCrcMatches(f, ell, layers.dataEnd)) {
        m_ctr->apply(*key, counter, payload, n);
        return false;
    }
    rereadAfterLinkDecryption(f, layers);
    return layers.readable;
}

bool PayloadDecryption::decrypt(ReceiverFrame& f, TelegramLayers& layers, PayloadKey& keys)
{
    if (!layers.readable && !decryptLink(f, layers, keys))
        return false;
    const TransportLayout& t = layers.transport;
    const ConfigurationWord word = configurationWord(f, t);
    if (!word.encrypted())
        return true;
    const int mode = word.securityMode();
    if (mode != kModeDedicatedIv && mode != kModeZeroIv && mode != kModeDerivedKey)
        return false;

    const int first = t.payload;
    const size_t length = static_cast<size_t>(layers.payloadLength());
    // Meters may send plain records after their encrypted blocks: only the blocks that the
    // configuration counts are decrypted, when they fit. Otherwise the whole payload is.
    const size_t counted = static_cast<size_t>(word.encryptedBlocks()) * 16;
    const size_t decrypted = counted > 0 && counted <= length ? counted : length;

    AesBlock iv{};
    if (mode == kModeDedicatedIv) {
        // Manufacturer, ID, version and type of the meter itself: from the long header
        // where there is one (a radio converter's link address is not the meter's).
        if (t.longHeader >= 0) {
            const int h = t.longHeader;
            const int order[8] = {h + 4, h + 5, h, h + 1, h + 2, h + 3, h + 6, h + 7};
            for (int i = 0; i < 8; ++i)
                iv[static_cast<size_t>(i)] = byteAt(f, order[i]);
        } else {
            for (int i = 0; i < 8; ++i)
                iv[static_cast<size_t>(i)] = byteAt(f, frame::kManufacturer + i);
        }
        std::fill(iv.begin() + 8, iv.end(), byteAt(f, t.accessNumber));
    }

    // The key is asked for before the payload is looked at: a meters file's key is then
    // taken into the row even for a payload that needs none.
    std::optional<AesKey> key = keys.key();
    if (length > 0 && f[static_cast<size_t>(first)] == 0x2F)
        return true;
    if (!key || length == 0)
        return false;
    if (mode == kModeDerivedKey) {
        // Bits 4-5 of the extension byte: 0 the meter's key itself, 1 a key derived for
        // this message from the authentication layer's counter.
        const int derivation = (byteAt(f, layers.configurationExtension) >> 4) & 0x03;
        if (derivation == 1) {
            const std::optional<AesBlock> input = keyDerivationInput(f, layers);
            if (!input)
                return false;
            key = m_cmac->mac(*key, input->data(), input->size());
            if (!key)
                return false;
        } else if (derivation != 0) {
            return false;
        }
    }
    if (!m_aes.decrypt(*key, iv, f.data() + first, decrypted))
        return false;
    return f[static_cast<size_t>(first)] == 0x2F;
}

} // namespace palvero
