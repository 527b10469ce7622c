#include "operation_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace tavrel {

namespace {

// The process's one log. The mutex orders the lines and guards the line
// buffer they are formatted into.
struct Log {
    std::mutex mutex;
    bool enabled = false;
    int fd = -1;
    std::string path;
    std::string line;
};

Log& theLog() {
    static Log log;
    return log;
}

std::tm localTime(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// Formats and writes one line; the caller holds the mutex.
void writeLine(Log& log, const std::string& text) {
    if (!log.enabled || log.fd < 0) return;
    const auto now = std::chrono::system_clock::now();
    const std::tm tm = localTime(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d:%03d > ", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    log.line.assign(stamp);
    log.line += text;
    log.line += "\r\n";
    // One write per line; a short write goes on where it stopped.
    const char* p = log.line.data();
    size_t left = log.line.size();
    while (left > 0) {
        const ssize_t n = ::write(log.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void closeLog(Log& log) {
    if (log.fd >= 0) ::close(log.fd);
    log.fd = -1;
    log.path.clear();
}

}  // namespace

std::string operationLogPath(const std::string& folder, const std::string& base,
                             std::chrono::system_clock::time_point at) {
    const std::tm tm = localTime(at);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d%02d%02d.txt", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
    return folder + "/" + base + stamp;
}

bool logStart(const std::string& folder, const std::string& base, bool enabled,
              std::chrono::system_clock::time_point now) {
    Log& log = theLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    closeLog(log);
    log.enabled = enabled;
    if (!enabled || folder.empty()) return false;
    const std::string path = operationLogPath(folder, base, now);
    // Replaced, not truncated: a link at the name is never followed.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    log.fd = fd;
    log.path = path;
    writeLine(log, "Start");
    return true;
}

void logWrite(const std::string& text) {
    Log& log = theLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    writeLine(log, text);
}

void logEnd() {
    Log& log = theLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (!log.enabled || log.fd < 0) return;
    writeLine(log, "End");
    closeLog(log);
}

std::string logFilePath() {
    Log& log = theLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.path;
}

}  // namespace tavrel
