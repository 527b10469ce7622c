// Reduced-size I pictures for scanning whole recordings.
//
// DcPictureReader gives the first I picture at or after a byte position at
// 1/8 of its size in each direction, made from the DC coefficient of every
// 8x8 block alone: the AC coefficients are parsed past (the bit stream has
// no other way to find the next block) but never dequantised or transformed.
// One pixel of the result is the mean of one 8x8 block of the full picture
// (a 1440x1080 picture gives 180x135 luma samples and 90x68 samples in each
// 4:2:0 chroma plane). It costs a fraction of a full decode, so a caller
// can look at every GOP of a two-hour recording (about 14,000 GOPs) in
// seconds.
//
// This is an internal C++ interface of Kivra, not part of the exported C
// interface (kivra.h): programs that link the kivra target get it compiled
// in, with a state of its own. It shares no state with TsOpen/TsRead, so it
// may run on any thread beside them; one reader is used by one thread at a
// time.
//
// Typical use, one reader for a whole recording:
//
//     kivra::DcPictureReader reader;
//     if (!reader.open(path, packetSize, videoPid)) ...;
//     kivra::DcPicture pic;
//     for (const auto& gop : gops)
//         if (reader.read(gop.packet * packetSize, pic) == kivra::DcResult::Picture)
//             use(pic.y, pic.width, pic.height, ...);
//
// What the values are:
// - y[r * width + c] is the mean of luma block (c, r) rounded to the nearest
//   level, 0..255 (the block's DC coefficient / 8, plus 128), the same levels
//   as the full decode's planes (studio range, 16..235 for normal video).
// - For blocks coded with field DCT (interlaced frame pictures), and for
//   field pictures, a block's DC covers 8 lines of one field, that is 16
//   picture lines: the two vertically adjacent samples of such a block get
//   the mean of both fields' blocks. Where the fields differ (motion), the
//   reduced picture is their blend, as an interlaced frame looks when scaled
//   down.
// - An I field followed by a P field (an I/P field pair) gives the I field's
//   samples for both fields.
// - Sizes are cropped to the picture (horizontal_size, vertical_size), not
//   the coded size: width = ceil(horizontal_size / 8).
//
// The mean absolute difference to the full decode box-filtered 8x8 is about
// one level on broadcast-like material (tests/kivra/test_dc_picture.cpp
// checks <= 2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kivra {

class Demux;
class BitReader;
class Decoder;

struct DcPicture {
    // Luma plane: width x height samples, rows without padding.
    int width = 0, height = 0;
    // Each chroma plane: 4:2:0 halves both sizes, 4:2:2 only the width.
    int chromaWidth = 0, chromaHeight = 0;
    int chromaFormat = 1;  // 1 = 4:2:0, 2 = 4:2:2
    std::vector<uint8_t> y, cb, cr;

    // The full picture this was made from.
    int horizontalSize = 0, verticalSize = 0;  // picture size
    int aspectRatioCode = 0;                   // aspect_ratio_information
    int temporalReference = 0;
    bool progressiveFrame = true;
    bool fieldPictures = false;  // coded as a field pair
    // File offset of the packet the picture header was found in (the
    // reader's position when it read the header, at most one read block past
    // the header).
    int64_t pictureOffset = 0;
};

enum class DcResult {
    Picture,      // pic holds the picture
    NoPicture,    // no I picture within the packet limit, or a damaged one
    EndOfFile,    // the file ended before an I picture was complete
    Unsupported,  // MPEG-1 video or 4:4:4 chroma: nothing this reader makes
    NotOpen,
};

class DcPictureReader {
public:
    DcPictureReader();
    ~DcPictureReader();
    DcPictureReader(const DcPictureReader&) = delete;
    DcPictureReader& operator=(const DcPictureReader&) = delete;

    // Opens a recording. packetSize 188, 192, 204 or 208 (what the GOP
    // scanner found); videoPid the 13-bit PID of the video. packetSize 0
    // reads the file as a plain MPEG-2 video elementary stream. False when
    // the file cannot be opened.
    bool open(const std::string& path, int packetSize, int videoPid);
    // The same over bytes in memory (kept by the caller while reading).
    void openMemory(const uint8_t* data, size_t size, int packetSize, int videoPid);
    void close();
    bool isOpen() const;

    // Transport packets (all PIDs) one read may examine before it gives up
    // with NoPicture; 0 = no limit. Default 4000, as the preview.
    void setPacketLimit(uint64_t packets);
    // Another video PID for the following reads (same file).
    void setVideoPid(int pid);
    // Threads a read may use: a frame picture's slices are split between
    // the calling thread and a helper thread of the reader's own (kept until
    // close). 0 (the default) = two when there are two cores, 1 = the
    // calling thread alone. The pictures are the same either way.
    void setThreads(int threads);

    // Reads the first I picture at or after byte position (a packet
    // boundary) into pic. The reader keeps its buffers and the last sequence
    // header between reads, so a read after a GOP start without a sequence
    // header still works once one was seen. pic's planes are resized as
    // needed and reused.
    DcResult read(int64_t position, DcPicture& pic);

    // Transport packets examined and bytes read from the file by the last
    // read (what the cost of a read is made of).
    uint64_t lastPackets() const;
    int64_t lastBytesRead() const;

    struct State;  // defined in dc_picture.cpp

private:
    std::unique_ptr<State> m;
};

// Converts a reduced picture to top-down 24-bit RGB (R, G, B per pixel),
// width x height, with the same BT.601 conversion as the preview; chroma
// samples are repeated (nearest neighbour).
void dcPictureToRgb(const DcPicture& pic, std::vector<uint8_t>& rgb);

// Box-filters a full-size plane 8x8 (each output the rounded mean of the
// block, partial blocks at the right and bottom edges averaged over the
// samples they have) into a w8 x h8 plane, w8 = ceil(w / 8). The reference
// the reduced pictures are checked against.
void boxReduce8(const uint8_t* src, ptrdiff_t stride, int w, int h, std::vector<uint8_t>& out);

}  // namespace kivra
