// Whether a window system can be reached, tested before the toolkit starts (the toolkit aborts
// the process when it finds none).
#pragma once

#include <string>

// True when a display is available to the toolkit; otherwise false and `why` says what is missing.
bool DisplayAvailable(std::string* why);
// True when the toolkit will draw nowhere visible (QT_QPA_PLATFORM offscreen or minimal), so
// messages belong on standard error rather than in a box nobody can close.
bool HeadlessPlatform();
