// The only way jobs reach the user and the window. The GUI implements it on
// its UI thread, the CLI on the terminal, tests with a recording double.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel {

enum class MsgKind : int { Ok = 0, OkCancel = 1, YesNo = 2, YesNoCancel = 3 };
enum MsgResult : int { kResultOk = 0, kResultCancel = 1, kResultYes = 2, kResultNo = 3 };

// The file messages the jobs share (caption "error").
inline constexpr char kMsgInputOpen[] = "Input ファイルオープンエラー";
inline constexpr char kMsgOutputOpen[] = "Output ファイルオープンエラー";
inline constexpr char kMsgRead[] = "ファイルリードエラー";
inline constexpr char kMsgWrite[] = "書き込みエラー";
// A recording in which no GOP was found (caption "error").
inline constexpr char kMsgNoGop[] = "no GOP found";
// A GOP index file that is not one (caption "error"); the job rebuilds it.
inline constexpr char kMsgIndexHeader[] = "ファイルヘッダエラー";

// What a finished GOP scan hands to the window (the labels, the slider and
// the preview's packet size).
struct ScanFinishInfo {
    int32_t packetSize = 0;
    int32_t videoPid = 0xFFFF;
    int32_t marginFront = 0;
    int32_t marginBack = 0;
};

class JobHost {
public:
    virtual ~JobHost() = default;

    // The one message box; blocks until answered. Captions are "error",
    // "question" or "Info".
    virtual MsgResult showMessage(const std::string& caption, const std::string& text, MsgKind kind) = 0;

    // A failure that concerns one file (caption "error"). The window shows
    // the text alone; the terminal adds the file and the system's reason
    // (err: an errno or File code, 0 when there is none).
    virtual void showFileError(const std::string& text, const std::string& /*path*/, int /*err*/) {
        showMessage("error", text, MsgKind::Ok);
    }
    // Something the user may want to know that is no failure (the terminal
    // prints it; the window has no place for it).
    virtual void showNote(const std::string& /*text*/) {}
    // The index file at indexPath is no GOP index (its first line, or a field
    // past its limits): the job goes on and rebuilds it. The window shows the
    // message box; the terminal notes it with the path once the rebuild has
    // ended, as it is no failure of the job.
    virtual void showIndexHeaderError(const std::string& /*indexPath*/) {
        showMessage("error", kMsgIndexHeader, MsgKind::Ok);
    }

    // Busy state: controls that start workers are off while a job runs.
    virtual void setBusy(bool /*busy*/) {}
    virtual void setProgressRange(int32_t /*max*/) {}
    virtual void setProgress(int32_t /*pos*/) {}
    virtual void setTitle(const std::string& /*title*/) {}

    // GOP scan window updates, called in the order of its finish step.
    virtual void setInputPathText(const std::string& /*path*/) {}
    virtual void setPreviewPacketSize(int32_t /*size*/) {}
    virtual void showGopTime(const std::string& /*text*/) {}
    virtual void setSliderRange(int32_t /*max*/, int32_t /*page*/, int32_t /*pos*/) {}
    virtual void refreshErrorInfo() {}
    virtual void disableNavigation() {}
    virtual void showScanLabels(const ScanFinishInfo& /*info*/) {}
    virtual void showCurrentPreview() {}
    virtual void focusSlider() {}

    // Cut completion.
    virtual void playSound(const std::string& /*path*/) {}

    // Batch runs test this at the start of every chunk.
    virtual bool cancelRequested() { return false; }
};

}  // namespace tavrel
