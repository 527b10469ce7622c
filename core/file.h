// Thin file layer: 64-bit positions, shared reading, created-anew outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrel {

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& o) noexcept;
    File& operator=(File&& o) noexcept;

    // Opens an existing regular file for reading. Folders, FIFOs and devices
    // fail at once (error() is kErrNotRegular or EISDIR); a FIFO without a
    // writer does not block the open.
    bool openRead(const std::string& path);
    // Creates (truncating) a file for writing.
    bool create(const std::string& path);
    // Takes over an open descriptor.
    void adopt(int fd);
    // false when the system reports a delayed write error.
    bool close();
    bool isOpen() const { return m_fd >= 0; }

    // Reads up to n bytes; returns the count, 0 at end, -1 on error.
    // Loops over short reads so a block is filled whenever data remains.
    int64_t read(void* buf, size_t n);
    bool writeAll(const void* buf, size_t n);
    bool seek(int64_t pos);
    int64_t tell() const;
    int64_t size() const;
    int fd() const { return m_fd; }
    // errno of the last call that failed (kErrNotRegular for a non-regular
    // input, kErrShortWrite for a write that made no progress).
    int error() const { return m_err; }

private:
    int m_fd = -1;
    int m_err = 0;
};

// Codes beside errno values for error() and errorText().
constexpr int kErrNotRegular = -1001;
constexpr int kErrShortWrite = -1002;
constexpr int kErrSameAsInput = -1003;  // an output name that resolves to the recording
constexpr int kErrChanged = -1004;      // the recording was replaced or rewritten meanwhile
// The system's reason for an error() code, for messages; "" for 0.
std::string errorText(int err);

// What a job remembers of a recording when it opens it: the file (device and
// inode), its size and its last-write time. A job that commits a result
// derived from the recording checks that the name still gives the same.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of an open file, or nullopt when it cannot be read.
std::optional<FileIdentity> identityOf(const File& f);
// True when path names, unchanged, the file whose identity this is: the
// same file (not one renamed over it), the same size and last-write time.
bool unchangedSince(const std::string& path, const FileIdentity& id);
// True when both paths, links followed, name one existing file.
bool sameFile(const std::string& a, const std::string& b);

bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
// Last-write time in nanoseconds, or nullopt when the file cannot be opened.
std::optional<int64_t> lastWriteTime(const std::string& path);
bool removeFile(const std::string& path);
// The part after the last '/'.
std::string fileNameOf(const std::string& path);

}  // namespace tavrel
