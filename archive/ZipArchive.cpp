#include "archive/ZipArchive.h"

std::unique_ptr<ZipArchive> ZipArchive::open(const std::wstring& path, const char* password) {
    std::unique_ptr<ZipArchive> archive(new ZipArchive);
    if (!archive->zip_.open(path, password)) return nullptr;
    return archive;
}
