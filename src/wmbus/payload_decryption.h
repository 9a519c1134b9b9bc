#pragma once

#include "receiver_frame.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_cipher_st EVP_CIPHER;

namespace palvero {

struct ExtendedLinkLayer;
struct TelegramLayers;
class AesCtr;
class AesCmac;

using AesKey = std::array<uint8_t, 16>;
using AesBlock = std::array<uint8_t, 16>;

// A key text of exactly 32 hexadecimal digits (either case) as 16 bytes; nothing for any
// other text.
std::optional<AesKey> parseKeyText(const std::string& text);

// The "Notes" text for a configuration word: security mode and encrypted block count.
std::string encryptionDescription(uint8_t configurationLow, uint8_t configurationHigh);
// The same into `out`, whose buffer is reused.
void encryptionDescriptionTo(std::string& out, uint8_t configurationLow, uint8_t configurationHigh);

// AES-128 on single blocks with OpenSSL; the CBC chaining and the rule for a final
// partial block are ours. One cipher context per direction serves every telegram.
class AesCbc {
public:
    AesCbc();
    ~AesCbc();
    AesCbc(const AesCbc&) = delete;
    AesCbc& operator=(const AesCbc&) = delete;

    // Decrypts data[0..n) in place: full blocks in CBC; the last 1..15 bytes are combined
    // with the encryption of the last chaining value. False when the cipher fails (data
    // then unchanged).
    bool decrypt(const AesKey& key, const AesBlock& iv, uint8_t* data, size_t n);

private:
    bool setKey(const AesKey& key);
    bool setEncryptKey();
    EVP_CIPHER* m_cipher = nullptr; // fetched once: an implicit fetch per key costs more than the block
    EVP_CIPHER_CTX* m_decrypt = nullptr;
    EVP_CIPHER_CTX* m_encrypt = nullptr;
    AesKey m_key{};
    bool m_keySet = false;
    bool m_encryptKeySet = false; // only a final partial block needs the forward cipher
};

// The counter block of an extended link layer in counter mode: the link layer's M and A
// fields, CC without its repeated (0x10) and hop (0x02) bits, the session number, two
// bytes of frame number and one of block counter, all 0.
AesBlock linkCounterBlock(const ReceiverFrame& f, const ExtendedLinkLayer& ell);

// The input of the mode 7 key derivation: 0x00 (the encryption key from meter to reader),
// the authentication layer's message counter, the meter's identification number (the
// long header's where there is one), then seven bytes 0x07. Nothing without a counter.
std::optional<AesBlock> keyDerivationInput(const ReceiverFrame& f, const TelegramLayers& layers);

// Where the key of a telegram comes from. It is asked only where an encrypted payload
// could be opened, and at most once per layer, so that a lookup in a meters file is made
// only when a telegram needs it.
class PayloadKey {
public:
    virtual ~PayloadKey() = default;
    virtual std::optional<AesKey> key() = 0;
};

// Decrypts a telegram's payload in place before its records are decoded: the extended
// link layer's counter mode first (the payload CRC tells whether the key was right),
// then the transport layer's modes 4, 5 and 7. One set of cipher contexts serves every
// telegram.
class PayloadDecryption {
public:
    PayloadDecryption();
    ~PayloadDecryption();
    PayloadDecryption(const PayloadDecryption&) = delete;
    PayloadDecryption& operator=(const PayloadDecryption&) = delete;

    // True when the payload is readable afterwards: plain from the start, or decrypted to
    // a payload that begins with 0x2F. The layers behind a decrypted extended link layer
    // are read again into `layers`. A wrong key leaves the transport payload garbled, as
    // the meter's bytes through the wrong key are; counter mode is turned back.
    bool decrypt(ReceiverFrame& f, TelegramLayers& layers, PayloadKey& key);

private:
    bool decryptLink(ReceiverFrame& f, TelegramLayers& layers, PayloadKey& key);

    AesCbc m_aes;
    std::unique_ptr<AesCtr> m_ctr;
    std::unique_ptr<AesCmac> m_cmac;
};

} // namespace palvero
