#include "dc_picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "decoder.h"
#include "demux.h"
#include "dsp.h"
#include "helper_thread.h"

namespace kivra {

struct DcPictureReader::State {
    int fd = -1;
    int videoPid = -1;
    uint64_t packetLimit = Demux::kPacketLimit;
    std::unique_ptr<Demux> demux = std::make_unique<Demux>();
    BitReader br;
    Dsp dsp{};
    Decoder decoder;
    // Block grids of the picture being read: one for a frame picture, one
    // per field for a field pair.
    std::vector<uint8_t> grid[2][3];
    bool open = false;
    int64_t startOffset = 0;
    // A frame picture's slices on two threads.
    int threads = 0;                                      // 0: two when there are two cores
    HelperThread helper{std::chrono::microseconds(300)};  // reads come one after another
    Decoder helperDecoder;
    std::vector<uint8_t> slices;
    std::vector<uint32_t> starts;  // of the slices in slices
    // The first rows of a frame picture, copied for the helper while the
    // rest is collected.
    std::vector<uint8_t> head;
    std::vector<uint32_t> headStarts;
};

DcPictureReader::DcPictureReader() : m(std::make_unique<State>()) {
    initDsp(m->dsp, kCpuAll);
    m->decoder.setDsp(&m->dsp);
    m->decoder.setAllocateFrames(false);
    m->decoder.attach(&m->br);
}

DcPictureReader::~DcPictureReader() { close(); }

namespace {

void configure(Demux& d, int packetSize, int pid, uint64_t limit) {
    d.setPacketSize(packetSize);
    d.setVideoPid(pid);
    d.setTransport(packetSize != 0);
    d.setPacketLimit(limit);
    // The last GOP of a recording is read to the end of the file.
    d.setServeTail(true);
}

}  // namespace

bool DcPictureReader::open(const std::string& path, int packetSize, int videoPid) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    m->fd = fd;
    m->demux->attachFd(fd);
    m->videoPid = videoPid;
    configure(*m->demux, packetSize, videoPid, m->packetLimit);
    m->decoder.reset();
    m->open = true;
    return true;
}

void DcPictureReader::openMemory(const uint8_t* data, size_t size, int packetSize, int videoPid) {
    close();
    m->demux->attachMemory(data, size);
    m->videoPid = videoPid;
    configure(*m->demux, packetSize, videoPid, m->packetLimit);
    m->decoder.reset();
    m->open = true;
}

void DcPictureReader::close() {
    m->helper.stop();
    if (m->fd >= 0) ::close(m->fd);
    m->fd = -1;
    m->demux->attachFd(-1);
    m->open = false;
}

bool DcPictureReader::isOpen() const { return m->open; }

void DcPictureReader::setPacketLimit(uint64_t packets) {
    m->packetLimit = packets;
    m->demux->setPacketLimit(packets);
}

void DcPictureReader::setVideoPid(int pid) {
    m->videoPid = pid;
    m->demux->setVideoPid(pid);
}

uint64_t DcPictureReader::lastPackets() const { return m->demux->packetCount(); }

int64_t DcPictureReader::lastBytesRead() const { return m->demux->filePosition() - m->startOffset; }

