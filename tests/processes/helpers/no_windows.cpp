// The helper process's windows where the tests are built without a window system: none.
#include "processes/helpers/host.h"

int nxproc::runWindowHelper(bool) { return 1; }
