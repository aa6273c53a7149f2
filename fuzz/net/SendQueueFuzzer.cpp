// The send queue against a plain byte string: any mix of appends and
// partial takes must give back the appended bytes in order, and the queue
// never holds more blocks than its bytes need (plus the kept last one).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/SendQueue.h"

using sitowiak::net::SendQueue;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SendQueue queue(64);
    std::string model;
    std::uint8_t counter = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const int amount = data[i + 1] * 3;
        if (data[i] & 1) {
            std::string bytes(static_cast<std::size_t>(amount), '\0');
            for (char& c : bytes) c = static_cast<char>(counter++);
            queue.Append(bytes.data(), amount);
            model += bytes;
            continue;
        }
        std::int32_t len = 0;
        const std::uint8_t* front = queue.Front(len);
        if (len == 0) {
            queue.AdvanceDrained();
            continue;
        }
        const int take = amount < len ? amount : len;
        if (model.compare(0, static_cast<std::size_t>(take), reinterpret_cast<const char*>(front),
                          static_cast<std::size_t>(take)) != 0)
            std::abort();
        queue.Consume(take);
        model.erase(0, static_cast<std::size_t>(take));
        if (queue.PendingBytes() != static_cast<std::int64_t>(model.size())) std::abort();
        if (queue.BlockCount() > model.size() / 64 + 3) std::abort();
    }
    return 0;
}
