#pragma once

// Hands the windows the table that connects their events to the
// application's operations.
void bindApplicationEvents();
