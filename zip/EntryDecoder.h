// Turns an entry's stored bytes into its contents: decrypts them (traditional
// PKWARE encryption or WinZip AES), copies or decompresses them (stored, or any method
// MethodDecoder knows), and checks
// the result against the central directory's sizes and CRC-32. The caller
// feeds the stored bytes in pieces of any size; decoded bytes go to a sink
// in pieces of at most the output size, never past the declared size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "zip/MethodDecoder.h"
#include "zip/TraditionalCipher.h"
#include "zip/WinZipAes.h"
#include "zip/ZipResult.h"

struct EntryParams {
    uint16_t method = 0;            // 0 stored, 8 deflated, ...
    bool encrypted = false;         // general-purpose bit 0 (traditional, unless aesStrength)
    uint8_t aesStrength = 0;        // WinZip AES: 1, 2 or 3 (128, 192, 256 bits); the method is the real one
    bool aesChecksCrc = true;       // AE-1 stores the CRC-32; AE-2 stores 0 and relies on the code
    uint8_t checkByte = 0;          // what the last header byte decrypts to
    uint32_t crc = 0;
    uint64_t compressedSize = 0;    // stored bytes, the 12-byte header included
    uint64_t uncompressedSize = 0;
};

// The check byte is the high byte of the DOS time when the sizes follow the
// data (bit 3), else the high byte of the CRC-32.
uint8_t encryptionCheckByte(uint16_t flags, uint32_t crc, uint32_t dosDateTime);

// Receives decoded bytes; returns 0 or a result code (which ends decoding).
class ByteSink {
public:
    virtual int32_t write(const uint8_t* data, size_t size) = 0;

protected:
    ~ByteSink() = default;
};

class EntryDecoder {
public:
    static constexpr size_t kHeaderSize = 12;

    explicit EntryDecoder(size_t outputPiece = 256 * 1024);
    ~EntryDecoder();
    EntryDecoder(const EntryDecoder&) = delete;
    EntryDecoder& operator=(const EntryDecoder&) = delete;

    // Whether entries compressed with this method can be decoded.
    static bool supports(uint16_t method);

    // Where WinZip AES entries get their primitives; without it they are
    // refused as unsupported.
    void setAesCrypto(AesCryptoFactory factory) { aesFactory_ = factory; }
    bool decryptsAes() const { return aesFactory_ != nullptr; }

    // Prepares for one entry. kZipReadFailed for a method it cannot decode.
    int32_t start(const EntryParams& params, const char* password);

    // Decodes the next stored bytes (decrypting them in place). Returns 0,
    // kZipBadPassword when the encryption header's check byte or AES
    // verifier is wrong (before anything reached the sink), kZipDataError for
    // bad or excess data, or the sink's code.
    int32_t feed(uint8_t* data, size_t size, ByteSink& sink);

    // After the last stored byte: hands over what is still held and checks
    // that the stream ended with exactly the declared size and CRC-32, and
    // an AES entry's authentication code.
    int32_t finish(ByteSink& sink);

    uint64_t bytesOut() const { return written_; }

    // For an entry decompressed elsewhere (a deflate stream decoded on
    // several threads): its bytes, in order, checked and handed over as
    // feed's are, and its end. Then finish as after feed.
    int32_t feedDecoded(const uint8_t* data, size_t size, ByteSink& sink);
    void decodedToEnd() { ended_ = true; }

private:
    // AE-2 stores no CRC-32: its authentication code stands for it.
    bool checksCrc() const { return !params_.aesStrength || params_.aesChecksCrc; }
    int32_t emit(const uint8_t* data, size_t size, ByteSink& sink);
    int32_t flush(ByteSink& sink);
    int32_t decodeInput(const uint8_t* data, size_t size, ByteSink& sink);
    int32_t feedAes(uint8_t* data, size_t size, ByteSink& sink);
    int32_t decodeOrCopy(uint8_t* data, size_t size, ByteSink& sink);

    EntryParams params_;
    std::optional<TraditionalCipher> cipher_;
    AesCryptoFactory aesFactory_ = nullptr;
    std::unique_ptr<WinZipAesDecryptor> aes_;  // made at the first AES entry
    uint8_t aesHeader_[16 + WinZipAesDecryptor::kVerifierSize] = {};
    uint8_t aesCode_[WinZipAesDecryptor::kCodeSize] = {};
    size_t aesCodeFill_ = 0;
    uint64_t aesDataLeft_ = 0;       // encrypted bytes before the code
    uint8_t header_[kHeaderSize] = {};
    size_t headerFill_ = 0;          // encryption header bytes seen (traditional or AES)
    const char* password_ = nullptr;
    uint64_t storedIn_ = 0;          // bytes after the header
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
    bool ended_ = false;             // the compressed stream reached its end
    size_t outputPiece_;
    std::unique_ptr<uint8_t[]> output_;
    size_t outputFill_ = 0;
    // One decoder per method met so far, reset for each entry.
    std::vector<std::pair<uint16_t, std::unique_ptr<MethodDecoder>>> decoders_;
    MethodDecoder* decoder_ = nullptr;  // this entry's; null for a stored one
};
