#include "file_info.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "edit_state.h"
#include "file.h"
#include "host.h"
#include "program_tables.h"
#include "ts_packet.h"

namespace tavrel {

namespace {

constexpr int kBlockPackets = 100;

// Bit rates in kbit/s of ISO/IEC 11172-3, by layer (I, II, III).
constexpr int32_t kMpegBitRates[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
};
constexpr int32_t kMpegSamplingRates[4] = {44100, 48000, 32000, 0};
constexpr int32_t kAdtsSamplingRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                            16000, 12000, 11025, 8000,  0,     0,     0,     0};

// Layer bits 3, 2, 1 are layers I, II, III; 0 is reserved.
int layerIndex(const uint8_t* h) {
    const int bits = (h[1] >> 1) & 3;
    return bits == 0 ? -1 : 3 - bits;
}

bool isMpegAudioSync(const uint8_t* h) { return h[0] == 0xFF && h[1] >= 0xFA; }

std::string format(const char* fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// The signed low 32 bits of a difference as a 90 kHz time text.
std::string differenceText(int64_t diff) {
    return time90kText(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(diff))));
}

}  // namespace

bool gatherPacket(std::span<const uint8_t> packet, int32_t syncOffset, int32_t pid, uint8_t* buf, size_t capacity,
                  size_t& fill) {
    if (syncOffset < 0 || packet.size() < static_cast<size_t>(syncOffset) + 5) return false;
    const uint8_t* p = packet.data() + syncOffset;
    if (p[0] != 0x47) return false;
    if (packetPid(p) != pid) return false;
    if (!packetPusi(p) && fill == 0) return false;
    size_t start = 0;
    switch (packetAfc(p)) {
    case 1: start = static_cast<size_t>(syncOffset) + 4; break;
    case 3: start = static_cast<size_t>(syncOffset) + 5 + p[4]; break;
    default: return false;
    }
    if (start >= packet.size()) return false;
    const size_t n = packet.size() - start;
    if (fill + n > capacity) return false;
    std::memcpy(buf + fill, packet.data() + start, n);
    fill += n;
    return true;
}

int32_t mpegAudioFrameSize(const uint8_t* h) {
    const int layer = layerIndex(h);
    if (layer < 0) return 0;
    const int32_t bitRate = kMpegBitRates[layer][(h[2] >> 4) & 0x0F];
    const int32_t rate = kMpegSamplingRates[(h[2] >> 2) & 3];
    if (bitRate <= 0 || rate == 0) return 0;
    const int padding = (h[2] >> 1) & 1;
    const double khz = rate / 1000.0;
    if (layer == 0) return 4 * static_cast<int32_t>(12 * bitRate / khz + padding);
    return static_cast<int32_t>(144 * bitRate / khz + padding);
}

bool plausibleMpegAudioSync(const uint8_t* h) {
    if (!isMpegAudioSync(h)) return false;
    const int32_t size = mpegAudioFrameSize(h);
    return size >= 384 && size <= 1152 && size % 32 == 0;
}

bool isAdtsSync(const uint8_t* h) {
    return h[0] == 0xFF && (h[1] == 0xF8 || h[1] == 0xF9 || h[1] == 0xF0 || h[1] == 0xF1);
}

void decodeAdtsHeader(const uint8_t* h, FileInfoRecord& r) {
    static const char* const kProfiles[4] = {"MAIN", "LC", "SSR", "reserved"};
    // The ID bit tells which identifier the encoder wrote: 1 MPEG-2, 0 MPEG-4.
    r.audioFormat = (h[1] & 0x08) ? "MPEG2 AAC" : "MPEG4 AAC";
    r.audioLayer = kProfiles[(h[2] >> 6) & 3];
    r.samplingRate = kAdtsSamplingRates[(h[2] >> 2) & 0x0F];
    const int channels = ((h[2] & 1) << 2) | ((h[3] >> 6) & 3);
    r.channelText = format("%d ch", channels);
    r.frameLength = ((h[3] & 3) << 11) | (h[4] << 3) | ((h[5] >> 5) & 7);
    const int fullness = ((h[5] & 0x1F) << 6) | ((h[6] >> 2) & 0x3F);
    r.variableRate = fullness == 0x7FF ? 1 : 0;
    r.audioBitRate = 8 * static_cast<int32_t>(r.frameLength * r.samplingRate / 1024 + 0.5);
    r.frameTime = r.samplingRate > 0 ? r.frameLength / (r.samplingRate / 1000) : 0;
}

