// File Info over arbitrary bytes: the gatherer over packets of every stored
// size, then every position examined for both passes and stream types.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "file_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t sizes[4] = {188, 192, 204, 208};
    const int32_t packetSize = sizes[data[0] & 3];
    const int32_t syncOffset = packetSize == 192 || packetSize == 208 ? 4 : 0;
    const int32_t pid = size > 2 ? ((data[1] & 0x1F) << 8) | data[2] : 0;
    std::vector<uint8_t> gathered(tavrel::kFileInfoBufferSize);
    size_t fill = 0;
    for (size_t at = 0; at + static_cast<size_t>(packetSize) <= size; at += static_cast<size_t>(packetSize)) {
        tavrel::gatherPacket({data + at, static_cast<size_t>(packetSize)}, syncOffset, pid, gathered.data(),
                             gathered.size(), fill);
        if (fill > gathered.size()) __builtin_trap();
    }
    // The raw bytes as gathered data too, so start codes need no packets.
    const uint8_t* views[2] = {gathered.data(), data};
    const size_t fills[2] = {fill, size};
    const int types[3] = {0x0F, 0x03, 0x81};
    for (int v = 0; v < 2; ++v) {
        for (int t : types) {
            for (tavrel::FileInfoPass pass : {tavrel::FileInfoPass::Video, tavrel::FileInfoPass::Audio}) {
                tavrel::FileInfoScan scan;
                for (size_t pos = 0; pos < fills[v]; ++pos)
                    if (tavrel::examineFileInfoPosition(scan, pass, t, views[v], fills[v], pos)) break;
                const std::string text = tavrel::fileInfoText(scan.record);
                if (text.find(" < Video >") == std::string::npos) __builtin_trap();
            }
        }
    }
    for (size_t i = 0; i + 4 <= size; ++i) {
        const int32_t n = tavrel::mpegAudioFrameSize(data + i);
        if (n < 0 || n > 8000) __builtin_trap();
        if (tavrel::plausibleMpegAudioSync(data + i) && (n % 32 != 0 || n < 384 || n > 1152)) __builtin_trap();
    }
    return 0;
}
