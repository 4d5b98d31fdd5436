#include "app/ProgramState.h"

#include "app/FolderServices.h"

namespace {
std::unique_ptr<ProgramState> gState;
}

ProgramState& createProgramState() {
    if (!gState) {
        gState = std::make_unique<ProgramState>();
    }
    return *gState;
}

ProgramState& programState() { return createProgramState(); }

void destroyProgramState() {
    if (!gState) return;
    gState->lastArchivePath.clear();
    gState->zipArchive.reset();  // closed with its last reference
    gState->destinationFolder.clear();
    gState.reset();
}

void useDesktopDestination() { useDesktopDestination(programState().destinationFolder); }

void chooseCustomDestination() { chooseCustomDestination(programState().destinationFolder); }
