// AesCrypto through Windows' CNG (bcrypt.dll), which Wine provides too; the
// AES blocks, the HMAC-SHA1 and the key derivation on the processor's
// instructions where it has them.
#include "zip/CngAesCrypto.h"

#include <windows.h>
#include <bcrypt.h>

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

class CngAesCrypto final : public AesCrypto {
public:
    CngAesCrypto() {
        if (!succeeded(::BCryptOpenAlgorithmProvider(&hmac_, BCRYPT_SHA1_ALGORITHM, nullptr,
                                                     BCRYPT_ALG_HANDLE_HMAC_FLAG)))
            hmac_ = nullptr;
        if (succeeded(::BCryptOpenAlgorithmProvider(&aes_, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
            ecb_ = succeeded(::BCryptSetProperty(aes_, BCRYPT_CHAINING_MODE,
                                                 reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                                                 sizeof BCRYPT_CHAIN_MODE_ECB, 0));
        } else {
            aes_ = nullptr;
        }
    }

    ~CngAesCrypto() override {
        dropKeys();
        if (aes_) ::BCryptCloseAlgorithmProvider(aes_, 0);
        if (hmac_) ::BCryptCloseAlgorithmProvider(hmac_, 0);
    }

    bool deriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize, uint8_t* out,
                   size_t outSize) override {
        // CNG's derivation took 2.5 ms under Wine, more than a small
        // entry's data.
        if (ProcessorHmacSha1::available()) {
            ProcessorHmacSha1::deriveKey(password, passwordSize, salt, saltSize, 1000, out, outSize);
            return true;
        }
        return hmac_ && succeeded(::BCryptDeriveKeyPBKDF2(hmac_, const_cast<PUCHAR>(password),
                                                           static_cast<ULONG>(passwordSize), const_cast<PUCHAR>(salt),
                                                           static_cast<ULONG>(saltSize), 1000, out,
                                                           static_cast<ULONG>(outSize), 0));
    }

    bool setKeys(const uint8_t* aesKey, size_t aesKeySize, const uint8_t* macKey, size_t macKeySize) override {
        dropKeys();
        if (!hmac_) return false;
        if (processor_.setKey(aesKey, aesKeySize)) {
            onProcessor_ = true;
        } else if (!aes_ || !ecb_ ||
                   !succeeded(::BCryptGenerateSymmetricKey(aes_, &key_, nullptr, 0, const_cast<PUCHAR>(aesKey),
                                                    static_cast<ULONG>(aesKeySize), 0))) {
            key_ = nullptr;
            return false;
        }
        if (ProcessorHmacSha1::available()) {
            processorMac_.start(macKey, macKeySize);
            macOnProcessor_ = true;
        } else if (!succeeded(::BCryptCreateHash(hmac_, &mac_, nullptr, 0, const_cast<PUCHAR>(macKey),
                                                 static_cast<ULONG>(macKeySize), 0))) {
            mac_ = nullptr;
            return false;
        }
        return true;
    }

    bool encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) override {
        if (onProcessor_) {
            processor_.encryptBlocks(in, out, size);
            return size % 16 == 0;
        }
        ULONG done = 0;
        return key_ && succeeded(::BCryptEncrypt(key_, const_cast<PUCHAR>(in), static_cast<ULONG>(size), nullptr,
                                                 nullptr, 0, out, static_cast<ULONG>(size), &done, 0)) &&
               done == size;
    }

    bool macUpdate(const uint8_t* data, size_t size) override {
        if (macOnProcessor_) {
            processorMac_.update(data, size);
            return true;
        }
        return mac_ && succeeded(::BCryptHashData(mac_, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0));
    }

    bool macFinish(uint8_t out[20]) override {
        if (macOnProcessor_) {
            processorMac_.finish(out);
            macOnProcessor_ = false;  // a code is finished once, as CNG's
            return true;
        }
        return mac_ && succeeded(::BCryptFinishHash(mac_, out, 20, 0));
    }

private:
    void dropKeys() {
        if (key_) ::BCryptDestroyKey(key_);
        if (mac_) ::BCryptDestroyHash(mac_);
        key_ = nullptr;
        mac_ = nullptr;
        onProcessor_ = false;
        macOnProcessor_ = false;
    }

    BCRYPT_ALG_HANDLE hmac_ = nullptr, aes_ = nullptr;
    bool ecb_ = false;
    BCRYPT_KEY_HANDLE key_ = nullptr;
    ProcessorAes processor_;
    bool onProcessor_ = false;  // this key's blocks are the processor's
    ProcessorHmacSha1 processorMac_;
    bool macOnProcessor_ = false;  // and so is its code
    BCRYPT_HASH_HANDLE mac_ = nullptr;
};

}  // namespace

std::unique_ptr<AesCrypto> makeCngAesCrypto() { return std::make_unique<CngAesCrypto>(); }
