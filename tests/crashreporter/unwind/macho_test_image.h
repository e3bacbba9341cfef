// A 64-bit Mach-O fixture copied into memory the way a loader would: each segment's file bytes at
// base + (vmaddr - lowest vmaddr). Either anywhere (the reader then works with a slide) or at the
// link address itself, which metadata holding absolute pointers needs when nobody rebases them.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace hxtest {

class MachOTestImage {
public:
    enum class Placement { Anywhere, AtLinkAddress };

    MachOTestImage() = default;
    MachOTestImage(const MachOTestImage&) = delete;
    MachOTestImage& operator=(const MachOTestImage&) = delete;
    ~MachOTestImage() {
        if (base) munmap(base, span);
    }

    // False for a file that is not a well-formed 64-bit Mach-O. At the link address, a range
    // already taken leaves base null and says why in skip.
    bool load(const std::string& path, Placement placement = Placement::Anywhere) {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (at<uint32_t>(0) != 0xfeedfacf) return false;
        struct Segment {
            uint64_t vmaddr, vmsize, fileoff, filesize;
        };
        std::vector<Segment> segments;
        uint64_t lo = UINT64_MAX, hi = 0;
        size_t off = 32;
        for (uint32_t i = 0, n = at<uint32_t>(16); i < n; ++i) {
            const uint32_t size = at<uint32_t>(off + 4);
            if (size == 0) return false;
            if (at<uint32_t>(off) == 0x19 /* LC_SEGMENT_64 */ && at<uint32_t>(off + 60) != 0) {
                Segment s{at<uint64_t>(off + 24), at<uint64_t>(off + 32), at<uint64_t>(off + 40),
                          at<uint64_t>(off + 48)};
                if (s.fileoff + s.filesize > file.size() || s.filesize > s.vmsize) return false;
                segments.push_back(s);
                lo = std::min(lo, s.vmaddr);
                hi = std::max(hi, s.vmaddr + s.vmsize);
            }
            off += size;
        }
        if (segments.empty()) return false;
        low = lo;
        span = hi - lo;
        const bool fixed = placement == Placement::AtLinkAddress;
        void* want = fixed ? reinterpret_cast<void*>(lo) : nullptr;
        void* p = mmap(want, span, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | (fixed ? MAP_FIXED_NOREPLACE : 0), -1, 0);
        if (p == MAP_FAILED || (fixed && p != want)) {
            if (p != MAP_FAILED) munmap(p, span);
            if (!fixed) return false;
            skip = "link address taken";
            return true;
        }
        base = static_cast<uint8_t*>(p);
        for (const auto& s : segments) std::memcpy(base + (s.vmaddr - lo), file.data() + s.fileoff, s.filesize);
        return true;
    }

    // Where a link-time address of the image sits in memory.
    uint64_t runtimeAddress(uint64_t linkAddress) const {
        return reinterpret_cast<uint64_t>(base) + (linkAddress - low);
    }

    std::vector<uint8_t> file;
    uint8_t* base = nullptr;
    size_t span = 0;
    uint64_t low = 0;
    std::string skip;

private:
    template <typename T>
    T at(size_t off) const {
        T v{};
        if (off + sizeof(T) <= file.size()) std::memcpy(&v, file.data() + off, sizeof(T));
        return v;
    }
};

}  // namespace hxtest
