#include "app/EventBindings.h"

#include "app/FolderServices.h"
#include "app/detect/FinishedDownload.h"
#include "app/MainWindowFlow.h"
#include "app/OpenFlow.h"
#include "app/ProgramState.h"
#include "app/ReminderFlow.h"
#include "app/ResidentWindow.h"
#include "app/Startup.h"
#include "ui/Forms.h"

namespace {

// Which event of which window, control or menu item runs which operation.
const EventBinding kBindings[] = {
    {FormId::Reminder, nullptr, FormEvent::Created, [](int) { onReminderCreated(); }},
    {FormId::Reminder, nullptr, FormEvent::TrayIcon, [](int operation) { onReminderTray(operation); }},
    {FormId::Reminder, nullptr, FormEvent::CloseBox, [](int) { onReminderDismissed(); }},
    {FormId::Reminder, nullptr, FormEvent::FilesDropped, [](int) { onFilesDropped(); }},
    {FormId::Reminder, nullptr, FormEvent::Destroying, [](int) { onReminderDestroyed(); }},
    onEvent(ReminderControl::kExitItem, FormEvent::Clicked, [](int) { onExitChosen(); }),
    onEvent(ReminderControl::kOpenItem, FormEvent::Clicked, [](int) { onOpenArchiveChosen(); }),
    onEvent(ReminderControl::kSafeOpen, FormEvent::Clicked, [](int) { onReminderOpened(); }),
    {FormId::Main, nullptr, FormEvent::Created, [](int) { onMainCreated(); }},
    // The window's run is stopped and its archive let go before the next one is shown.
    {FormId::Main, nullptr, FormEvent::Destroying, [](int) { onMainDestroyed(); }},
    {FormId::Main, nullptr, FormEvent::Destroying, [](int) { onListingClosed(); }},
    {FormId::Main, nullptr, FormEvent::FilesDropped, [](int) { onFilesDropped(); }},
    onEvent(MainControl::kArchiveFolder, FormEvent::Clicked, [](int) { useArchiveFolderDestination(); }),
    // The destination buttons do nothing while a run is going.
    onEvent(MainControl::kDesktop, FormEvent::Clicked, [](int) {
         if (!extractionRunning()) useDesktopDestination();
     }),
    // The folder browser runs a message loop of its own: a request to end
    // the program waits until it is closed.
    onEvent(MainControl::kCustomFolder, FormEvent::Clicked, [](int) {
         if (extractionRunning()) return;
         const QuitDeferral browsing;
         chooseCustomDestination();
     }),
    onEvent(MainControl::kExtract, FormEvent::Clicked, [](int) { extractArchive(); }),
};

}  // namespace

void bindApplicationEvents() { bindEvents(kBindings); }
