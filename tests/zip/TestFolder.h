// Temporary folders and small file helpers for the archive tests under Wine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A fresh folder under the temporary folder, removed with all it holds.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder's path, ending with "\".
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + relative; }

private:
    std::string path_;
};

void removeTree(const std::string& path);

// Every file and folder below folder, relative to it, sorted; folders end with
// "\". So may a file's name in code page 936 (a character's second byte can
// be "\"): where that matters, ask the attributes.
std::vector<std::string> listTree(const std::string& folder);
// The same for names outside the code page and paths of any length; folder
// is absolute, with "\\" only.
std::vector<std::wstring> listTreeWide(const std::wstring& folder);

std::optional<std::string> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& data);
bool makeFolder(const std::string& path);
uint32_t fileAttributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES when missing
// Last-write time as a UTC FILETIME count; 0 when it cannot be read.
uint64_t modificationTime(const std::string& path);

// A Unix time as the UTC FILETIME count a file written with it shows.
uint64_t fileTimeOfUnix(int64_t seconds);
// A local wall-clock time as a UTC FILETIME count.
uint64_t fileTimeOfLocal(int year, int month, int day, int hour, int minute, int second);
// A UTC FILETIME count as the OLE automation date in local time the library reports.
double oleDateOf(uint64_t fileTime);

// A path below the build's fixtures folder (QZ_BINARY_DIR/fixtures), as a
// Windows path through drive Z:.
std::string fixturePath(const std::string& name);
