// The bounds on libarchive's allocations (AllocationBounds.c), linked into
// the Windows builds, whose libarchive calls them instead of malloc and
// liblzma's decoder set-up.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Whether a bound refused an allocation or a dictionary on this thread since
// the last call; clears the mark.
int qz_archive_take_refusal(void);

#ifdef __cplusplus
}
#endif
