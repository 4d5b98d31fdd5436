#include "zip/EntryDecoder.h"

#include <libdeflate.h>

#include <algorithm>

uint8_t encryptionCheckByte(uint16_t flags, uint32_t crc, uint32_t dosDateTime) {
    return static_cast<uint8_t>(flags & 0x08 ? dosDateTime >> 8 : crc >> 24);
}

EntryDecoder::EntryDecoder(size_t outputPiece)
    : outputPiece_(outputPiece), output_(new uint8_t[outputPiece]) {}

EntryDecoder::~EntryDecoder() = default;

bool EntryDecoder::supports(uint16_t method) { return method == 0 || hasMethodDecoder(method); }

int32_t EntryDecoder::start(const EntryParams& params, const char* password) {
    params_ = params;
    headerFill_ = 0;
    storedIn_ = 0;
    written_ = 0;
    crc_ = 0;
    ended_ = false;
    outputFill_ = 0;
    cipher_.reset();
    decoder_ = nullptr;
    password_ = password;
    aesCodeFill_ = 0;
    if (!supports(params.method)) return kZipReadFailed;
    if (params.aesStrength) {
        size_t header = WinZipAesDecryptor::saltSize(params.aesStrength) + WinZipAesDecryptor::kVerifierSize;
        if (!aesFactory_ || header == WinZipAesDecryptor::kVerifierSize) return kZipReadFailed;
        if (!aes_) aes_ = std::make_unique<WinZipAesDecryptor>(aesFactory_());
        // Too short for the salt, verifier and code: nothing to decrypt.
        if (params.compressedSize < header + WinZipAesDecryptor::kCodeSize) return kZipDataError;
        aesDataLeft_ = params.compressedSize - header - WinZipAesDecryptor::kCodeSize;
    } else if (params.encrypted) {
        cipher_.emplace(password);
    }
    if (params.method == 0) return kZipOk;
    auto known = std::find_if(decoders_.begin(), decoders_.end(),
                              [&](const auto& d) { return d.first == params.method; });
    if (known == decoders_.end()) {
        decoders_.emplace_back(params.method, makeMethodDecoder(params.method));
        known = decoders_.end() - 1;
    }
    decoder_ = known->second.get();
    if (!decoder_ || !decoder_->reset(params.uncompressedSize)) return kZipDataError;
    return kZipOk;
}

int32_t EntryDecoder::emit(const uint8_t* data, size_t size, ByteSink& sink) {
    if (size == 0) return kZipOk;
    if (checksCrc()) crc_ = libdeflate_crc32(crc_, data, size);
    written_ += size;
    return sink.write(data, size);
}

int32_t EntryDecoder::flush(ByteSink& sink) {
    int32_t rc = emit(output_.get(), outputFill_, sink);
    outputFill_ = 0;
    return rc;
}

int32_t EntryDecoder::feed(uint8_t* data, size_t size, ByteSink& sink) {
    if (params_.aesStrength) return feedAes(data, size, sink);
    if (params_.encrypted && headerFill_ < kHeaderSize) {
        size_t take = std::min(size, kHeaderSize - headerFill_);
        for (size_t i = 0; i < take; i++) header_[headerFill_++] = cipher_->decryptByte(data[i]);
        data += take;
        size -= take;
        if (headerFill_ < kHeaderSize) return kZipOk;
        if (header_[kHeaderSize - 1] != params_.checkByte) return kZipBadPassword;
    }
    if (size == 0) return kZipOk;
    if (cipher_) cipher_->decrypt(data, size);
    return decodeOrCopy(data, size, sink);
}

int32_t EntryDecoder::decodeOrCopy(uint8_t* data, size_t size, ByteSink& sink) {
    storedIn_ += size;
    if (decoder_) return decodeInput(data, size, sink);
    if (written_ + size > params_.uncompressedSize) return kZipDataError;
    return emit(data, size, sink);
}

