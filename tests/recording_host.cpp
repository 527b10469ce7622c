#include "recording_host.h"

namespace tavrel::test {

MsgResult RecordingHost::showMessage(const std::string& caption, const std::string& text, MsgKind kind) {
    events.push_back("message " + caption + ": " + text);
    if (kind == MsgKind::YesNo || kind == MsgKind::YesNoCancel) {
        if (answers.empty()) return kResultNo;
        MsgResult r = answers.front();
        answers.pop_front();
        return r;
    }
    return kResultOk;
}

void RecordingHost::setBusy(bool busy) { events.push_back(busy ? "busy on" : "busy off"); }
void RecordingHost::setProgressRange(int32_t max) { events.push_back("progress range " + std::to_string(max)); }
void RecordingHost::setProgress(int32_t pos) { events.push_back("progress " + std::to_string(pos)); }
void RecordingHost::setTitle(const std::string& title) { events.push_back("title " + title); }
void RecordingHost::setInputPathText(const std::string& path) { events.push_back("input " + path); }
void RecordingHost::setPreviewPacketSize(int32_t size) { events.push_back("packsize " + std::to_string(size)); }
void RecordingHost::showGopTime(const std::string& text) { events.push_back("time " + text); }
void RecordingHost::setSliderRange(int32_t max, int32_t page, int32_t pos) {
    events.push_back("slider " + std::to_string(max) + " " + std::to_string(page) + " " + std::to_string(pos));
}
void RecordingHost::refreshErrorInfo() { events.push_back("refresh error info"); }
void RecordingHost::disableNavigation() { events.push_back("navigation off"); }
void RecordingHost::showScanLabels(const ScanFinishInfo& i) {
    events.push_back("labels " + std::to_string(i.packetSize) + " " + std::to_string(i.videoPid) + " " +
                     std::to_string(i.marginFront) + " " + std::to_string(i.marginBack));
}
void RecordingHost::showCurrentPreview() { events.push_back("preview"); }
void RecordingHost::focusSlider() { events.push_back("focus slider"); }
void RecordingHost::playSound(const std::string& path) { events.push_back("sound " + path); }

bool RecordingHost::cancelRequested() { return cancelAfterChecks >= 0 && m_cancelChecks++ >= cancelAfterChecks; }

std::vector<std::string> RecordingHost::messages() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.rfind("message ", 0) == 0) out.push_back(e.substr(8));
    return out;
}

std::vector<std::string> RecordingHost::withoutProgress() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.rfind("progress ", 0) != 0) out.push_back(e);
    return out;
}

}  // namespace tavrel::test
