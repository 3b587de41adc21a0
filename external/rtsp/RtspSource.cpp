#include "RtspSource.h"
// Implementation follows.
