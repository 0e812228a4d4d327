#include "HugePageBlock.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {
std::size_t pageSize()
{
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? std::size_t(page) : 4096;
}
} // namespace

HugePageBlock::HugePageBlock(std::size_t bytes)
{
    const std::size_t page = pageSize();
    const std::size_t size = (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
    // The room to align a large block to a huge page is mapped too, then handed back.
    const std::size_t slack = size >= kHugePage ? kHugePage : 0;
    void* map = ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED)
        return;
    char* data = static_cast<char*>(map);
    if (slack > 0) {
        const std::size_t head = (slack - reinterpret_cast<std::uintptr_t>(data) % slack) % slack;
        if (head > 0)
            ::munmap(data, head);
        if (slack - head > 0)
            ::munmap(data + head + size, slack - head);
        data += head;
        ::madvise(data, size, MADV_HUGEPAGE);
    }
    m_data = data;
    m_size = size;
}

HugePageBlock::~HugePageBlock()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

void HugePageBlock::shrink(std::size_t used)
{
    const std::size_t unit = m_size >= kHugePage ? kHugePage : pageSize();
    const std::size_t kept = std::max(unit, (used + unit - 1) / unit * unit);
    if (!m_data || kept >= m_size)
        return;
    if (::munmap(m_data + kept, m_size - kept) == 0)
        m_size = kept;
}

void HugePageBlock::advise(void* data, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t end = (start + bytes) / kHugePage * kHugePage;
    if (first < end)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}
