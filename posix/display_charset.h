// The display's character set as the environment chooses it, for the player
// and the bridge, which show titles on the same unit.
#pragma once

#include "link/charset.h"

// The charset NORVELO_DISPLAY_CHARSET names; a value that names none is said,
// and latin1 taken.
DisplayCharset DisplayCharsetFromEnvironment();
