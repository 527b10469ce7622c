#include "file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrel {

File::~File() { close(); }

File::File(File&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        m_fd = o.m_fd;
        o.m_fd = -1;
    }
    return *this;
}

bool File::openRead(const std::string& path) {
    close();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        m_err = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        m_err = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        m_err = S_ISDIR(st.st_mode) ? EISDIR : kErrNotRegular;
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    return true;
}

bool File::create(const std::string& path) {
    close();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) m_err = errno;
    return m_fd >= 0;
}

void File::adopt(int fd) {
    close();
    m_fd = fd;
}

bool File::close() {
    if (m_fd < 0) return true;
    const int r = ::close(m_fd);
    m_fd = -1;
    if (r != 0 && errno != EINTR) {
        m_err = errno;
        return false;
    }
    return true;
}

int64_t File::read(void* buf, size_t n) {
    if (m_fd < 0) return -1;
    size_t got = 0;
    auto* p = static_cast<char*>(buf);
    while (got < n) {
        ssize_t r = ::read(m_fd, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            m_err = errno;
            return got > 0 ? static_cast<int64_t>(got) : -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

bool File::writeAll(const void* buf, size_t n) {
    if (m_fd < 0) return false;
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = ::write(m_fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            m_err = errno;
            return false;
        }
        if (w == 0) {
            m_err = kErrShortWrite;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool File::seek(int64_t pos) {
    if (m_fd < 0) return false;
    if (::lseek(m_fd, static_cast<off_t>(pos), SEEK_SET) == static_cast<off_t>(pos)) return true;
    m_err = errno;
    return false;
}

int64_t File::tell() const {
    if (m_fd < 0) return -1;
    return ::lseek(m_fd, 0, SEEK_CUR);
}

int64_t File::size() const {
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return -1;
    return st.st_size;
}

namespace {

FileIdentity identityFromStat(const struct stat& st) {
    FileIdentity id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.size = st.st_size;
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

}  // namespace

std::optional<FileIdentity> identityOf(const File& f) {
    struct stat st;
    if (!f.isOpen() || ::fstat(f.fd(), &st) != 0) return std::nullopt;
    return identityFromStat(st);
}

bool unchangedSince(const std::string& path, const FileIdentity& id) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && identityFromStat(st) == id;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<int64_t> lastWriteTime(const std::string& path) {
    File f;
    if (!f.openRead(path)) return std::nullopt;
    struct stat st;
    if (::fstat(f.fd(), &st) != 0) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string errorText(int err) {
    if (err == 0) return "";
    if (err == kErrNotRegular) return "not a regular file";
    if (err == kErrShortWrite) return "nothing could be written";
    if (err == kErrSameAsInput) return "it is the recording itself";
    if (err == kErrChanged) return "the file was replaced or changed while it was read";
    char buf[256];
    // GNU strerror_r: thread-safe, may return a static string instead of buf.
    return ::strerror_r(err, buf, sizeof buf);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string fileNameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tavrel
