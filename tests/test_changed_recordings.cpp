// What the jobs commit when their files are not what they seem: recordings
// replaced, rewritten or shortened while a job reads them, output names that
// are links onto the recording or FIFOs, a full disk where the index goes,
// and stretches without sync bytes.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "clip_list.h"
#include "cut_job.h"
#include "edit_state.h"
#include "error_check.h"
#include "file.h"
#include "gop_scan.h"
#include "recording_host.h"
#include "test_util.h"

using namespace tavrel;
using namespace tavrel::test;
namespace fs = std::filesystem;

namespace {

// Runs change once, when the job first reports progress past its start or
// first asks whether to stop: the job has opened its recording by then.
struct ChangingHost : RecordingHost {
    std::function<void()> change;
    std::vector<std::string> notes;
    void fire() {
        if (!change) return;
        auto c = std::move(change);
        change = nullptr;
        c();
    }
    void setProgress(int32_t pos) override {
        RecordingHost::setProgress(pos);
        if (pos > 0) fire();
    }
    bool cancelRequested() override {
        fire();
        return RecordingHost::cancelRequested();
    }
    void showNote(const std::string& text) override { notes.push_back(text); }
};

EditState stateFor(const std::string& rec) {
    EditState s;
    s.inputPath = rec;
    return s;
}

// The ways a recorder or a user changes a recording under a running job.
void replaceByRename(const std::string& path) {
    fs::copy_file(path, path + ".new");
    fs::rename(path + ".new", path);
}
void rewriteInPlace(const std::string& path) {
    // Past the file system's time stamp granularity, as any real rewrite is.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto bytes = readBytes(path);
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}
void shrink(const std::string& path) { fs::resize_file(path, 188 * 1500); }

const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> kChanges = {
    {"replaced", replaceByRename}, {"rewritten", rewriteInPlace}, {"shrunk", shrink}};

// A clip list of the whole recording, as "→" makes it.
void clipWholeRecording(EditState& s, const std::string& out) {
    RecordingHost h;
    ASSERT_TRUE(obtainGopList(s, h));
    s.inMark = 0;
    s.outMark = static_cast<int64_t>(s.gopList.size()) - 1;
    ASSERT_TRUE(addClip(s, h));
    s.outputPath = out;
}

}  // namespace

TEST(ChangedRecordings, NoJobCommitsWhatItReadOfAChangedRecording) {
    for (const auto& [what, change] : kChanges) {
        SCOPED_TRACE(what);
        TempDir dir;
        const std::string rec = dir.copy("sd_480p_mp2.ts");
        const std::string path = rec;
        {
            EditState s = stateFor(rec);
            ChangingHost host;
            host.change = [&] { change(path); };
            EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
            EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
            EXPECT_FALSE(fs::exists(rec + ".txt"));
        }
        fs::remove(rec);
        fs::copy_file(dataPath("sd_480p_mp2.ts"), rec);
        {
            ChangingHost host;
            host.change = [&] { change(path); };
            EXPECT_EQ(checkTransportErrors(rec, false, host).status, ErrorCheckResult::Failed);
            EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
            EXPECT_FALSE(fs::exists(errorFilePath(rec)));
        }
        fs::remove(rec);
        fs::copy_file(dataPath("sd_480p_mp2.ts"), rec);
        {
            EditState s = stateFor(rec);
            clipWholeRecording(s, dir.path("out.ts"));
            ChangingHost host;
            host.change = [&] { change(path); };
            CutJob job;
            EXPECT_EQ(runCutJob(s, host, job), CutOutcome::ClipFailed);
            EXPECT_EQ(host.messages(), std::vector<std::string>{"error: ファイルリードエラー"});
            EXPECT_FALSE(fs::exists(dir.path("out.ts")));
        }
        std::vector<std::string> left = filesIn(dir.root());
        EXPECT_EQ(left, (std::vector<std::string>{"sd_480p_mp2.ts", "sd_480p_mp2.ts.txt"}));
    }
}

