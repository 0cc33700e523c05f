#pragma once

// Registers the pictures of the windows. They live in a static library, whose
// resources are linked in only when asked for; every window asks, once is enough.
void InitUiResources();

class QIcon;

// The program's icon, in the sizes a desktop asks for.
QIcon ProgramIcon();
