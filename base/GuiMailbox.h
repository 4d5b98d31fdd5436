// Hands work from worker threads to the GUI thread. A task is posted, heap
// owned, to a message-only window of the GUI thread; the poster frees it when
// the post fails, the GUI thread when it has run it. Posting never waits.
#pragma once

#include <functional>

// Made and destroyed on the GUI thread. Tasks still queued when the mailbox
// closes are dropped unrun.
bool openGuiMailbox();
void closeGuiMailbox();

// From any thread. False, and the task dropped, when no mailbox is open or
// the post failed.
bool postToGui(std::function<void()> task);
