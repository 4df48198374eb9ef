#include "diff/TextLines.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

bool IsBinary(std::string_view data) {
    return std::memchr(data.data(), 0, std::min(data.size(), BinaryProbe)) != nullptr;
}

// Sixteen bytes are searched for line feeds at a time.
std::vector<std::string_view> SplitKeepingEnds(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(text.size() / 32 + 16);
    const char* base = text.data();
    const size_t n = text.size();
    size_t start = 0, i = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
        auto bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
        while (bits != 0) {
            size_t end = i + size_t(__builtin_ctz(bits)) + 1;
            lines.emplace_back(base + start, end - start);
            start = end;
            bits &= bits - 1;
        }
    }
#endif
    for (; i < n; ++i) {
        if (base[i] == '\n') {
            lines.emplace_back(base + start, i + 1 - start);
            start = i + 1;
        }
    }
    if (start < n) lines.emplace_back(base + start, n - start);
    return lines;
}
