// Limits of the process that the proxy adjusts at start.
#pragma once

namespace sitowiak::platform {

// Raises the soft limit of open files to the hard limit, so that a few
// hundred readers (two sockets each) fit. Returns the soft limit in force.
long RaiseOpenFileLimit();

// Keeps heap blocks below `mapFrom` bytes on the heap. glibc maps blocks
// from 128 KB on by itself, and a mapped block that is shrunk and grown
// again (a reply buffer between replies) costs an mremap and fresh zeroed
// pages each time. Free memory at the top of the heap is given back to the
// system from `trimFrom` bytes on.
void KeepBlocksOnHeap(unsigned long mapFrom, unsigned long trimFrom);

}  // namespace sitowiak::platform
