// Small transport stream probes for the tests and the conformance tool:
// packet size, the video PID and the packets that start a GOP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivra_test {

// The file's bytes, or its first maxBytes.
std::vector<uint8_t> readFile(const std::string& path, size_t maxBytes = SIZE_MAX);
// 188, 192, 204 or 208; 0 when the bytes are not a transport stream.
// offset (optional) gets the byte where the first whole packet starts.
int probePacketSize(const std::vector<uint8_t>& data, size_t* offset = nullptr);
// First PID whose payload starts a PES of stream 0xE0; -1 when none.
int probeVideoPid(const std::vector<uint8_t>& data, int packetSize);
// Indexes of the video packets whose PES carries a sequence header.
std::vector<int64_t> probeGopPackets(const std::vector<uint8_t>& data, int packetSize, int pid);

}  // namespace kivra_test
