// Limits of the process that the proxy adjusts at start.
#pragma once

namespace sitowiak::platform {

// Raises the soft limit of open files to the hard limit, so that a few
// hundred readers (two sockets each) fit. Returns the soft limit in force.
long RaiseOpenFileLimit();

}  // namespace sitowiak::platform
