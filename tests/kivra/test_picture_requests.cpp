// The desktop program's picture request thread, driven without Qt against
// the real library: a burst of requests collapses to the latest, cancel()
// waits for the picture being made, and the thread ends cleanly. The
// ThreadSanitizer build runs it, covering its hand-overs with Kivra's
// decode thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "kivra.h"
#include "library_internal.h"
#include "picture_requests.h"
#include "preview_host.h"
#include "test_support.h"

using namespace kivra_test;

TEST(PictureRequests, ABurstEndsWithTheLatestPictureAndCancelWaits) {
    RecordingHost host{3};
    host.install();
    const std::string path = dataPath("sd_ibp.ts");
    TavrelDecInit init{};
    init.path = path.c_str();
    init.notifyWindow = reinterpret_cast<KivraWindow>(0x10);
    init.previewWindow = reinterpret_cast<KivraWindow>(0x20);
    init.outWindow = reinterpret_cast<KivraWindow>(0x30);
    TsOpen(&init);
    SetPackSize(188);
    {
        tavrelcut::PictureRequests requests;
        TavrelDecRead r{};
        r.videoPid = 0x100;
        for (int width = 200; width < 240; ++width) {
            r.displayWidth = width;
            requests.request(r);
        }
        requests.cancel();
        kivra::waitForDecode();
        // Each request replaced the one before it unless the thread had
        // taken it already; cancel() dropped the last one still waiting.
        const size_t burst = host.draws().size();
        EXPECT_LT(burst, 40u);

        r.displayWidth = 300;
        requests.request(r);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (host.draws().size() == burst && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        requests.cancel();
        kivra::waitForDecode();
        ASSERT_EQ(host.draws().size(), burst + 1);
        EXPECT_EQ(host.draws().back().destWidth, 300);
    }
    TsClose();
}
