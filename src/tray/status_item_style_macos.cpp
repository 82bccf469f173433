#include "tray/status_item_style.h"

StatusItemStyle StatusItemStyle::ofThisSystem()
{
    return {.menuOnSecondaryClickOnly = true, .neutralIconsAreTemplates = true};
}
