// Files written whole or not at all. The bytes go to a temporary file in the
// target's folder; commit() renames it over the target, so the target keeps
// its old content until the new one is complete. A failure, a discard or a
// destruction without commit removes the temporary file.
#pragma once

#include <string>

#include "file.h"

namespace tavrel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the temporary file beside target (beside the file a symbolic
    // link names). A target that exists and is not a regular file (a FIFO,
    // /dev/null) is written directly; a folder fails with EISDIR.
    bool create(const std::string& target);
    File& file() { return m_file; }
    // Closes the temporary file and renames it over the target. On failure
    // the temporary file is removed and the target left as it was.
    bool commit();
    // Closes and removes the temporary file; the target is not touched.
    void discard();
    // errno (or a File code) of the call that failed.
    int error() const { return m_err; }
    const std::string& target() const { return m_target; }

private:
    File m_file;
    std::string m_target;  // the file the rename replaces
    std::string m_temp;    // empty when written directly
    int m_slot = -1;
    int m_err = 0;
    bool m_open = false;
};

// Removes every temporary file not yet committed or discarded, for a
// SIGINT/SIGTERM handler: async-signal-safe.
void removePendingOutputs() noexcept;

}  // namespace tavrel
