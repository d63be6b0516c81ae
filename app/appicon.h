#pragma once

#include <QIcon>

// The program's 32 x 32, 16-colour icon, used by every window of the program.
QIcon appIcon();