int32_t EntryDecoder::feedAes(uint8_t* data, size_t size, ByteSink& sink) {
    size_t header = WinZipAesDecryptor::saltSize(params_.aesStrength) + WinZipAesDecryptor::kVerifierSize;
    if (headerFill_ < header) {
        size_t take = std::min(size, header - headerFill_);
        std::copy(data, data + take, aesHeader_ + headerFill_);
        headerFill_ += take;
        data += take;
        size -= take;
        if (headerFill_ < header) return kZipOk;
        if (int32_t rc = aes_->begin(password_, params_.aesStrength, aesHeader_)) return rc;
    }
    size_t encrypted = static_cast<size_t>(std::min<uint64_t>(size, aesDataLeft_));
    if (encrypted > 0) {
        aesDataLeft_ -= encrypted;
        if (int32_t rc = aes_->decrypt(data, encrypted)) return rc;
        if (int32_t rc = decodeOrCopy(data, encrypted, sink)) return rc;
    }
    // The authentication code follows the encrypted data.
    size_t code = std::min(size - encrypted, WinZipAesDecryptor::kCodeSize - aesCodeFill_);
    std::copy(data + encrypted, data + encrypted + code, aesCode_ + aesCodeFill_);
    aesCodeFill_ += code;
    return size - encrypted > code ? kZipDataError : kZipOk;
}

int32_t EntryDecoder::decodeInput(const uint8_t* data, size_t size, ByteSink& sink) {
    if (ended_) return kZipOk;  // bytes after the end of the stream carry nothing
    for (;;) {
        if (outputFill_ == outputPiece_) {
            if (int32_t rc = flush(sink)) return rc;
        }
        uint8_t* out = output_.get() + outputFill_;
        size_t room = outputPiece_ - outputFill_;
        size_t inBefore = size;
        MethodDecoder::Status status = decoder_->run(data, size, out, room);
        bool moved = size != inBefore || outputPiece_ - room != outputFill_;
        outputFill_ = outputPiece_ - room;
        if (written_ + outputFill_ > params_.uncompressedSize) return kZipDataError;
        if (status == MethodDecoder::Status::ended) {
            ended_ = true;
            return kZipOk;
        }
        if (status == MethodDecoder::Status::failed) return kZipDataError;
        // Output room left over: the decoder wants more input.
        if (room != 0 && size == 0) return kZipOk;
        // Input and room but no step: a decoder that is stuck.
        if (room != 0 && !moved) return kZipDataError;
    }
}

int32_t EntryDecoder::feedDecoded(const uint8_t* data, size_t size, ByteSink& sink) {
    storedIn_ = params_.compressedSize;
    if (written_ + size > params_.uncompressedSize) return kZipDataError;
    // In pieces of the usual size: each is checked and written while it is
    // in the processor's cache.
    for (size_t done = 0; done < size;) {
        size_t piece = std::min(outputPiece_, size - done);
        if (int32_t rc = emit(data + done, piece, sink)) return rc;
        done += piece;
    }
    return kZipOk;
}

int32_t EntryDecoder::finish(ByteSink& sink) {
    if (params_.aesStrength) {
        // Nothing of an entry that fails its code stays: the caller drops
        // what it was given.
        if (aesCodeFill_ != WinZipAesDecryptor::kCodeSize || !aes_->authenticate(aesCode_)) return kZipDataError;
    } else if (params_.encrypted && headerFill_ < kHeaderSize) {
        return kZipDataError;
    }
    if (decoder_ && !ended_) {
        // Some writers store an empty entry as "deflated" with no data at all.
        bool emptyEntry = storedIn_ == 0 && params_.uncompressedSize == 0;
        if (!emptyEntry) return kZipDataError;
    }
    if (int32_t rc = flush(sink)) return rc;
    if (written_ != params_.uncompressedSize) return kZipDataError;
    if (checksCrc() && crc_ != params_.crc) return kZipDataError;
    return kZipOk;
}