void decodeMpegAudioHeader(const uint8_t* h, FileInfoRecord& r) {
    static const char* const kLayers[3] = {"Layer-1", "Layer-2", "Layer-3"};
    static const char* const kModes[4] = {"Stereo", "Joint Stereo", "Dual Channel", "Single channel (Mono)"};
    r.audioFormat = "MPEG1";
    const int layer = layerIndex(h);
    r.audioLayer = layer < 0 ? "" : kLayers[layer];
    const int32_t bitRate = layer < 0 ? 0 : kMpegBitRates[layer][(h[2] >> 4) & 0x0F];
    r.audioBitRate = bitRate < 0 ? 0 : bitRate;
    r.samplingRate = kMpegSamplingRates[(h[2] >> 2) & 3];
    r.frameLength = mpegAudioFrameSize(h);
    r.frameTime = r.samplingRate > 0 ? r.frameLength / (r.samplingRate / 1000) : 0;
    r.channelText = kModes[(h[3] >> 6) & 3];
}

void decodeSequenceHeader(const uint8_t* h, FileInfoRecord& r) {
    static const char* const kAspects[5] = {"?", "1 : 1", "4 : 3", "16 : 9", "2.21 : 1"};
    static const char* const kRates[9] = {"?", "23.976", "24", "25", "29.97", "30", "50", "59.94", "60"};
    const uint8_t* b = h + 4;
    r.horizontalSize = (b[0] << 4) | (b[1] >> 4);
    r.verticalSize = ((b[1] & 0x0F) << 8) | b[2];
    const int aspect = b[3] >> 4;
    const int rate = b[3] & 0x0F;
    r.aspectText = aspect <= 4 ? kAspects[aspect] : "?";
    r.frameRateText = rate <= 8 ? kRates[rate] : "?";
    const uint32_t bitRateValue = (uint32_t(b[4]) << 10) | (uint32_t(b[5]) << 2) | (b[6] >> 6);
    const uint32_t vbvValue = ((uint32_t(b[6]) & 0x1F) << 5) | (b[7] >> 3);
    r.bitRate = (bitRateValue + (uint32_t(r.bitRateExtension) << 18)) * 400u;
    r.vbvBuffer = (vbvValue + (uint32_t(r.vbvBufferSizeExtension) << 10)) * 16384u;
}

void decodeSequenceExtension(const uint8_t* h, FileInfoRecord& r) {
    const uint8_t* b = h + 4;
    r.progressiveSequence = (b[1] >> 3) & 1;
    r.bitRateExtension = ((b[2] & 0x1F) << 7) | (b[3] >> 1);
    r.vbvBufferSizeExtension = b[4];
}

