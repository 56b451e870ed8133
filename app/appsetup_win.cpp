#include "app/appsetup_p.h"

// Nothing to add on Windows: the window icon is the executable's own icon resource, and the
// About pages' "MS Shell Dlg 2" is the system's dialog font.
void preparePlatform(QWidget &)
{ }
