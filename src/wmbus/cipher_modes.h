#pragma once

#include "payload_decryption.h"

#include <cstddef>
#include <cstdint>
#include <optional>

typedef struct evp_mac_st EVP_MAC;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

namespace palvero {

// AES-128 in counter mode: the 16-byte counter block is incremented as one big-endian
// number after every block, and the last block may be short. Encryption and decryption
// are the same operation.
class AesCtr {
public:
    AesCtr();
    ~AesCtr();
    AesCtr(const AesCtr&) = delete;
    AesCtr& operator=(const AesCtr&) = delete;

    // Transforms data[0..n) in place; false when the cipher fails.
    bool apply(const AesKey& key, const AesBlock& counter, uint8_t* data, size_t n);

private:
    EVP_CIPHER* m_cipher = nullptr;
    EVP_CIPHER_CTX* m_context = nullptr;
    AesKey m_key{};
    bool m_keySet = false; // the context holds m_key's schedule: a new counter needs no new one
};

// AES-CMAC (AES-128 under OpenSSL's MAC interface), for the derived keys of security mode 7.
class AesCmac {
public:
    AesCmac();
    ~AesCmac();
    AesCmac(const AesCmac&) = delete;
    AesCmac& operator=(const AesCmac&) = delete;

    std::optional<AesBlock> mac(const AesKey& key, const uint8_t* data, size_t n);

private:
    EVP_MAC* m_mac = nullptr;
    EVP_MAC_CTX* m_context = nullptr;
};

} // namespace palvero
