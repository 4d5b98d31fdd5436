#include "app/ProgramState.h"

#include <gtest/gtest.h>

#include "app/FolderServices.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

// The archive the fixture made with Info-ZIP, as a Windows path.
std::wstring fixtureArchive() {
    const char* bin = getenv("QZ_BINARY_DIR");
    std::wstring path = L"Z:" + utf8ToWide(bin ? bin : "") + L"/app-state/two.zip";
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Whether this process could open the file with no sharing at all, which
// fails while anyone else holds it open.
bool openExclusively(const std::wstring& path) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return bool(f);
}

}  // namespace

TEST(ProgramState, StartsEmptyWithNoArchive) {
    ProgramState& state = createProgramState();
    EXPECT_EQ(&createProgramState(), &state);
    EXPECT_EQ(&programState(), &state);
    EXPECT_EQ(state.lastArchivePath, L"");
    EXPECT_EQ(state.destinationFolder, L"");
    EXPECT_EQ(state.listedEntryCount, 0);
    EXPECT_FALSE(state.zipArchive);
    destroyProgramState();
    destroyProgramState();
}

TEST(ProgramState, ReleaseClosesTheOpenArchive) {
    std::wstring archive = fixtureArchive();
    ASSERT_TRUE(openExclusively(archive)) << archive;
    ProgramState& state = createProgramState();
    state.lastArchivePath = archive;
    state.zipArchive = openArchive(archive);
    ASSERT_TRUE(state.zipArchive);
    EXPECT_EQ(state.zipArchive->entryCount(), 2);
    EXPECT_FALSE(openExclusively(archive)) << "the archive is held open while it is the program's archive";
    destroyProgramState();
    EXPECT_TRUE(openExclusively(archive));
    // A new state starts from its initial values again.
    EXPECT_EQ(programState().lastArchivePath, L"");
    destroyProgramState();
}

TEST(ProgramState, DestinationButtonsWriteTheDestination) {
    useDesktopDestination();
    EXPECT_EQ(programState().destinationFolder, specialFolderPath(kFolderDesktop));
    destroyProgramState();
}