namespace {

bool useTwoThreads(const DcPictureReader::State& m) {
    if (m.threads > 0) return m.threads > 1;
    return std::thread::hardware_concurrency() >= 2;
}

// The slices [first, last) of buf (starts: their offsets; up to byte end),
// up to macroblock address limit, on the calling thread with decoder d: in
// two lanes where they can be cut at a new row (see
// Decoder::decodeIntraDcLanes).
void decodeStretch(const std::vector<uint8_t>& buf, const std::vector<uint32_t>& starts, Decoder& d, size_t first,
                   size_t last, size_t end, int limit, size_t rowWeight, bool lanes, const Decoder::DcGrid& g) {
    const uint8_t* p = buf.data();
    const size_t from = first < starts.size() ? starts[first] : end;
    const size_t k = lanes ? halfWorkSlice(buf, starts, first, last, end, rowWeight) : last;
    if (k < last) {
        const int mid = sliceRow(buf, starts[k]) * d.sequence().mbWidth;
        d.decodeIntraDcLanes(p + from, p + starts[k], p + end, mid, limit, g, p, starts.data(), starts.size());
    } else {
        d.decodeIntraDcIn(p + from, p + end, limit, g);
    }
}

// A frame picture's slices on two threads. The helper is woken before the
// collecting, so that it is running by the time it has work (waking a
// sleeping thread takes about as long as a tenth of the whole picture). It
// walks the first tenth of the rows while this thread collects the rest;
// then the rest is cut where half its work lies, the lower part on the
// helper. A helper that has not begun those first rows by then leaves them
// to this thread, and the whole picture is cut in half. Slices not in row
// order: all on this thread, one after another. Fields (twoThreads false):
// all on this thread.
void decodeSplit(DcPictureReader::State& s, const Decoder::DcGrid& g, bool twoThreads) {
    Decoder& d = s.decoder;
    Decoder& h = s.helperDecoder;
    const SequenceState& seq = d.sequence();
    const int w = seq.mbWidth;
    // Walking past the coefficients costs about as much per macroblock as
    // 12 bytes of them.
    const size_t rowWeight = 12 * size_t(w);
    // Rows come from the slice start codes alone up to 2800 lines.
    const bool mayLane = seq.verticalSize <= 2800;
    HelperStart headStart, restStart;
    int headLimit = 0;
    size_t first = 0, end = 0;
    bool lanes = false;
    const bool posted = twoThreads && s.helper.post([&] {
        if (headStart.await())
            decodeStretch(s.head, s.headStarts, h, 0, s.headStarts.size(), s.head.size(), headLimit, rowWeight, true,
                          g);
        if (restStart.await())
            decodeStretch(s.slices, s.starts, h, first, s.starts.size(), end, INT_MAX, rowWeight, lanes, g);
    });
    // However this ends, the helper is done with the job (and the locals it
    // refers to) before they go.
    struct Settle {
        bool posted;
        HelperStart& head;
        HelperStart& rest;
        HelperThread& helper;
        ~Settle() {
            if (!posted) return;
            head.releaseIfPending();
            rest.releaseIfPending();
            helper.wait();
        }
    } settle{posted, headStart, restStart, s.helper};
    s.slices.clear();
    s.starts.clear();
    int pausedAt = -1;
    const int pauseRow = posted && mayLane ? std::max(1, seq.mbHeight / 10) : INT_MAX;
    d.collectSlices(s.slices, &s.starts, pauseRow, &pausedAt);  // at the end of the file: what there is
    size_t headCount = 0;
    if (pausedAt >= 0) {
        if (!s.starts.empty() && s.starts.front() == 0 && slicesInRowOrder(s.slices, s.starts) &&
            sliceRow(s.slices, s.starts.back()) < pausedAt) {
            s.head = s.slices;
            s.headStarts = s.starts;
            headCount = s.starts.size();
            headLimit = pausedAt * w;
            h.borrowPicture(d);
        }
        if (posted) headStart.release(headCount > 0);
        d.collectSlices(s.slices, &s.starts);  // the rest
    } else if (posted) {
        headStart.release(false);
    }
    const uint8_t* p = s.slices.data();
    const size_t n = s.slices.size();
    const size_t count = s.starts.size();
    const bool ordered = count > 0 && s.starts.front() == 0 && slicesInRowOrder(s.slices, s.starts);
    lanes = ordered && mayLane;
    // A helper that has not begun the head by now is still waking (which
    // can take a third of the picture's time) or waits for this core.
    if (headCount > 0 && headStart.takeBack()) headCount = 0;
    const size_t split = ordered && posted ? halfWorkSlice(s.slices, s.starts, headCount, count, n, rowWeight) : count;
    if (split >= count) {
        if (posted) {
            restStart.release(false);
            s.helper.wait();  // after the head, if the helper walks one
        }
        if (ordered) {
            decodeStretch(s.slices, s.starts, d, headCount, count, n, INT_MAX, rowWeight, lanes, g);
        } else {
            const size_t from = headCount < count ? s.starts[headCount] : n;
            d.decodeIntraDcIn(p + from, p + n, INT_MAX, g);
        }
        return;
    }
    if (headCount == 0) h.borrowPicture(d);
    first = split;
    end = n;
    restStart.release(true);
    const int splitRow = sliceRow(s.slices, s.starts[split]);
    decodeStretch(s.slices, s.starts, d, headCount, split, s.starts[split], splitRow * w, rowWeight, lanes, g);
    s.helper.wait();
}

}  // namespace

