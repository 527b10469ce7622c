// Files written whole or not at all. The bytes go to a temporary file in the
// folder of the target's name; commit() renames it onto that name, so the
// target keeps its old content until the new one is complete, and a symbolic
// link at the name is replaced, never the file it points to. A failure, a
// discard or a destruction without commit removes the temporary file.
#pragma once

#include <string>

#include "file.h"

namespace tavrel {

class JobHost;

struct OutputOptions {
    // The recording the output is made from: a target name that resolves to
    // it (a link, a second hard link) is refused with kErrSameAsInput.
    std::string input;
    // An existing FIFO or device at the name is written directly, as a
    // stream (cut outputs, pictures). Otherwise it is refused with
    // kErrNotRegular and never opened, so nothing can block.
    bool stream = false;
    // fsync the file before the rename and its folder after it, so a power
    // loss leaves the old file or the new one. Large outputs leave it to the
    // system, as cp does.
    bool sync = true;
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the temporary file beside target. A folder at the name fails
    // with EISDIR; see OutputOptions for FIFOs, devices and the recording.
    bool create(const std::string& target, const OutputOptions& options = {});
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
    bool m_sync = true;
};

// Reports a failed create: "出力ファイルが入力ファイルと同じです" for an output
// that is the recording, else "Output ファイルオープンエラー" with the reason.
void showOutputCreateError(JobHost& host, const std::string& path, int err);

// Removes every temporary file not yet committed or discarded, for a
// SIGINT/SIGTERM handler: async-signal-safe.
void removePendingOutputs() noexcept;

}  // namespace tavrel