bool examineFileInfoPosition(FileInfoScan& scan, FileInfoPass pass, int streamType, const uint8_t* data, size_t fill,
                             size_t pos) {
    if (pos + 4 > fill) return false;
    const uint8_t* s = data + pos;
    if (s[0] != 0 || s[1] != 0 || s[2] != 1) return false;
    FileInfoRecord& r = scan.record;
    const uint8_t code = s[3];
    const size_t avail = fill - pos;
    // The PES header's PTS (q at PES_packet_length needs 15 bytes).
    auto readPts = [&](int64_t& pts, std::string& text) {
        if (avail < 4 + 15) return false;
        int64_t dts = 0;
        char buf[32] = {};
        if (!readPesTimestamps(s + 4, pts, dts, buf)) return false;
        text = buf;
        return true;
    };

    if (code == 0xB3) {
        if (avail < 12) return false;
        decodeSequenceHeader(s, r);
        ++r.videoCount;
        ++r.sequenceHeaderCount;
        return pass == FileInfoPass::Video && r.videoCount == 3;
    }
    if (code == 0xB5) {
        if (avail < 10 || (s[4] >> 4) != 1 || r.sequenceHeaderCount != 1) return false;
        decodeSequenceExtension(s, r);
        ++r.videoCount;
        return pass == FileInfoPass::Video && r.videoCount == 3;
    }
    if (code >= 0xE0 && code <= 0xEF) {
        if (scan.videoGuard != 0 || !readPts(r.videoPts, r.videoPtsText)) return false;
        if (r.videoCount++ == 2) return pass == FileInfoPass::Video;
        scan.videoGuard = 1;
        return false;
    }
    if (code >= 0xC0 && code <= 0xDF) {
        if (scan.audioGuard == 0 && readPts(r.audioPts, r.audioPtsText)) {
            if (r.audioCount++ == 1 && pass == FileInfoPass::Audio) return true;
            scan.audioGuard = 1;
        }
        if (streamType != 0x0F && streamType != 0x03) return false;
        const size_t headerSize = streamType == 0x0F ? 7 : 4;
        // The search starts at the stream id; a sync there does not count.
        for (size_t j = pos + 4; j + headerSize <= fill; ++j) {
            const uint8_t* h = data + j;
            if (h[0] != 0xFF) continue;
            if (streamType == 0x0F ? !isAdtsSync(h) : !plausibleMpegAudioSync(h)) continue;
            if (streamType == 0x0F)
                decodeAdtsHeader(h, r);
            else
                decodeMpegAudioHeader(h, r);
            ++r.audioCount;
            return pass == FileInfoPass::Audio && r.audioCount == 2;
        }
    }
    return false;
}

std::string fileInfoText(const FileInfoRecord& r) {
    std::string t;
    t += "\r\n < Video >\r\n";
    t += format("    Resolution    = %d x %d\r\n", r.horizontalSize, r.verticalSize);
    t += format("    Aspect ratio  = %s\r\n", r.aspectText.c_str());
    t += format("    Frame rate    = %s\r\n", r.frameRateText.c_str());
    t += format("    bitrate       = %u\r\n", r.bitRate);
    t += format("    VBV Buffer    = %u\r\n", r.vbvBuffer);
    t += format("    Video PTS     = %s\r\n", r.videoPtsText.c_str());
    t += "\r\n < Audio >\r\n";
    t += format("    Format        = %s %s\r\n", r.audioFormat.c_str(), r.audioLayer.c_str());
    t += format("    Sampling rate = %d Hz\r\n", static_cast<int>(r.samplingRate));
    if (r.variableRate) {
        t += format("    Bitrate       = %s\r\n", "VBR");
        t += format("    Channel       = %s\r\n", r.channelText.c_str());
        t += format("    Frame Length  = %s (%s ms)\r\n", "---", "---");
    } else {
        t += format("    Bitrate       = %d\r\n", r.audioBitRate);
        t += format("    Channel       = %s\r\n", r.channelText.c_str());
        t += format("    Frame Length  = %d (%0.2f ms)\r\n", r.frameLength, r.frameTime);
    }
    t += format("    Audio PTS     = %s\r\n", r.audioPtsText.c_str());
    if (r.audioPts >= r.videoPts)
        t += format("\r\n    Audio delay   = %s\r\n", differenceText(r.audioPts - r.videoPts).c_str());
    else
        t += format("\r\n    Audio early   = %s\r\n", differenceText(r.videoPts - r.audioPts).c_str());
    return t;
}

