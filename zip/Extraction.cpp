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
#include "zip/ParallelInflate.h"

#include <memory>
#include <thread>

namespace {

// Deflate entries from this size on are decoded on several threads, where
// the machine has them: below it, a piece or two would not pay for the
// threads.
constexpr uint64_t kParallelInflateFrom = 16 * 1024 * 1024;

unsigned inflateThreads() { return std::min(4u, std::thread::hardware_concurrency()); }

// Reads the entry's stored bytes through file, which the reader keeps open
// as long as it is owned (a reopened one) or the archive does.
InflateReader readerOf(std::shared_ptr<ArchiveFile> file, uint64_t dataOffset) {
    return [file, dataOffset](uint64_t offset, uint8_t* buffer, size_t size) {
        return file->readAt(dataOffset + offset, buffer, size) == size;
    };
}

}  // namespace

int32_t ArchiveReader::inflateEntryInParallel(const EntryDetails& entry, EntryDecoder& decoder, ByteSink& out) {
    ParallelInflateIo io;
    io.read = readerOf(std::shared_ptr<ArchiveFile>(std::shared_ptr<void>(), file_), entry.dataOffset);
    io.openReader = [this, &entry]() -> InflateReader {
        std::shared_ptr<ArchiveFile> other = file_->reopen();
        return other ? readerOf(std::move(other), entry.dataOffset) : InflateReader();
    };
    io.emit = [&](const uint8_t* data, size_t size) { return decoder.feedDecoded(data, size, out); };
    io.progress = [this](uint64_t bytes) { return !pieceHook_ || pieceHook_(bytes); };
    ParallelInflateOptions options;
    options.threads = inflateThreads();
    int32_t rc = inflateInParallel(entry.compressedSize, io, options);
    if (!rc) decoder.decodedToEnd();
    return rc;
}

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
    bool parallel = params.method == 8 && !params.encrypted && !params.aesStrength &&
                    entry.compressedSize >= kParallelInflateFrom && inflateThreads() > 1;
    if (parallel) rc = inflateEntryInParallel(entry, decoder, out);
    for (uint64_t left = parallel ? 0 : entry.compressedSize; left > 0 && rc == kZipOk;) {
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
