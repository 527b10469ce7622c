// Transport packet primitives: geometry detection, header and adaptation
// field parse, PES timestamps, 90 kHz time text and the backward PCR search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavrel {

class File;

// How packets are laid out in a file. Packet n starts at byte n * size; the
// 0x47 sync byte sits syncOffset bytes into it (4 behind a 192/208 prefix).
struct PacketGeometry {
    int32_t size = 0;        // 188, 192, 204, 208; 0 = not detected
    int32_t headerSize = 0;  // 4 once detected or loaded
    int32_t syncOffset = 0;  // 0 or 4
};

// Geometry for a known packet size (header 4, sync offset 4 for 192/208).
PacketGeometry geometryForSize(int32_t size);

struct AdaptationField {
    int32_t length = 0;
    int32_t discontinuity = 0;
    int32_t randomAccess = 0;
    int32_t esPriority = 0;
    int32_t pcrFlag = 0;
    int32_t opcrFlag = 0;
    int32_t splicingPointFlag = 0;
    int32_t privateDataFlag = 0;
    int32_t extensionFlag = 0;
    int64_t pcrBase = 0;
    int32_t pcrExt = 0;
    int64_t opcrBase = 0;
    int32_t opcrExt = 0;
    int32_t spliceCountdown = 0;
    int32_t privateDataLength = 0;
    int32_t extensionLength = 0;
    int32_t ltwFlag = 0;
    int32_t piecewiseRateFlag = 0;
    int32_t seamlessSpliceFlag = 0;
    int32_t ltwValid = 0;
    int32_t ltwOffset = 0;
    int32_t piecewiseRate = 0;
    int32_t spliceType = 0;
    int64_t dtsNextAu = 0;
};

struct PacketHeader {
    int32_t sync = 0;
    int32_t transportError = 0;
    int32_t pusi = 0;
    int32_t priority = 0;
    int32_t pid = 0;
    int32_t scrambling = 0;
    int32_t adaptationFieldControl = 0;
    int32_t cc = 0;
    int32_t payloadOffset = 0;  // from the sync byte
    AdaptationField af;
};

// Parses the packet whose sync byte is at p. With headerOnly only the
// adaptation field length is read. Fields that are absent keep their values.
// Reads at most 188 bytes from p. Fails only for a null pointer.
bool parsePacketHeader(const uint8_t* p, bool headerOnly, PacketHeader& h);

// Fast inline accessors for packet loops (p at the sync byte).
inline int packetPid(const uint8_t* p) { return ((p[1] & 0x1F) << 8) | p[2]; }
inline bool packetPusi(const uint8_t* p) { return (p[1] & 0x40) != 0; }
inline int packetAfc(const uint8_t* p) { return (p[3] >> 4) & 3; }

// q points at the PES_packet_length field (the byte after the stream id).
// The caller guarantees 15 readable bytes. Text buffers, when given, get the
// 90 kHz time texts. Fails (writing nothing) when the header has no PTS.
bool readPesTimestamps(const uint8_t* q, int64_t& pts, int64_t& dts, char* ptsText = nullptr, char* dtsText = nullptr);

// "%02d:%02d:%02d:%03d" of a 90 kHz value; hours are not wrapped. buf >= 16.
void formatTime90k(int64_t v, char* buf);
std::string time90kText(int64_t v);

// Geometry detection from the file start. The main variant reads until the
// end of the file; the batch variant gives up after its block limit.
// The file is left positioned at 0 in every case.
bool detectPacketGeometry(File& f, PacketGeometry& g);
bool detectPacketGeometryLimited(File& f, PacketGeometry& g);
// The same search over bytes already in memory (used by tests and fuzzing).
bool detectPacketGeometryInBuffer(std::span<const uint8_t> data, PacketGeometry& g);

// Walks back from packet start (exclusive) and returns the packet at which
// changeLimit PCR changes have been seen, or the earliest packet visited when
// fewer were found; -1 on error or when nothing was visited, 0 when the block
// buffer cannot be allocated.
int64_t findPcrBackward(File& f, int64_t start, int32_t packetSize, int32_t changeLimit);

}  // namespace tavrel
