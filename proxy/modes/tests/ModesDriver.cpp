// Stands in for the program's entry in the tests: the first argument picks a
// mode exactly as the entry does; in normal mode it only appends its
// arguments to the file named by SITOWIAK_DRIVER_LOG, so a test can see how
// the registration mode started the second copy.
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "proxy/modes/CommandLineModes.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "-nainternet") == 0)
        return sitowiak::proxy::RunDistributionMode(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "-zarejestruj") == 0)
        return sitowiak::proxy::RunRegistrationMode(argc, argv);
    if (const char* log = std::getenv("SITOWIAK_DRIVER_LOG")) {
        std::ofstream out(log, std::ios::app);
        out << "normal";
        for (int i = 1; i < argc; ++i) out << '|' << argv[i];
        out << '\n';
    }
    return 0;
}
