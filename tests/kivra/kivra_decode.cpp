// kivra-decode: decodes every picture of the video PID from the start of a
// transport stream (or an elementary stream) in display order into Y4M,
// cropped to the sequence's horizontal and vertical size. A Y4M file holds
// one picture size: at a sequence of another size (or chroma format) the
// tool stops with a message and exit status 3, keeping what it wrote.
// With --null it decodes every picture and writes nothing (a decoding
// speed test on one thread).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "tables.h"
#include "ts_probe.h"
#include "y4m.h"

using namespace kivra;
using kivra_test::YuvFrame;

namespace {

int usage() {
    std::fprintf(stderr, "usage: kivra-decode [--pid PID] [--frames N] [--c] (FILE OUT.y4m | --null FILE)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int pid = -1;
    long maxFrames = -1;
    unsigned mask = cpuMaskFromEnv();
    bool toNull = false;
    const char* in = nullptr;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--pid" && i + 1 < argc) {
            pid = static_cast<int>(std::strtol(argv[++i], nullptr, 0));
        } else if (a == "--frames" && i + 1 < argc) {
            maxFrames = std::strtol(argv[++i], nullptr, 0);
        } else if (a == "--c") {
            mask = 0;
        } else if (a == "--null") {
            toNull = true;
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            return usage();
        }
    }
    if (!in || (!out && !toNull) || (out && toNull)) return usage();

    // The packet size and the video PID come from the file's head (a
    // recording's first video packets come within a fraction of a second);
    // the whole file is read only when its head shows no video.
    constexpr size_t kHead = size_t(256) << 10;
    auto head = kivra_test::readFile(in, kHead);
    size_t start = 0;
    const int packetSize = kivra_test::probePacketSize(head, &start);
    const bool transport = packetSize != 0;
    for (int pass = 0; transport && pid < 0 && pass < 2; ++pass) {
        if (pass == 1) {
            if (head.size() < kHead) break;
            head = kivra_test::readFile(in);
        }
        pid = kivra_test::probeVideoPid(std::vector<uint8_t>(head.begin() + long(start), head.end()), packetSize);
    }
    if (transport && pid < 0) {
        std::fprintf(stderr, "kivra-decode: no video PID found in %s\n", in);
        return 1;
    }
    const int fd = ::open(in, O_RDONLY);
    if (fd < 0) {
        std::fprintf(stderr, "kivra-decode: cannot open %s\n", in);
        return 1;
    }
    auto dm = std::make_unique<Demux>();
    dm->attachFd(fd);
    dm->setPacketSize(packetSize);
    dm->setVideoPid(pid);
    dm->setTransport(transport);
    dm->setPacketLimit(0);
    dm->setServeTail(true);
    dm->seek(transport ? int64_t(start) : 0);
    dm->start();
    BitReader br;
    br.attach(dm.get());
    br.setStrictStop(false);
    Dsp dsp;
    initDsp(dsp, mask);
    Decoder dec;
    dec.setDsp(&dsp);
    dec.attach(&br);

    kivra_test::Y4mWriter writer;
    bool opened = false;
    int outWidth = 0, outHeight = 0, outChroma = 0;
    bool sizeChanged = false;
    long written = 0;
    // True when the sequence still has the output file's size.
    auto sameSize = [&]() {
        const SequenceState& s = dec.sequence();
        if (!opened || (s.horizontalSize == outWidth && s.verticalSize == outHeight && s.chromaFormat == outChroma))
            return true;
        if (!sizeChanged)
            std::fprintf(stderr,
                         "kivra-decode: picture size changes from %dx%d to %dx%d (chroma format %d to %d) after %ld "
                         "pictures; a Y4M file holds one size, stopping\n",
                         outWidth, outHeight, s.horizontalSize, s.verticalSize, outChroma, s.chromaFormat, written);
        sizeChanged = true;
        return false;
    };
    auto emit = [&](const FrameStore& f) {
        if (maxFrames >= 0 && written >= maxFrames) return;
        if (toNull) {
            ++written;
            return;
        }
        if (!sameSize()) return;
        const SequenceState& s = dec.sequence();
        // The planes bound the crop whatever the sequence state says.
        if (s.horizontalSize > f.width || s.verticalSize > f.height || s.chromaFormat != f.chromaFormat) {
            std::fprintf(stderr, "kivra-decode: frame store does not match the sequence, picture dropped\n");
            return;
        }
        if (!opened) {
            int num = kFrameRateNum[s.frameRateCode] * (s.frameRateExtN + 1);
            int den = kFrameRateDen[s.frameRateCode] * (s.frameRateExtD + 1);
            if (!writer.open(out, s.horizontalSize, s.verticalSize, s.chromaFormat, num, den)) {
                std::fprintf(stderr, "kivra-decode: cannot write %s\n", out);
                std::exit(1);
            }
            opened = true;
            outWidth = s.horizontalSize;
            outHeight = s.verticalSize;
            outChroma = s.chromaFormat;
        }
        const int strides[3] = {f.width, f.chromaWidth, f.chromaWidth};
        writer.write(kivra_test::cropFrame(f.plane, strides, s.horizontalSize, s.verticalSize, s.chromaFormat));
        ++written;
    };

    const char* lastReason = nullptr;
    for (;;) {
        if (maxFrames >= 0 && written >= maxFrames) break;
        if (dec.readHeaders(-1) != Decoder::HeaderResult::Picture) break;
        if (!toNull && !sameSize()) break;
        if (!dec.canDecode()) {
            const char* why = dec.cannotDecodeReason();
            if (why != lastReason) std::fprintf(stderr, "kivra-decode: picture not decoded: %s\n", why);
            lastReason = why;
            continue;
        }
        const int type = dec.picture().codingType;
        // B pictures before two references (an open GOP at the start) have
        // nothing to predict from: skipped like other decoders do.
        if (type == kPicB && dec.referencesDecoded() < 2 && !dec.secondFieldPending()) continue;
        const bool complete = dec.decodePicture();
        if (!complete) continue;
        if (type == kPicB) {
            emit(dec.currentFrame());
        } else if (dec.referencesDecoded() >= 2) {
            emit(dec.forwardFrame());
        }
    }
    if (!sizeChanged && dec.initialised() && dec.referencesDecoded() >= 1) emit(dec.backwardFrame());
    ::close(fd);
    std::fprintf(stderr, "kivra-decode: %ld pictures\n", written);
    if (sizeChanged) return 3;
    return written > 0 ? 0 : 1;
}
