#include "cipher_modes.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <climits>

namespace palvero {

AesCtr::AesCtr()
    : m_cipher(EVP_CIPHER_fetch(nullptr, "AES-128-CTR", nullptr))
    , m_context(EVP_CIPHER_CTX_new())
{
}

AesCtr::~AesCtr()
{
    EVP_CIPHER_CTX_free(m_context);
    EVP_CIPHER_free(m_cipher);
}

bool AesCtr::apply(const AesKey& key, const AesBlock& counter, uint8_t* data, size_t n)
{
    if (!m_cipher || !m_context || n > INT_MAX)
        return false;
    if (!m_keySet || key != m_key) {
        m_keySet = false;
        // The context keeps its cipher after the first use; a new key then only re-keys it.
        const EVP_CIPHER* cipher = EVP_CIPHER_CTX_get0_cipher(m_context) ? nullptr : m_cipher;
        if (EVP_EncryptInit_ex(m_context, cipher, nullptr, key.data(), counter.data()) != 1)
            return false;
        m_key = key;
        m_keySet = true;
    } else if (EVP_EncryptInit_ex(m_context, nullptr, nullptr, nullptr, counter.data()) != 1) {
        return false;
    }
    int written = 0;
    if (n > 0 && (EVP_EncryptUpdate(m_context, data, &written, data, static_cast<int>(n)) != 1
                  || written != static_cast<int>(n)))
        return false;
    return true;
}

AesCmac::AesCmac()
    : m_mac(EVP_MAC_fetch(nullptr, "CMAC", nullptr))
    , m_context(m_mac ? EVP_MAC_CTX_new(m_mac) : nullptr)
{
}

AesCmac::~AesCmac()
{
    EVP_MAC_CTX_free(m_context);
    EVP_MAC_free(m_mac);
}

std::optional<AesBlock> AesCmac::mac(const AesKey& key, const uint8_t* data, size_t n)
{
    if (!m_context)
        return std::nullopt;
    char cipher[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                                 OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(m_context, key.data(), key.size(), params) != 1)
        return std::nullopt;
    if (n > 0 && EVP_MAC_update(m_context, data, n) != 1)
        return std::nullopt;
    AesBlock out{};
    size_t length = 0;
    if (EVP_MAC_final(m_context, out.data(), &length, out.size()) != 1 || length != out.size())
        return std::nullopt;
    return out;
}

} // namespace palvero
