#include "app/ProgramState.h"

#include "app/FolderServices.h"

namespace {
std::unique_ptr<ProgramState> gState;
}

ProgramState& createProgramState() {
    if (!gState) {
        gState = std::make_unique<ProgramState>();
        gState->zipArchive = std::make_shared<ZIP解压>();
    }
    return *gState;
}

ProgramState& programState() { return createProgramState(); }

void destroyProgramState() {
    if (!gState) return;
    gState->lastArchivePath.clear();
    if (gState->zipArchive) {
        gState->zipArchive->close();
        gState->zipArchive.reset();
    }
    gState->destinationFolder.clear();
    gState.reset();
}

void useDesktopDestination() { useDesktopDestination(programState().destinationFolder); }

void chooseCustomDestination() { chooseCustomDestination(programState().destinationFolder); }
