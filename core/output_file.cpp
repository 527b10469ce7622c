#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host.h"

namespace tavrel {

namespace {

// Temporary files in progress, for removePendingOutputs(). A slot is free
// (0), being filled or emptied (1) or holds a live path (2).
constexpr int kSlots = 32;
struct PendingSlot {
    std::atomic<int> state{0};
    char path[PATH_MAX] = {};
};
PendingSlot g_pending[kSlots];
std::atomic<unsigned> g_tempCounter{0};

int registerPending(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_pending[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
            g_pending[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void unregisterPending(int slot) {
    if (slot < 0) return;
    g_pending[slot].state.store(1);
    g_pending[slot].path[0] = '\0';
    g_pending[slot].state.store(0);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename in folder durable. Folders that cannot be synced (some
// network file systems) are not an error: the file itself was.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

bool OutputFile::create(const std::string& target, const OutputOptions& options) {
    discard();
    m_err = 0;
    m_target = target;
    m_sync = options.sync;
    struct stat st;
    // stat follows a link at the name: what the name resolves to decides.
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        m_err = EISDIR;
        return false;
    }
    if (exists && !options.input.empty() && sameFile(m_target, options.input)) {
        m_err = kErrSameAsInput;
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        if (!options.stream) {
            m_err = kErrNotRegular;
            return false;
        }
        // A device or FIFO is a stream, not a file to replace.
        if (!m_file.create(m_target)) {
            m_err = m_file.error();
            return false;
        }
        m_sync = false;
        m_open = true;
        return true;
    }
    const std::string base = m_target + ".partial-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = base + std::to_string(g_tempCounter.fetch_add(1));
        // Registered before it exists, so a signal between the two cannot
        // leave it behind.
        const int slot = registerPending(temp);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int err = errno;
            unregisterPending(slot);
            if (err == EEXIST) continue;
            m_err = err;
            return false;
        }
        // A replaced file keeps its permission bits.
        if (exists) (void)::fchmod(fd, st.st_mode & 07777);
        m_slot = slot;
        m_temp = std::move(temp);
        m_file.adopt(fd);
        m_open = true;
        return true;
    }
    m_err = EEXIST;
    return false;
}

bool OutputFile::commit() {
    if (!m_open) return false;
    if (m_sync && ::fsync(m_file.fd()) != 0 && errno != EINVAL) {
        m_err = errno;
        discard();
        return false;
    }
    // close() can report a delayed write error (NFS, quota): it is a failure.
    if (!m_file.close()) {
        m_err = m_file.error();
        discard();
        return false;
    }
    if (m_temp.empty()) {
        m_open = false;
        return true;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        m_err = errno;
        discard();
        return false;
    }
    unregisterPending(m_slot);
    m_slot = -1;
    m_temp.clear();
    m_open = false;
    if (m_sync) syncFolder(folderOf(m_target));
    return true;
}

void OutputFile::discard() {
    m_file.close();
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    unregisterPending(m_slot);
    m_slot = -1;
    m_open = false;
}

void showOutputCreateError(JobHost& host, const std::string& path, int err) {
    if (err == kErrSameAsInput)
        host.showFileError("出力ファイルが入力ファイルと同じです", path, 0);
    else
        host.showFileError(kMsgOutputOpen, path, err);
}

void removePendingOutputs() noexcept {
    for (auto& slot : g_pending) {
        if (slot.state.load() == 2) ::unlink(slot.path);
    }
}

}  // namespace tavrel
