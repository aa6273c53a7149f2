#include "ProcessLimits.h"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <climits>

namespace sitowiak::platform {

long RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<long>(limit.rlim_cur);
}

void KeepBlocksOnHeap(unsigned long mapFrom, unsigned long trimFrom) {
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(std::min<unsigned long>(mapFrom, INT_MAX)));
    ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<unsigned long>(trimFrom, INT_MAX)));
}

}  // namespace sitowiak::platform
