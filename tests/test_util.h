// Small helpers shared by the core tests.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tavrel::test {

inline std::string dataPath(const std::string& name) { return std::string(TAVREL_TEST_DATA) + "/" + name; }

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const void* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
}

inline void writeText(const std::string& path, const std::string& s) { writeBytes(path, s.data(), s.size()); }

// A fresh folder under the system temp folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tavrel-test-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        m_path = mkdtemp(buf.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string path(const std::string& name) const { return m_path + "/" + name; }
    // Copies a test recording in, so index files land here.
    std::string copy(const std::string& dataName) const {
        std::string dst = path(dataName);
        std::filesystem::copy_file(dataPath(dataName), dst, std::filesystem::copy_options::overwrite_existing);
        return dst;
    }
    const std::string& root() const { return m_path; }

private:
    std::string m_path;
};

// The names in a folder, sorted: tests check that no temporary file is left.
inline std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Lets files grow only up to limit bytes while it lives (writes past it fail
// with EFBIG), as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit l = m_old;
        l.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
};

// The standard output of a shell command.
inline std::string capture(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

inline bool onCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

}  // namespace tavrel::test

// In a test that needs an outside tool (ffmpeg, ffprobe): skips when it is
// missing, but fails under CI=true, where the scripts install it.
#define TAVREL_REQUIRE_TOOL(tool)                                                   \
    do {                                                                            \
        if (std::system(tool " -version > /dev/null 2>&1") != 0) {                  \
            if (::tavrel::test::onCi()) FAIL() << tool " is required when CI=true"; \
            GTEST_SKIP() << tool " not installed";                                  \
        }                                                                           \
    } while (0)