void DcPictureReader::setThreads(int threads) { m->threads = threads; }

DcResult DcPictureReader::read(int64_t position, DcPicture& pic) {
    if (!m->open) return DcResult::NotOpen;
    Demux& dm = *m->demux;
    Decoder& d = m->decoder;
    BitReader& br = m->br;
    dm.seek(position);
    dm.start();
    m->startOffset = position < 0 ? 0 : position;
    br.attach(&dm);
    br.setStrictStop(false);
    d.beginRead();
    m->slices.clear();

    auto ended = [&] { return dm.stop() == Stop::EndOfFile ? DcResult::EndOfFile : DcResult::NoPicture; };
    int fields = 0;       // fields of the pair read so far
    int firstParity = 0;  // structure of the first field
    SequenceState first;  // the sequence the picture's planes were made for
    for (;;) {
        if (d.readHeaders(-1) != Decoder::HeaderResult::Picture) {
            // A first I field whose partner never came is still a picture.
            if (fields == 1) break;
            return ended();
        }
        const PictureState& p = d.picture();
        const bool field = p.structure != kFramePicture;
        if (fields == 1) {
            // The second field of the pair: an I field adds its own samples,
            // anything else leaves the first field's for both.
            if (!field || p.structure == firstParity || p.codingType != kPicI) break;
            // A sequence header of another size or chroma format between the
            // fields (a damaged or spliced stream): the first field alone.
            const SequenceState& now = d.sequence();
            if (now.mbWidth != first.mbWidth || now.mbHeight != first.mbHeight ||
                now.chromaFormat != first.chromaFormat)
                break;
        } else if (p.codingType != kPicI || !d.initialised()) {
            continue;  // before the first I picture (or sequence header)
        }
        if (!d.canDecode()) {
            const SequenceState& s = d.sequence();
            if (s.mpeg1 || s.chromaFormat == 3) return DcResult::Unsupported;
            return DcResult::NoPicture;
        }
        const SequenceState& s = d.sequence();
        const int bw = 2 * s.mbWidth;
        const int rows = field ? s.mbHeight : 2 * s.mbHeight;  // luma block rows of this picture
        const int crows = s.chromaFormat == 1 ? rows / 2 : rows;
        const int slot = fields;
        Decoder::DcGrid g;
        const int widths[3] = {bw, s.mbWidth, s.mbWidth};
        const int heights[3] = {rows, crows, crows};
        for (int c = 0; c < 3; ++c) {
            auto& v = m->grid[slot][c];
            v.assign(size_t(widths[c]) * size_t(heights[c]), 128);
            g.plane[c] = v.data();
            g.stride[c] = widths[c];
            g.rows[c] = heights[c];
        }
        if (fields == 0) {
            first = s;
            pic.horizontalSize = s.horizontalSize;
            pic.verticalSize = s.verticalSize;
            pic.aspectRatioCode = s.aspectRatio;
            pic.chromaFormat = s.chromaFormat;
            pic.temporalReference = p.temporalReference;
            pic.progressiveFrame = p.progressiveFrame != 0;
            pic.fieldPictures = field;
            pic.pictureOffset = br.sourcePosition();
        }
        // A field's slices on this thread alone.
        decodeSplit(*m, g, !field && useTwoThreads(*m));
        if (dm.stop() != Stop::None && br.dead() && m->slices.empty()) return ended();
        if (!field) break;
        if (fields == 0) {
            firstParity = p.structure;
            fields = 1;
            continue;
        }
        fields = 2;
        break;
    }

    // Crop to the picture; a field pair's blocks cover 16 picture lines of
    // both fields.
    const SequenceState& s = first;
    const int w = (pic.horizontalSize + 7) / 8, h = (pic.verticalSize + 7) / 8;
    const int cW = ((pic.horizontalSize + 1) / 2 + 7) / 8;
    const int cH = pic.chromaFormat == 1 ? ((pic.verticalSize + 1) / 2 + 7) / 8 : h;
    pic.width = w;
    pic.height = h;
    pic.chromaWidth = cW;
    pic.chromaHeight = cH;
    std::vector<uint8_t>* out[3] = {&pic.y, &pic.cb, &pic.cr};
    for (int c = 0; c < 3; ++c) {
        const int ow = c ? cW : w, oh = c ? cH : h;
        const int gw = c ? s.mbWidth : 2 * s.mbWidth;
        const int grows = static_cast<int>(m->grid[0][c].size()) / gw;
        out[c]->resize(size_t(ow) * size_t(oh));
        for (int yy = 0; yy < oh; ++yy) {
            uint8_t* o = out[c]->data() + size_t(yy) * ow;
            if (!pic.fieldPictures) {
                if (yy >= grows) {
                    std::memset(o, 128, size_t(ow));
                    continue;
                }
                std::memcpy(o, m->grid[0][c].data() + size_t(yy) * gw, size_t(ow));
                continue;
            }
            // Field block row fr covers the frame block rows 2fr and 2fr + 1:
            // its mean, moved a quarter of the way towards the neighbouring
            // row's (exact for a linear gradient).
            const int fr = yy / 2;
            if (fr >= grows) {
                std::memset(o, 128, size_t(ow));
                continue;
            }
            const int nb = yy % 2 == 0 ? (fr > 0 ? fr - 1 : fr) : (fr + 1 < grows ? fr + 1 : fr);
            auto both = [&](int row, int x) {
                const uint8_t* a = m->grid[0][c].data() + size_t(row) * gw;
                const uint8_t* b = fields == 2 ? m->grid[1][c].data() + size_t(row) * gw : a;
                return a[x] + b[x];  // twice the mean of the two fields
            };
            for (int x = 0; x < ow; ++x) o[x] = uint8_t((3 * both(fr, x) + both(nb, x) + 4) >> 3);
        }
    }
    return DcResult::Picture;
}

