// The break detector's job: the audio on a thread of its own (libavcodec,
// one pass over the file), the reduced I pictures of every GOP on the
// caller's thread, then the break rules (break_rules.cpp says how).
#include "detect_job.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio_levels.h"
#include "break_rules.h"
#include "dc_picture.h"
#include "navigation.h"
#include "picture_signals.h"

namespace tavrel::detect {

namespace {

constexpr int32_t kProgressMax = 1000;
constexpr double kShortestSpot = 15;
constexpr int64_t kWrap = int64_t{1} << 33;

// GOP start times in seconds from the first GOP, PTS unwrapped; a GOP without
// a time gets the one before it plus the usual GOP length.
std::vector<double> gopTimes(const GopList& list, int64_t count, double& endTime) {
    std::vector<double> t(static_cast<size_t>(count));
    int64_t previous = -1, start = 0;
    std::vector<bool> known(static_cast<size_t>(count), false);
    for (int64_t g = 0; g < count; ++g) {
        const GopEntry& e = list[static_cast<size_t>(g)];
        if (std::string(e.ptsText) == GopEntry::kNoPtsText || e.pts < 0) continue;
        const int64_t raw = e.pts & (kWrap - 1);
        const int64_t at = previous < 0 ? raw : unwrapPts(raw, previous);
        if (previous < 0) start = at;
        previous = at;
        t[static_cast<size_t>(g)] = double(at - start) / 90000.0;
        known[static_cast<size_t>(g)] = true;
    }
    // The usual GOP length, from neighbours that both have a time.
    std::vector<double> lengths;
    for (int64_t g = 1; g < count; ++g)
        if (known[g] && known[g - 1] && t[g] > t[g - 1]) lengths.push_back(t[g] - t[g - 1]);
    double usual = 0.5;
    if (!lengths.empty()) {
        std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
        usual = lengths[lengths.size() / 2];
    }
    double origin = 0;
    for (int64_t g = 0; g < count; ++g)
        if (known[g]) {
            origin = t[g] - usual * double(g);
            break;
        }
    for (int64_t g = 0; g < count; ++g) {
        if (!known[g]) t[g] = g == 0 ? origin : t[g - 1] + usual;
        if (g > 0 && t[g] <= t[g - 1]) t[g] = t[g - 1] + 0.001;  // times must rise
    }
    const double first = count > 0 ? t[0] : 0;
    for (double& v : t) v -= first;
    endTime = count > 0 ? t.back() + usual : 0;
    return t;
}

}  // namespace

std::string noDecoderText(const AudioStream& stream) {
    char text[160];
    std::snprintf(text, sizeof text, "%s (PID 0x%04X, stream type 0x%02X: private data that is neither AC-3 nor AAC)",
                  kMsgAudioCodec, stream.pid, stream.streamType);
    return text;
}

DetectStatus runDetectJob(const EditState& state, JobHost& host, DetectResult& out) {
    out = DetectResult{};
    const std::string& path = state.inputPath;
    int64_t count = 0;
    while (count < static_cast<int64_t>(state.gopList.size()) && !state.gopList[static_cast<size_t>(count)].isLast())
        ++count;
    out.gopCount = count;
    if (count == 0) {
        host.showFileError(tavrel::kMsgNoGop, path, 0);
        return DetectStatus::NoVideo;
    }
    AudioStream stream;
    if (!findFirstAudioStream(path, state.geometry, stream)) {
        if (stream.pid >= 0) {
            host.showFileError(noDecoderText(stream), path, 0);
            return DetectStatus::AudioCodec;
        }
        host.showFileError(kMsgNoAudio, path, 0);
        return DetectStatus::NoAudio;
    }
    Signals signals;
    signals.gopTime = gopTimes(state.gopList, count, signals.endTime);
    if (signals.endTime < kShortestSpot) {
        host.showFileError(kMsgTooShort, path, 0);
        return DetectStatus::TooShort;
    }
    // The audio's time line starts at the first GOP's PTS.
    int64_t originPts = 0;
    for (int64_t g = 0; g < count; ++g)
        if (std::string(state.gopList[static_cast<size_t>(g)].ptsText) != GopEntry::kNoPtsText) {
            originPts = state.gopList[static_cast<size_t>(g)].pts;
            break;
        }

    host.setProgressRange(kProgressMax);
    host.setProgress(0);
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> audioDone{0}, audioTotal{1};
    AudioAnalysis audio;
    std::thread audioThread([&] {
        analyseAudio(
            path, state.geometry, stream, originPts, AudioOptions{},
            [&](int64_t done, int64_t total) {
                audioDone = done;
                audioTotal = std::max<int64_t>(total, 1);
                return !cancel.load();
            },
            audio);
    });
    const auto progress = [&](int64_t gopsDone) {
        const double a = double(audioDone.load()) / double(audioTotal.load());
        const double p = double(gopsDone) / double(count);
        host.setProgress(static_cast<int32_t>((std::min(a, 1.0) + std::min(p, 1.0)) / 2 * kProgressMax));
    };

    // One reduced I picture per GOP.
    PictureCollector collector(count);
    kivra::DcPictureReader reader;
    reader.setThreads(1);  // the audio has the other core
    bool opened = false, readFailed = false;
    int openPid = -1;
    kivra::DcPicture pic;
    for (int64_t g = 0; g < count; ++g) {
        if ((g & 15) == 0) {
            if (host.cancelRequested()) {
                cancel = true;
                break;
            }
            progress(g);
        }
        const auto request = previewRequest(state, g, PictureOptions{});
        if (!request) continue;
        if (!opened) {
            if (!reader.open(path, state.geometry.size, request->videoPid)) {
                readFailed = true;
                break;
            }
            opened = true;
            openPid = request->videoPid;
        } else if (request->videoPid != openPid) {
            reader.setVideoPid(request->videoPid);
            openPid = request->videoPid;
        }
        if (reader.read(request->position, pic) == kivra::DcResult::Picture)
            collector.add(g, pic.y.data(), pic.width, pic.height);
    }
    if (readFailed) cancel = true;
    audioThread.join();
    if (host.cancelRequested() && !readFailed) return DetectStatus::Cancelled;
    if (readFailed) {
        host.showFileError(kMsgRead, path, errno);
        return DetectStatus::ReadError;
    }
    switch (audio.status) {
    case AudioStatus::Ok: break;
    case AudioStatus::Cancelled: return DetectStatus::Cancelled;
    case AudioStatus::NoAudio: host.showFileError(kMsgNoAudio, path, 0); return DetectStatus::NoAudio;
    case AudioStatus::CodecUnsupported:
    case AudioStatus::NothingDecoded: {
        char head[64];
        std::snprintf(head, sizeof head, " (PID 0x%04X, stream type 0x%02X", stream.pid, stream.streamType);
        std::string what = head;
        if (!audio.detail.empty()) what += ", " + audio.detail;
        what += ")";
        host.showFileError(std::string(kMsgAudioCodec) + what, path, 0);
        return DetectStatus::AudioCodec;
    }
    case AudioStatus::ReadError:
        host.showFileError(
            audio.detail.empty() ? std::string(kMsgRead) : std::string(kMsgRead) + " (" + audio.detail + ")", path, 0);
        return DetectStatus::ReadError;
    }
    progress(count);

    PictureSignals pictures;
    collector.finish(pictures);
    signals.change = std::move(pictures.change);
    signals.logo = std::move(pictures.logo);
    signals.logoFound = pictures.logoFound;
    signals.logoEdges = pictures.logoSamples;
    signals.silences = std::move(audio.silences);
    out.logoFound = pictures.logoFound;
    // TAVREL_DETECT_TRACE=1: what the rules were given, on stderr.
    if (std::getenv("TAVREL_DETECT_TRACE")) {
        std::fprintf(stderr, "detect: logo %s (corner %d, %d edges)\n", pictures.logoFound ? "found" : "not found",
                     pictures.logoCorner, pictures.logoSamples);
        for (const Silence& q : signals.silences) std::fprintf(stderr, "detect: silence %.3f-%.3f\n", q.start, q.end);
        for (const Edge& e : findEdges(signals))
            std::fprintf(stderr, "detect: edge %.3f at GOP %lld\n", e.time, static_cast<long long>(e.gop));
        for (size_t g = 0; g < signals.gopTime.size(); ++g)
            std::fprintf(stderr, "detect: GOP %zu %.3f change %.1f logo %d\n", g, signals.gopTime[g], signals.change[g],
                         signals.logo[g]);
    }
    out.breaks = findBreaks(signals);
    out.parts = partsBetween(out.breaks, count);
    host.setProgress(kProgressMax);
    return DetectStatus::Ok;
}

}  // namespace tavrel::detect
