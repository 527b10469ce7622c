// The break detector's audio signal over arbitrary bytes: the stream search
// and the PES gathering, parsing, decoding and level windows, for each
// packet size, with the stream found in the bytes and with one more decoder
// picked by the last byte over the PID of the first packet.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "audio_levels.h"

namespace {

using namespace tavrel;
using namespace tavrel::detect;

void check(const AudioAnalysis& a, const AudioOptions& o) {
    if (a.status != AudioStatus::Ok) {
        if (!a.levelDb.empty() || !a.silences.empty()) __builtin_trap();
        return;
    }
    if (!(a.duration > 0) || !std::isfinite(a.start)) __builtin_trap();
    for (float db : a.levelDb)
        if (!(db >= -120.0f && db <= 200.0f)) __builtin_trap();
    const double end = a.start + static_cast<double>(a.levelDb.size()) * o.windowSeconds;
    double last = a.start;
    for (const Silence& s : a.silences) {
        if (s.start < last - 1e-9 || s.end > end + 1e-6 || s.end - s.start < o.minSilence - 1e-6) __builtin_trap();
        last = s.end;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kCodecs[] = {"mp2", "mp3", "aac", "aac_latm", "ac3", "eac3"};
    const AudioOptions options;
    for (int32_t packet : {188, 192, 204, 208}) {
        const PacketGeometry g = geometryForSize(packet);
        AudioAnalysis out;
        AudioStream found;
        if (findFirstAudioStreamInBuffer(data, size, g, found)) {
            if (found.pid < 0 || found.pid > 0x1FFF) __builtin_trap();
            analyseAudioBuffer(data, size, g, found, -1, options, out);
            check(out, options);
        }
        const size_t sync = static_cast<size_t>(g.syncOffset);
        if (size < sync + 3) continue;
        AudioStream other;
        other.pid = found.pid >= 0 ? found.pid : ((data[sync + 1] & 0x1F) << 8) | data[sync + 2];
        other.streamType = 0x06;
        other.codecName = kCodecs[data[size - 1] % 6];
        analyseAudioBuffer(data, size, g, other, data[size - 1] & 1 ? -1 : (int64_t{1} << 33) - 1, options, out);
        check(out, options);
    }
    return 0;
}
