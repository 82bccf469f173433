#include "tray/app_activation.h"

namespace AppActivation {

void hideFromDock() {}

void activate() {}

} // namespace AppActivation
