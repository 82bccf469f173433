#include "tray/app_activation.h"

#import <AppKit/AppKit.h>

namespace AppActivation {

void hideFromDock()
{
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
}

void activate()
{
    [NSApp activateIgnoringOtherApps:YES];
}

} // namespace AppActivation
