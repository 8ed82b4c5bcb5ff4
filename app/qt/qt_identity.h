// The program's identity as Qt holds it: its name, version and window icon.
#pragma once

#include "app_identity.h"

class QIcon;

namespace quorvane {

// The window icon, 32 x 32 and 16 x 16, compiled in from app/icons.
QIcon applicationIcon();

// Name, version and window icon of the running QApplication. No display name is set, since
// the platform would append it to every window caption.
void applyApplicationIdentity();

} // namespace quorvane
