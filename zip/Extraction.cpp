// Extraction of one entry to disk, through the output path every format
// shares (archive/OutputPath.h): a failed extraction leaves no partial file
// and an existing file of that name untouched.
#include "archive/OutputPath.h"
#include "base/FileSystem.h"
#include "zip/ArchiveFile.h"
#include "zip/ArchiveReader.h"
#include "zip/CngAesCrypto.h"
#include "zip/EntryAttributes.h"
#include "zip/EntryDecoder.h"

int32_t ArchiveReader::extractEntry(int32_t index, const std::wstring& fileName) {
    PreparedEntry p;
    if (int32_t rc = prepareEntry(index, fileName, p)) return rc;
    if (!p.write) return kZipOk;
    int32_t rc = writeEntry(*p.details, p.output, p.folderLength);
    if (rc == kZipOk) p.made.keep();
    return rc;
}

int32_t ArchiveReader::writeEntry(const EntryDetails& entry, const std::wstring& target, size_t folderLength) {
    if (!data_) {
        data_.reset(new DataBuffers);
        data_->decoder.setAesCrypto(makeCngAesCrypto);
    }
    FileStamp stamp;
    stamp.attributes = entry.attributes;
    stamp.creation = entry.creationTime;
    stamp.access = entry.accessTime;
    stamp.modification = entry.modificationTime;
    OutputFile out(stamp, target, folderLength, completedFileHook_, pieceHook_);

    EntryParams params;
    params.method = entry.method;
    if (entry.method == 99) {
        // Without its AES block the entry cannot be decrypted.
        if (!entry.aes) return kZipReadFailed;
        params.method = entry.aes->method;
        params.aesStrength = entry.aes->strength;
        params.aesChecksCrc = entry.aes->vendorVersion != 2;
    }
    params.encrypted = entry.flags & 0x01;
    params.checkByte = encryptionCheckByte(entry.flags, entry.crc, entry.dosDateTime);
    params.crc = entry.crc;
    params.compressedSize = entry.compressedSize;
    params.uncompressedSize = entry.uncompressedSize;
    EntryDecoder& decoder = data_->decoder;
    if (int32_t rc = decoder.start(params, password_ ? password_->c_str() : nullptr)) return rc;

    // The stored bytes are read from the file source in large pieces; the
    // decryption, decompression and checks are ours.
    uint64_t position = entry.dataOffset;
    int32_t rc = kZipOk;
    for (uint64_t left = entry.compressedSize; left > 0 && rc == kZipOk;) {
        size_t want = left < DataBuffers::kInputPiece ? static_cast<size_t>(left) : DataBuffers::kInputPiece;
        size_t got = file_->readAt(position, data_->input.get(), want);
        if (got != want) {
            rc = kZipDataError;  // the archive ends inside the entry
            break;
        }
        position += got;
        left -= got;
        rc = decoder.feed(data_->input.get(), got, out);
        // A cancelled entry goes with its file, as a failed one does.
        if (!rc && pieceHook_ && !pieceHook_(got)) rc = kZipCancelled;
    }
    if (!rc) rc = decoder.finish(out);
    if (!rc) rc = out.commit();
    return rc;
}
