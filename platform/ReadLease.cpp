#include "platform/ReadLease.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <utility>

namespace jw {

ReadLease::ReadLease(int fd)
    : m_fd(fd)
{
    take();
}

ReadLease::~ReadLease()
{
    release();
}

void ReadLease::take()
{
    release();
    m_writers = Writers::Unknown;
    // A writer's open breaks the lease and signals its holder: SIGIO would end the process,
    // SIGURG is ignored unless handled.
    if (::fcntl(m_fd, F_SETSIG, SIGURG) != 0)
        return;
    if (::fcntl(m_fd, F_SETLEASE, F_RDLCK) == 0) {
        m_held = true;
        m_writers = Writers::None;
    } else if (errno == EAGAIN) {
        m_writers = Writers::Some;
    }
}

void ReadLease::release()
{
    if (std::exchange(m_held, false))
        ::fcntl(m_fd, F_SETLEASE, F_UNLCK);
}

} // namespace jw
