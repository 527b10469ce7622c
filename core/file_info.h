// File Info: the first sequence header, audio frame header and PTS of each
// elementary stream from a start packet on, and the dialog text built from
// them. Plain functions over byte spans, plus the job that reads the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavrel {

class JobHost;
struct EditState;

// Capacity of the gathered stream and of the read buffer.
constexpr size_t kFileInfoBufferSize = 22000;

// What the passes found (zeroed at the start of a run).
struct FileInfoRecord {
    int32_t horizontalSize = 0;
    int32_t verticalSize = 0;
    std::string aspectText;
    std::string frameRateText;
    uint32_t bitRate = 0;    // bits per second
    uint32_t vbvBuffer = 0;  // bits
    int64_t videoPts = 0;
    std::string videoPtsText;
    int32_t progressiveSequence = 0;
    int32_t bitRateExtension = 0;
    int32_t vbvBufferSizeExtension = 0;
    int32_t videoCount = 0;
    int32_t sequenceHeaderCount = 0;
    std::string audioFormat;
    std::string audioLayer;  // layer or AAC profile
    double samplingRate = 0;
    int32_t audioBitRate = 0;
    std::string channelText;
    int32_t frameLength = 0;
    double frameTime = 0;  // ms
    int64_t audioPts = 0;
    std::string audioPtsText;
    int32_t variableRate = 0;
    int32_t audioCount = 0;
};

// One run: the record and the two first-PTS guards.
struct FileInfoScan {
    FileInfoRecord record;
    int32_t videoGuard = 0;
    int32_t audioGuard = 0;
};

// Appends the payload of one stored packet (packetSize bytes, sync byte at
// syncOffset) to buf when it belongs to pid; nothing until a packet with
// payload_unit_start_indicator has been gathered. The payload runs to the
// end of the stored packet. False when nothing was appended (also when it
// would not fit in capacity).
bool gatherPacket(std::span<const uint8_t> packet, int32_t syncOffset, int32_t pid, uint8_t* buf, size_t capacity,
                  size_t& fill);

// The MPEG-1 audio frame size of the header at h[0] = 0xFF (4 bytes), by
// the bit-rate and sampling-rate tables of ISO/IEC 11172-3; 0 when the
// header names a reserved layer, free or bad bit rate or reserved rate.
int32_t mpegAudioFrameSize(const uint8_t* h);
// An MPEG audio sync (0xFF, then 0xFA to 0xFF) whose frame size lies
// between 384 and 1,152 bytes and is a multiple of 32.
bool plausibleMpegAudioSync(const uint8_t* h);
// 0xFF followed by an ADTS layer byte: 0xF8/0xF9 (MPEG-2 identifier) or
// 0xF0/0xF1 (MPEG-4 identifier).
bool isAdtsSync(const uint8_t* h);

// Header decodes into the record (h at the 0xFF byte; 7 and 4 bytes).
void decodeAdtsHeader(const uint8_t* h, FileInfoRecord& r);
void decodeMpegAudioHeader(const uint8_t* h, FileInfoRecord& r);
// h at 00 00 01 B3 (12 bytes) / 00 00 01 B5 (10 bytes).
void decodeSequenceHeader(const uint8_t* h, FileInfoRecord& r);
void decodeSequenceExtension(const uint8_t* h, FileInfoRecord& r);

enum class FileInfoPass { Video, Audio };

// Examines position pos of the gathered data (fill bytes) for a start code
// and updates the scan. Bytes beyond fill are never read. True when the
// pass's counts are complete.
bool examineFileInfoPosition(FileInfoScan& scan, FileInfoPass pass, int streamType, const uint8_t* data, size_t fill,
                             size_t pos);

// The dialog text, with "\r\n" line ends.
std::string fileInfoText(const FileInfoRecord& r);

// Reads one pass over the file from startPacket (blocks of 100 packets; the
// file's last block is gathered but not examined). False with the message
// shown on an open or read error or when the file has no packet geometry.
bool runFileInfoPass(const std::string& path, JobHost& host, FileInfoScan& scan, FileInfoPass pass, int32_t pid,
                     int streamType, int64_t startPacket);

// The PID acquisition into the File Info list from startPacket. An empty
// list shows "ＰＩＤ情報の取得に失敗しました" and gives false.
bool acquireFileInfoPrograms(EditState& state, JobHost& host, int64_t startPacket);

// The video and audio passes over the File Info list as it stands (the
// first video and the first audio entry; a missing entry skips its pass),
// from startPacket. The dialog text, or nullopt with the message shown when
// a pass fails. The list is left as it is.
std::optional<std::string> runFileInfoPasses(const EditState& state, JobHost& host, int64_t startPacket,
                                             FileInfoRecord* recordOut = nullptr);

// "File Info": acquires the program list into the File Info list, runs the
// video and audio passes and returns the dialog text; nullopt (with the
// message shown) when a step fails or no input is named. The File Info list
// is emptied again at the end.
std::optional<std::string> runFileInfo(EditState& state, JobHost& host, int64_t startPacket,
                                       FileInfoRecord* recordOut = nullptr);

}  // namespace tavrel
