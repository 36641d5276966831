#pragma once

namespace jw {

// Whether anyone holds a file open for writing, as far as the kernel tells.
enum class Writers
{
    None,
    Some,
    Unknown
};

// A kernel read lease on an open file. The kernel grants it exactly while nobody holds the file
// open for writing, and while it is held a writer's open waits until it is let go, so the text
// cannot change under a reader. Where leases are refused altogether (another owner's file, a file
// system without them) writers cannot be told. Taking one and letting it go at once is a probe.
class ReadLease
{
public:
    explicit ReadLease(int fd);
    ~ReadLease();
    ReadLease(const ReadLease&) = delete;
    ReadLease& operator=(const ReadLease&) = delete;

    void take();
    void release();
    // As found by the last take.
    Writers writers() const { return m_writers; }

private:
    int m_fd;
    bool m_held = false;
    Writers m_writers = Writers::Unknown;
};

} // namespace jw
