#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// A named pipe in a data file's place, for code that must refuse it rather than wait for a
// writer. Should the code wait all the same, the watchdog opens and closes the writing end after
// a while, which ends the wait, and remembers it: the test fails instead of hanging.
class FifoWatchdog {
public:
    explicit FifoWatchdog(const QString& path)
        : m_path(QFile::encodeName(path))
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        if (m_made)
            m_thread = std::thread([this] { watch(); });
    }
    ~FifoWatchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool made() const { return m_made; }
    // Something waited on the pipe and had to be let go.
    bool released() const { return m_released; }

private:
    void watch()
    {
        std::unique_lock lock(m_mutex);
        std::chrono::milliseconds patience = std::chrono::seconds(30);
        while (!m_wake.wait_for(lock, patience, [this] { return m_stop; })) {
            // Opens only while a reader holds the pipe or waits in open().
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                m_released = true;
            }
            patience = std::chrono::milliseconds(100);
        }
    }

    QByteArray m_path;
    bool m_made = false;
    std::atomic<bool> m_released = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
