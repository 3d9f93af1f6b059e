// The shared library's own translation unit: everything else comes from the static core, linked
// whole, and the version script decides what is exported.
#include "qvlib/session/qvlib.h"