void dcPictureToRgb(const DcPicture& pic, std::vector<uint8_t>& rgb) {
    const int w = pic.width, h = pic.height;
    rgb.resize(size_t(w) * size_t(h) * 3);
    if (w == 0 || h == 0 || pic.chromaWidth == 0 || pic.chromaHeight == 0) return;
    std::vector<uint8_t> u(static_cast<size_t>(w)), v(static_cast<size_t>(w)), bgr(static_cast<size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        int cy = pic.chromaFormat == 1 ? y / 2 : y;
        if (cy >= pic.chromaHeight) cy = pic.chromaHeight - 1;
        for (int x = 0; x < w; ++x) {
            int cx = x / 2;
            if (cx >= pic.chromaWidth) cx = pic.chromaWidth - 1;
            u[size_t(x)] = pic.cb[size_t(cy) * pic.chromaWidth + cx];
            v[size_t(x)] = pic.cr[size_t(cy) * pic.chromaWidth + cx];
        }
        yuvToBgrC(bgr.data(), pic.y.data() + size_t(y) * w, u.data(), v.data(), w);
        uint8_t* o = rgb.data() + size_t(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            o[3 * x] = bgr[3 * size_t(x) + 2];
            o[3 * x + 1] = bgr[3 * size_t(x) + 1];
            o[3 * x + 2] = bgr[3 * size_t(x)];
        }
    }
}

void boxReduce8(const uint8_t* src, ptrdiff_t stride, int w, int h, std::vector<uint8_t>& out) {
    const int ow = (w + 7) / 8, oh = (h + 7) / 8;
    out.assign(size_t(ow) * size_t(oh), 0);
    for (int by = 0; by < oh; ++by)
        for (int bx = 0; bx < ow; ++bx) {
            unsigned sum = 0, n = 0;
            for (int y = by * 8; y < by * 8 + 8 && y < h; ++y)
                for (int x = bx * 8; x < bx * 8 + 8 && x < w; ++x, ++n) sum += src[y * stride + x];
            out[size_t(by) * ow + bx] = uint8_t((sum + n / 2) / n);
        }
}

}  // namespace kivra
