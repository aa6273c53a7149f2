// Copies a compressed file into the distribution tree in blocks of at most
// 1024 bytes, showing the progress window and letting pending window events
// run after each block.
#pragma once

#include <cstdint>
#include <string>

namespace sitowiak::package {

class TBelkaPostepu;

class ContentCopier {
public:
    // `window` may be null (no progress shown).
    explicit ContentCopier(TBelkaPostepu* window) : m_window(window) {}

    // Copies `size` bytes of `source` into a new part file beside `target`
    // and returns its name; empty when the source cannot be read, the part
    // file cannot be written or fewer than `size` bytes arrive (a full disk,
    // a source that shrinks). A failed copy leaves no part file behind.
    std::string CopyToPart(const std::string& source, int32_t size, const std::string& target,
                           const std::string& shownName);

private:
    bool CopyBlocks(int in, int out, int32_t size);
    void ShowProgress(int64_t copied, int32_t size);

    TBelkaPostepu* m_window;
};

}  // namespace sitowiak::package
