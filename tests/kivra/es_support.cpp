#include "es_support.h"

#include <algorithm>
#include <fstream>

#include "ts_probe.h"

namespace kivra_test {

std::vector<uint8_t> elementaryStream(const std::string& ts) {
    const auto file = readFile(ts);
    const int size = probePacketSize(file);
    kivra::Demux dm;
    dm.attachMemory(file.data(), file.size());
    dm.setPacketSize(size);
    dm.setVideoPid(probeVideoPid(file, size));
    dm.setPacketLimit(0);
    dm.setServeTail(true);
    dm.seek(0);
    dm.start();
    std::vector<uint8_t> out;
    const uint8_t *p, *e;
    while (dm.nextSpan(p, e)) out.insert(out.end(), p, e);
    return out;
}

size_t findCode(const std::vector<uint8_t>& es, uint8_t code, size_t from) {
    for (size_t i = from; i + 3 < es.size(); ++i)
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == code) return i;
    return std::string::npos;
}

std::vector<uint8_t> transportStream(const std::vector<uint8_t>& es, size_t paddingPackets) {
    // PES header without a length (allowed for video) and without fields.
    std::vector<uint8_t> pes = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x00, 0x00};
    pes.insert(pes.end(), es.begin(), es.end());
    std::vector<uint8_t> out;
    size_t at = 0;
    for (unsigned cc = 0; at < pes.size(); ++cc) {
        const size_t n = std::min<size_t>(184, pes.size() - at);
        const uint8_t head[4] = {0x47, uint8_t((at == 0 ? 0x40 : 0x00) | 0x01), 0x00, uint8_t(0x10 | (cc & 15))};
        if (n == 184) {
            out.insert(out.end(), head, head + 4);
        } else {
            // The last packet: an adaptation field of stuffing fills it.
            const uint8_t af = uint8_t(183 - n);
            out.insert(out.end(), {0x47, head[1], head[2], uint8_t(0x30 | (cc & 15)), af});
            if (af > 0) {
                out.push_back(0x00);
                out.insert(out.end(), size_t(af - 1), 0xFF);
            }
        }
        out.insert(out.end(), pes.begin() + long(at), pes.begin() + long(at + n));
        at += n;
    }
    for (size_t i = 0; i < paddingPackets; ++i) {
        out.insert(out.end(), {0x47, 0x1F, 0xFF, 0x10});
        out.insert(out.end(), 184, 0xFF);
    }
    return out;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return f.good();
}

EsDecoder::EsDecoder(const std::vector<uint8_t>& es) : bytes(es) {
    kivra::initDsp(dsp, 0);
    dm.attachMemory(bytes.data(), bytes.size());
    dm.setTransport(false);
    dm.setServeTail(true);
    dm.setPacketLimit(0);
    dm.seek(0);
    dm.start();
    br.attach(&dm);
    br.setStrictStop(false);
    dec.setDsp(&dsp);
    dec.attach(&br);
}

}  // namespace kivra_test
