#pragma once

namespace Platform {
// Picks the event dispatcher before the application object exists.
void selectEventDispatcher();
}
