// ZIP behind the archive interface: our own reader (Unzip), passed through.
#pragma once

#include "archive/Archive.h"

class ZipArchive final : public Archive {
public:
    // Null when the file holds no ZIP archive.
    static std::unique_ptr<ZipArchive> open(const std::wstring& path, const char* password);

    ArchiveFormat format() const override { return ArchiveFormat::zip; }
    int32_t entryCount() const override { return zip_.entryCount(); }
    EntryInfo entryInfo(int32_t index) override { return zip_.entryInfo(index); }
    const ArchiveVerdict& verdict() const override { return zip_.verdict(); }
    int32_t setBaseFolder(const std::wstring& folder) override { return zip_.setBaseFolder(folder); }
    int32_t extractEntry(int32_t index, const std::wstring& fileName) override {
        return zip_.extractEntry(index, fileName);
    }
    // On up to `threads` threads, each with a handle of its own; one after
    // the other for one thread, or when the archive gives no second handle.
    void extractEntries(const std::vector<EntryRequest>& entries, unsigned threads, const BatchEvents& events) override {
        if (threads <= 1 || !zip_.extractEntries(entries, threads, events)) Archive::extractEntries(entries, 1, events);
    }
    void setPieceHook(std::function<bool(uint64_t)> hook) override { zip_.setPieceHook(std::move(hook)); }
    void setCompletedFileHook(std::function<bool(const std::wstring&)> hook) override {
        zip_.setCompletedFileHook(std::move(hook));
    }
    void setPassword(const char* password) override { zip_.setPassword(password); }

private:
    ZipArchive() = default;
    Unzip zip_;
};
