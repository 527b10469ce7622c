// The desktop program's responsiveness, measured on the main window itself:
//   (a) start: QApplication and MainWindow constructed, shown, first paint;
//   (b) open: openRecording() on a large recording whose GOP index file
//       exists, to its first picture painted in the picture area;
//   (c) drag: 300 slider changes at 60 per second across the recording,
//       the longest gap of a 1 ms heartbeat on the GUI thread (the worst
//       stall a user feels), the longest single slider change, and the time
//       from the last change to the final position's picture painted;
//   (d) the error view: an error file of 100,000 records (a badly damaged
//       recording) loaded, its tree built and painted.
// The main window hands every picture request to a request thread of its
// own, whose TsRead waits for the previous decode; this program puts a
// timing TsRead in front of the library's (found with dlsym RTLD_NEXT) to
// show how long that wait is, off the GUI thread.
// Usage: bench_gui RECORDING [RUNS]   (the recording's GOP index must exist)
// Runs under any Qt platform; bench_gui.sh runs it under Xvfb.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "error_check.h"
#include "error_info_window.h"
#include "control_ids.h"
#include "main_window.h"
#include "message_box.h"
#include "preview.h"

using tavrelcut::MainWindow;
using tavrelcut::PictureArea;

namespace {

QElapsedTimer g_clock;  // started first thing in main()

double ms(qint64 ns) { return double(ns) / 1e6; }

// The longest TsRead since the last reset, in nanoseconds.
qint64 g_tsReadMaxNs = 0;

}  // namespace

extern "C" int TsRead(const TavrelDecRead* read) {
    using Fn = int (*)(const TavrelDecRead*);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "TsRead"));
    const qint64 t0 = g_clock.nsecsElapsed();
    const int result = real(read);
    g_tsReadMaxNs = std::max(g_tsReadMaxNs, g_clock.nsecsElapsed() - t0);
    return result;
}

namespace {

// Answers every message with NO (keep the index) and counts them: the runs
// must not see any.
class CountingSink : public tavrelcut::MessageSink {
public:
    int ask(QWidget*, const QString& caption, const QString& text, int) override {
        std::fprintf(stderr, "unexpected message: %s: %s\n", qPrintable(caption), qPrintable(text));
        ++count;
        return 3;
    }
    int count = 0;
};

// Calls a function after every paint of a widget (when the event filter sees
// the paint event, the widget has not painted yet: the check runs queued
// right after it, when the backing store has the new picture).
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* w, std::function<void()> after) : m_after(std::move(after)) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) QTimer::singleShot(0, this, [this] { m_after(); });
        return false;
    }

private:
    std::function<void()> m_after;
};

// Runs the event loop until done() or timeoutMs; true when done.
bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void spinFor(int msecs) {
    spinUntil([] { return false; }, msecs);
}

