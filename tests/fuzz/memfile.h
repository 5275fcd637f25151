#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The fuzzer's bytes as a file with a path, without touching the disk.
class MemFile final
{
public:
    MemFile(const std::uint8_t *data, std::size_t size) : m_fd(memfd_create("fuzz", 0))
    {
        std::size_t done = 0;
        while (m_fd >= 0 && done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
    }
    ~MemFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemFile(const MemFile &) = delete;
    MemFile &operator=(const MemFile &) = delete;

    bool ok() const { return m_fd >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};
