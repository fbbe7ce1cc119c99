#include "Guid.h"

#include <cerrno>
#include <cstdint>
#include <random>
#include <sys/random.h>

namespace {

void RandomBytes(uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(bytes + done, size - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done < size) {
        // No kernel randomness: fall back on the library's device, still unpredictable enough for ids.
        std::random_device device;
        for (; done < size; ++done)
            bytes[done] = static_cast<uint8_t>(device());
    }
}

} // namespace

std::string NewGuidText() {
    uint8_t b[16];
    RandomBytes(b, sizeof b);
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[b[i] >> 4];
        text += kHex[b[i] & 0x0F];
    }
    return text;
}
