#pragma once

#include <cstddef>

// Anonymous memory for a large block that is filled once and then read: only the pages written
// are ever backed, nothing being reserved for the rest, so a block sized for the worst case is
// cheap; and a block of a huge page or more starts on one and is advised to huge pages, so that
// filling it takes a page fault every 2 MiB, not every 4 KiB. The advice may go unheeded; the
// block works the same.
class HugePageBlock {
public:
    static constexpr std::size_t kHugePage = 2 * 1024 * 1024;

    // Null when the memory cannot be had.
    explicit HugePageBlock(std::size_t bytes);
    ~HugePageBlock();
    HugePageBlock(const HugePageBlock&) = delete;
    HugePageBlock& operator=(const HugePageBlock&) = delete;

    char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool isNull() const { return m_data == nullptr; }
    // Hands back the pages past the first `used` bytes; whole huge pages stay whole.
    void shrink(std::size_t used);

    // Advises huge pages for the whole ones within [data, data + bytes), memory of any origin
    // not yet touched.
    static void advise(void* data, std::size_t bytes);

private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
};
