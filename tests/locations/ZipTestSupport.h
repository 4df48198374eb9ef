// Archives made by the standard zip tool for the zip tests.
#pragma once

#include "locations/LocationTestSupport.h"

#include "common/SafeFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <zip.h>
#include <zlib.h>

namespace ziptest {

// Runs a shell command in Folder, output discarded; the exit status.
inline int Sh(const std::string& folder, const std::string& command) {
    std::string cmd = "cd '" + folder + "' && { " + command + "; } >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Replaces every occurrence of From by To (same length) in the file's bytes.
inline void PatchBytes(const std::string& path, const std::string& from, const std::string& to) {
    std::string data = qntest::ReadFile(path);
    for (size_t p = data.find(from); p != std::string::npos; p = data.find(from, p + to.size()))
        data.replace(p, from.size(), to);
    qntest::WriteFile(path, data);
}

// Writes Archive with one member Name of Mebibytes MiB of zeros, a few KiB on disk: one
// MiB of zeros is deflated once with a full flush (so it stands alone) and repeated,
// then handed to libzip as data that is already compressed.
inline bool MakeZeroBomb(const std::string& archive, const std::string& name, uint64_t mebibytes) {
    struct TBomb {
        std::string Chunk;
        uint64_t Chunks = 0, Done = 0;
        size_t Offset = 0;
        bool Tail = false;
        uLong Crc = 0;
        zip_error_t Error{};
    } bomb;
    zip_error_init(&bomb.Error);
    const size_t mib = 1 << 20;
    std::vector<char> zeros(mib, 0);
    std::vector<unsigned char> out(mib);
    z_stream s{};
    if (deflateInit2(&s, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    s.next_in = reinterpret_cast<Bytef*>(zeros.data());
    s.avail_in = static_cast<uInt>(mib);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(mib);
    deflate(&s, Z_FULL_FLUSH);
    bomb.Chunk.assign(reinterpret_cast<char*>(out.data()), mib - s.avail_out);
    deflateEnd(&s);
    bomb.Chunks = mebibytes;
    const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(mib));
    bomb.Crc = crc32(0, Z_NULL, 0);
    for (uint64_t i = 0; i < mebibytes; ++i) bomb.Crc = crc32_combine(bomb.Crc, one, mib);

    auto callback = [](void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) -> zip_int64_t {
        TBomb& b = *static_cast<TBomb*>(state);
        static const char lastBlock[2] = {3, 0};  // a final empty fixed-Huffman block
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            b.Done = 0;
            b.Offset = 0;
            b.Tail = false;
            return 0;
        case ZIP_SOURCE_READ: {
            char* to = static_cast<char*>(data);
            zip_uint64_t n = 0;
            while (n < len) {
                if (b.Done < b.Chunks) {
                    size_t k = std::min<size_t>(len - n, b.Chunk.size() - b.Offset);
                    std::memcpy(to + n, b.Chunk.data() + b.Offset, k);
                    n += k;
                    b.Offset += k;
                    if (b.Offset == b.Chunk.size()) {
                        b.Offset = 0;
                        ++b.Done;
                    }
                } else if (!b.Tail && len - n >= 2) {
                    std::memcpy(to + n, lastBlock, 2);
                    n += 2;
                    b.Tail = true;
                } else {
                    break;
                }
            }
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
            st->size = b.Chunks << 20;
            st->comp_size = b.Chunk.size() * b.Chunks + 2;
            st->crc = static_cast<zip_uint32_t>(b.Crc);
            st->comp_method = ZIP_CM_DEFLATE;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&b.Error, data, len);
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                  ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                                  -1);
        default:
            return -1;
        }
    };
    int err = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (z == nullptr) return false;
    zip_source_t* src = zip_source_function(z, callback, &bomb);
    if (src == nullptr || zip_file_add(z, name.c_str(), src, 0) < 0) {
        if (src) zip_source_free(src);
        zip_discard(z);
        return false;
    }
    if (zip_close(z) != 0) {
        zip_discard(z);
        return false;
    }
    return true;
}

}  // namespace ziptest