struct DragResult {
    double maxGapMs = 0, maxChangeMs = 0, maxTsReadMs = 0, finalMs = -1;
    int changes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    g_clock.start();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_gui RECORDING [RUNS]\n");
        return 2;
    }
    const QString recording = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QTemporaryDir iniDir;
    // An empty input list: a first start without one says so in a message.
    QFile list(iniDir.filePath(QStringLiteral("qxinput.txt")));
    if (!list.open(QIODevice::WriteOnly)) return 1;
    list.close();
    CountingSink sink;

    // (a) start to shown: the first paint of the window after show().
    auto window = std::make_unique<MainWindow>(iniDir.filePath(QStringLiteral("tavrelcut.ini")));
    window->setMessageSink(&sink);
    qint64 shownNs = -1;
    {
        PaintWatch watch(window.get(), [&] {
            if (shownNs < 0) shownNs = g_clock.nsecsElapsed();
        });
        window->show();
        if (!spinUntil([&] { return shownNs >= 0; }, 10000)) {
            std::fprintf(stderr, "the main window was never painted\n");
            return 1;
        }
    }
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("(a) start to main window shown    %8.1f ms   (goal <= 300)\n", ms(shownNs));

    auto* picture = qobject_cast<PictureArea*>(window->control(tavrelcut::ids::kPicture));
    auto* slider = qobject_cast<QSlider*>(window->control(tavrelcut::ids::kSlider));
    if (!picture || !slider) {
        std::fprintf(stderr, "picture area 1021 or slider 1003 missing\n");
        return 1;
    }
    // The picture last painted in the picture area, and when.
    QImage painted;
    qint64 paintedNs = -1;
    PaintWatch pictureWatch(picture, [&] {
        painted = picture->image();
        paintedNs = g_clock.nsecsElapsed();
    });

    // (b) open to first picture; each run opens the recording afresh.
    std::vector<double> openMs;
    for (int r = 0; r < runs; ++r) {
        spinUntil([&] { return !window->isBusy(); }, 30000);
        picture->clear();
        spinFor(50);
        painted = QImage();
        const qint64 start = g_clock.nsecsElapsed();
        window->openRecording(recording);
        if (!spinUntil([&] { return !painted.isNull(); }, 30000)) {
            std::fprintf(stderr, "no picture after opening %s\n", qPrintable(recording));
            return 1;
        }
        openMs.push_back(ms(paintedNs - start));
        spinUntil([&] { return !window->isBusy(); }, 30000);
    }
    std::sort(openMs.begin(), openMs.end());
    const int gops = slider->maximum();  // the LAST entry's index
    std::printf("(b) open (%d GOPs) to first picture median %8.1f ms, max %.1f ms   (goal <= 300)\n", gops,
                openMs[openMs.size() / 2], openMs.back());

    // (c) the drag. The big recording repeats a 6-GOP recording, so GOP g
    // shows the same picture as g + 6. The drag visits only GOPs whose
    // remainder by 6 is 0..4 and ends on one with remainder 5: the final
    // picture is then told apart from every picture requested before it.
    constexpr int kPeriod = 6, kChanges = 300;
    const int blocks = (gops - 1) / kPeriod;
    if (blocks < kChanges / 4) {
        std::fprintf(stderr, "recording too short for the drag (%d GOPs)\n", gops);
        return 1;
    }
    std::vector<int> path;
    for (int i = 0; i < kChanges - 1; ++i) path.push_back(kPeriod * int(int64_t(i) * (blocks - 1) / kChanges) + i % 5);
    const int finalGop = kPeriod * (blocks - 1) + 5;
    path.push_back(finalGop);

    auto showAndWait = [&](int gop) {
        slider->setValue(gop);
        spinFor(400);  // the decode ends and its picture is painted
        return picture->image();
    };
    std::vector<DragResult> drags;
    for (int r = 0; r < runs; ++r) {
        const QImage reference = showAndWait(finalGop);
        if (reference.isNull() || showAndWait(0) == reference) {
            std::fprintf(stderr, "GOP %d's picture is missing or equals GOP 0's\n", finalGop);
            return 1;
        }
        DragResult d;
        g_tsReadMaxNs = 0;
        qint64 lastBeat = -1, lastChangeNs = -1, started = g_clock.nsecsElapsed();
        constexpr qint64 kIntervalNs = 1000000000LL / 60;
        QTimer beat;
        beat.setTimerType(Qt::PreciseTimer);
        beat.setInterval(1);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const qint64 now = g_clock.nsecsElapsed();
            if (lastBeat >= 0) d.maxGapMs = std::max(d.maxGapMs, ms(now - lastBeat));
            if (d.changes < kChanges && now - started >= d.changes * kIntervalNs) {
                const qint64 t0 = g_clock.nsecsElapsed();
                slider->setValue(path[size_t(d.changes)]);
                const qint64 t1 = g_clock.nsecsElapsed();
                d.maxChangeMs = std::max(d.maxChangeMs, ms(t1 - t0));
                if (++d.changes == kChanges) lastChangeNs = t1;
            }
            lastBeat = g_clock.nsecsElapsed();
        });
        beat.start();
        const bool ended =
            spinUntil([&] { return lastChangeNs >= 0 && paintedNs > lastChangeNs && painted == reference; }, 20000);
        beat.stop();
        if (!ended) {
            std::fprintf(stderr, "the final picture (GOP %d) never appeared\n", finalGop);
            return 1;
        }
        d.finalMs = ms(paintedNs - lastChangeNs);
        d.maxTsReadMs = ms(g_tsReadMaxNs);
        drags.push_back(d);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::vector<double> gaps, changes, reads, finals;
    for (const DragResult& d : drags) {
        gaps.push_back(d.maxGapMs);
        changes.push_back(d.maxChangeMs);
        reads.push_back(d.maxTsReadMs);
        finals.push_back(d.finalMs);
    }
    std::printf("(c) drag: %d changes at 60/s over GOPs 0..%d, %d runs\n", kChanges, finalGop, runs);
    std::printf("    longest GUI-thread stall (1 ms heartbeat gap) median %7.1f ms, max %.1f ms   (goal <= 20)\n",
                median(gaps), *std::max_element(gaps.begin(), gaps.end()));
    std::printf("    longest single slider change (setValue)      median %7.1f ms, max %.1f ms\n", median(changes),
                *std::max_element(changes.begin(), changes.end()));
    std::printf("    longest TsRead, on the request thread         median %7.1f ms, max %.1f ms\n", median(reads),
                *std::max_element(reads.begin(), reads.end()));
    std::printf("    last change to final picture painted          median %7.1f ms, max %.1f ms   (goal <= 50)\n",
                median(finals), *std::max_element(finals.begin(), finals.end()));

    // (d) 100,000 counter errors over 40 PIDs and two programs that take
    // turns, as a damaged recording gives them.
    QTemporaryDir errDir;
    const QString errPath = errDir.filePath(QStringLiteral("damaged.ts_err.bin"));
    {
        std::vector<uint8_t> bytes(tavrel::kErrorFileHeader, tavrel::kErrorFileHeader + tavrel::kErrorFileHeaderSize);
        for (int i = 0; i < 100000; ++i) {
            tavrel::ErrorRecord r;
            r.sid = static_cast<uint16_t>(1 + (i / 5000) % 2);
            r.pmtPid = static_cast<uint16_t>(0x1000 + r.sid);
            r.pid = static_cast<uint16_t>(0x100 + i % 40);
            r.kind = tavrel::kErrorCounter;
            r.counters = 0x57;
            r.packet = int64_t(i) * 97;
            uint8_t rec[tavrel::kErrorRecordSize];
            tavrel::encodeErrorRecord(r, rec);
            bytes.insert(bytes.end(), rec, rec + sizeof rec);
        }
        QFile f(errPath);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(errPath));
            return 1;
        }
    }
    std::vector<double> views;
    for (int run = 0; run < runs; ++run) {
        tavrelcut::ErrorInfoWindow view(nullptr);
        QElapsedTimer t;
        t.start();
        if (!view.load(errPath)) {
            std::fprintf(stderr, "the error view did not load %s\n", qPrintable(errPath));
            return 1;
        }
        view.show();
        view.repaint();
        QCoreApplication::processEvents();
        views.push_back(ms(t.nsecsElapsed()));
    }
    std::printf("(d) error view, 100,000 records loaded, built and painted median %7.1f ms, max %.1f ms\n",
                median(views), *std::max_element(views.begin(), views.end()));
    if (sink.count) return 1;
    window.reset();
    return 0;
}
