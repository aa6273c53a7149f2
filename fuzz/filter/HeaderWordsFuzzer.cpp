// DecodeHeaderWords and DecodeQ on any bytes: no crash, no access outside
// the input, and the clean-only scan agrees with the decoding one.
#include <cstdlib>
#include <string>

#include "filter/HeaderWords.h"

using namespace sitowiak;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view s(reinterpret_cast<const char*>(data), size);
    std::u16string w;
    bool clean = filter::DecodeHeaderWords(s, w);
    if (clean != filter::HeaderWordsClean(s)) std::abort();
    std::string q = filter::DecodeQ(s);
    if (q.size() > s.size()) std::abort();  // Q decoding never lengthens
    return 0;
}