TEST(ChangedRecordings, WritersReplaceLinksAndRefuseTheRecordingAndFifos) {
    TempDir dir;
    const std::string rec = dir.copy("sd_480p_mp2.ts");
    const auto original = readBytes(rec);
    const std::string index = rec + ".txt";
    const std::string errors = errorFilePath(rec);
    const std::string same = "error: 出力ファイルが入力ファイルと同じです";

    // Links onto the recording: every writer refuses, the recording stays.
    fs::create_symlink("sd_480p_mp2.ts", index);
    fs::create_symlink(rec, errors);
    for (bool listWithoutIndex : {false, true}) {
        EditState s = stateFor(rec);
        RecordingHost host;
        EXPECT_FALSE(obtainGopList(s, host, listWithoutIndex));
        EXPECT_EQ(host.messages(), std::vector<std::string>{same});
    }
    {
        RecordingHost host;
        EXPECT_EQ(checkTransportErrors(rec, false, host).status, ErrorCheckResult::Failed);
        EXPECT_EQ(host.messages(), std::vector<std::string>{same});
    }
    EXPECT_EQ(readBytes(rec), original);

    // A link to some other file is replaced by the new file; its target stays.
    fs::remove(index);
    fs::remove(errors);
    writeText(dir.path("notes.txt"), "mine");
    fs::create_symlink("notes.txt", index);
    {
        EditState s = stateFor(rec);
        RecordingHost host;
        EXPECT_TRUE(runGopScan(s, host, ScanOptions{false}));
        EXPECT_FALSE(fs::is_symlink(index));
        EXPECT_EQ(readText(index).substr(0, 6), "KIVRA2");
        EXPECT_EQ(readText(dir.path("notes.txt")), "mine");
    }

    // FIFOs at the index and error-file names are refused at once; the
    // tools keep the list in memory as for a read-only folder.
    fs::remove(index);
    ASSERT_EQ(mkfifo(index.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(errors.c_str(), 0600), 0);
    {
        EditState s = stateFor(rec);
        RecordingHost host;
        EXPECT_FALSE(runGopScan(s, host, ScanOptions{false}));
        EXPECT_EQ(host.messages(), std::vector<std::string>{"error: Output ファイルオープンエラー"});
        EditState t = stateFor(rec);
        RecordingHost toolHost;
        ScanReport report;
        EXPECT_TRUE(obtainGopList(t, toolHost, true, &report));
        EXPECT_EQ(report.indexError, kErrNotRegular);
        RecordingHost checkHost;
        EXPECT_EQ(checkTransportErrors(rec, false, checkHost).status, ErrorCheckResult::Failed);
        EXPECT_EQ(checkHost.messages(), std::vector<std::string>{"error: Output ファイルオープンエラー"});
    }
    EXPECT_EQ(readBytes(rec), original);
}

TEST(ChangedRecordings, AFullDiskWhereTheIndexGoesKeepsTheListInMemory) {
    TempDir dir;
    const std::string rec = dir.copy("hd_1080i_aac.ts");
    EditState whole = stateFor(rec);
    RecordingHost h0;
    ASSERT_TRUE(obtainGopList(whole, h0, true));
    fs::remove(rec + ".txt");

    EditState s = stateFor(rec);
    RecordingHost host;
    ScanReport report;
    {
        FileSizeLimit limit(200);  // the header fits, the GOP lines do not
        EXPECT_TRUE(obtainGopList(s, host, true, &report));
    }
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(s.gopList.size(), whole.gopList.size());
    EXPECT_EQ(s.gopList.back().packet, whole.gopList.back().packet);
    EXPECT_FALSE(report.indexSaved);
    EXPECT_EQ(report.indexError, EFBIG);
    EXPECT_EQ(filesIn(dir.root()), std::vector<std::string>{"hd_1080i_aac.ts"});
}

TEST(ChangedRecordings, PacketsWithoutSyncBytesAreNotedOnce) {
    TempDir dir;
    const std::string rec = dir.path("damaged.ts");
    auto bytes = readBytes(dataPath("sd_480p_mp2.ts"));
    for (size_t p = 1000; p < 1010; ++p) bytes[p * 188] = 0x00;
    writeBytes(rec, bytes.data(), bytes.size());

    EditState s = stateFor(rec);
    ChangingHost scanHost;
    ASSERT_TRUE(runGopScan(s, scanHost, ScanOptions{false}));
    EXPECT_EQ(scanHost.notes, std::vector<std::string>{"no sync byte at packet 1000: " + rec});

    ChangingHost checkHost;
    EXPECT_EQ(checkTransportErrors(rec, false, checkHost).status, ErrorCheckResult::Done);
    EXPECT_EQ(checkHost.notes, std::vector<std::string>{"no sync byte at packet 1000: " + rec});

    clipWholeRecording(s, dir.path("out.ts"));
    ChangingHost cutHost;
    CutJob job;
    EXPECT_EQ(runCutJob(s, cutHost, job), CutOutcome::Completed);
    EXPECT_EQ(cutHost.notes, std::vector<std::string>{"10 packets copied without a sync byte: " + dir.path("out.ts")});
    const auto from = static_cast<std::ptrdiff_t>(s.gopList.front().packet * 188);
    EXPECT_EQ(readBytes(dir.path("out.ts")), std::vector<uint8_t>(bytes.begin() + from, bytes.end()));
}