bool runFileInfoPass(const std::string& path, JobHost& host, FileInfoScan& scan, FileInfoPass pass, int32_t pid,
                     int streamType, int64_t startPacket) {
    File f;
    if (!f.openRead(path)) {
        host.showFileError(kMsgInputOpen, path, f.error());
        return false;
    }
    PacketGeometry g;
    if (!detectPacketGeometry(f, g) || g.size < 188) {
        host.showFileError("Not MPEG2 Transport Stream", path, 0);
        return false;
    }
    const int64_t size = g.size;
    std::vector<uint8_t> gathered(kFileInfoBufferSize);
    std::vector<uint8_t> block(kFileInfoBufferSize);
    size_t fill = 0;
    auto readError = [&] {
        host.showFileError(kMsgRead, path, f.error());
        return false;
    };

    const int64_t startByte = startPacket * size;
    if (!f.seek(startByte)) return readError();
    const int64_t first = f.read(block.data(), static_cast<size_t>(size));
    if (first < 0) return readError();
    if (first == size)
        gatherPacket({block.data(), static_cast<size_t>(size)}, g.syncOffset, pid, gathered.data(), gathered.size(),
                     fill);

    const int64_t blockBytes = kBlockPackets * size;
    const int64_t last = (f.size() - size) / blockBytes;
    for (int64_t n = (startByte + size) / blockBytes; n <= last; ++n) {
        std::memset(block.data(), 0, block.size());
        const int64_t got = f.read(block.data(), static_cast<size_t>(blockBytes));
        if (got < 0) return readError();
        const int64_t packets = got / size;
        if (packets == 0) break;
        size_t examineTo = fill;
        for (int64_t i = 0; i < packets; ++i) {
            if (i == packets - 1) examineTo = fill;
            gatherPacket({block.data() + i * size, static_cast<size_t>(size)}, g.syncOffset, pid, gathered.data(),
                         gathered.size(), fill);
        }
        if (n == last) break;
        for (size_t pos = 0; pos < examineTo; ++pos)
            if (examineFileInfoPosition(scan, pass, streamType, gathered.data(), fill, pos)) return true;
        std::memmove(gathered.data(), gathered.data() + examineTo, fill - examineTo);
        fill -= examineTo;
    }
    return true;
}

std::optional<std::string> runFileInfoPasses(const EditState& state, JobHost& host, int64_t startPacket,
                                             FileInfoRecord* recordOut) {
    FileInfoScan scan;  // record and both guards start at zero
    const ProgramList& list = state.fileInfoPidList;
    bool ok = true;
    if (const ProgramEntry* v = findProgramEntry(list, kKindVideo, FindBy::Kind))
        ok = runFileInfoPass(state.inputPath, host, scan, FileInfoPass::Video, v->pid, v->streamType, startPacket);
    if (ok)
        if (const ProgramEntry* a = findProgramEntry(list, kKindAudio, FindBy::Kind))
            ok = runFileInfoPass(state.inputPath, host, scan, FileInfoPass::Audio, a->pid, a->streamType, startPacket);
    if (!ok) return std::nullopt;
    if (recordOut) *recordOut = scan.record;
    return fileInfoText(scan.record);
}

bool acquireFileInfoPrograms(EditState& state, JobHost& host, int64_t startPacket) {
    acquirePids(state, host, startPacket, ProgramListChoice::FileInfo);
    if (state.fileInfoPidList.count() >= 1) return true;
    state.fileInfoPidList.clear();
    host.showMessage("error", "ＰＩＤ情報の取得に失敗しました", MsgKind::Ok);
    return false;
}

std::optional<std::string> runFileInfo(EditState& state, JobHost& host, int64_t startPacket,
                                       FileInfoRecord* recordOut) {
    if (state.inputPath.empty() || !acquireFileInfoPrograms(state, host, startPacket)) return std::nullopt;
    std::optional<std::string> text = runFileInfoPasses(state, host, startPacket, recordOut);
    state.fileInfoPidList.clear();
    return text;
}

}  // namespace tavrel
