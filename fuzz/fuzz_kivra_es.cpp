// Arbitrary bytes as a video elementary stream into the picture decoder:
// headers, pictures and slices until the data ends; then the same bytes
// through the start code scan and the reduced-picture reader, from the
// start and from the middle.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dc_picture.h"
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

    // The start code scan finds what the byte-by-byte one finds.
    if (findStartCode(data, size) != findStartCodeC(data, size)) __builtin_trap();

    // A reduced picture's planes hold exactly the samples its sizes say.
    static DcPictureReader reader;
    reader.openMemory(data, size, 0, 0);
    for (size_t at : {size_t(0), size / 2}) {
        DcPicture pic;
        if (reader.read(int64_t(at), pic) != DcResult::Picture) continue;
        if (pic.y.size() != size_t(pic.width) * size_t(pic.height) ||
            pic.cb.size() != size_t(pic.chromaWidth) * size_t(pic.chromaHeight) || pic.cr.size() != pic.cb.size())
            __builtin_trap();
        std::vector<uint8_t> out;
        dcPictureToRgb(pic, out);
    }
    reader.close();
    return 0;
}
