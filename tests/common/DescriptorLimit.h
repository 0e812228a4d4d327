#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

// Lets this process open at most `more` further descriptors until it ends, as when a program has
// run out of them (EMFILE). Unlike chmod tricks, this fails opens for root too.
class DescriptorLimit {
public:
    explicit DescriptorLimit(int more)
    {
        m_ok = ::getrlimit(RLIMIT_NOFILE, &m_old) == 0;
        // Descriptors are handed out lowest first.
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (lowest < 0) {
            m_ok = false;
            return;
        }
        ::close(lowest);
        rlimit lowered = m_old;
        lowered.rlim_cur = rlim_t(lowest + more);
        m_ok = m_ok && ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_old); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};
