// Elementary-stream helpers of the Kivra tests: the video bytes of a
// recording, start code search, a decoder over bytes in memory, and the
// way back into a transport stream for the exported flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"

namespace kivra_test {

// Everything the demultiplexer serves for the recording's video PID.
std::vector<uint8_t> elementaryStream(const std::string& ts);

// Offset of the start code 00 00 01 code at or after from (npos: none).
size_t findCode(const std::vector<uint8_t>& es, uint8_t code, size_t from);

// es as one PES packet on PID 0x100 in 188-byte packets, followed by
// padding packets so the end guard of a read lies past the video.
std::vector<uint8_t> transportStream(const std::vector<uint8_t>& es, size_t paddingPackets = 600);

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

struct EsDecoder {
    explicit EsDecoder(const std::vector<uint8_t>& es);
    std::vector<uint8_t> bytes;
    kivra::Dsp dsp{};
    kivra::Demux dm;
    kivra::BitReader br;
    kivra::Decoder dec;
};

}  // namespace kivra_test
