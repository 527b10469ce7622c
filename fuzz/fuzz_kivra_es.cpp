// Arbitrary bytes as a video elementary stream into the picture decoder:
// headers, pictures and slices until the data ends.
#include <cstdint>
#include <cstring>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kivra;
    static Dsp dsp = [] {
        Dsp d;
        initDsp(d, kCpuAll);
        return d;
    }();
    Demux dm;
    dm.attachMemory(data, size);
    dm.setTransport(false);
    dm.setServeTail(true);
    dm.setPacketLimit(0);
    dm.seek(0);
    dm.start();
    BitReader br;
    br.attach(&dm);
    br.setStrictStop(false);
    Decoder dec;
    dec.setDsp(&dsp);
    dec.attach(&br);
    dec.setMaxPixels(int64_t(1920) * 1088);
    RgbPicture rgb;
    for (int pictures = 0; pictures < 64; ++pictures) {
        if (dec.readHeaders(-1) != Decoder::HeaderResult::Picture) break;
        if (!dec.canDecode()) continue;
        if (!dec.decodePicture()) continue;
        // A finished frame is described by the sequence state the host is
        // told about: the same coded size and chroma format as its planes,
        // the display size inside them.
        const FrameStore& f = dec.currentFrame();
        const SequenceState& s = dec.sequence();
        if (f.width != s.codedWidth || f.height != s.codedHeight || f.chromaFormat != s.chromaFormat ||
            s.horizontalSize > f.width || s.verticalSize > f.height)
            __builtin_trap();
        if (pictures % 8 == 0) rgb.convert(dsp, f, s, dec.currentRecord());
    }
    return 0;
}
