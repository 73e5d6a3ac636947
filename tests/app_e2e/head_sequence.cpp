// The camera video of the end-to-end tests: a head moving to and fro along a quarter circle,
// fast one way and half as fast back. A lopsided loop lets a test tell from the pointer alone,
// without knowing where in the loop the program is, which way the head went: the fast moves.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "synthetic_sequence.h"

#include "e2e_harness.h"

namespace e2e {
namespace {

constexpr const char* kName = "head-quarter-circle";
// A quarter turn of the circle trajectory (0.04 rad per frame): left and down in the picture.
constexpr int kQuarterFrames = 41;

// Source frames in playing order: the quarter on every second frame, then back on every frame.
// The loop closes without a jump (1 -> 0 is one more step back).
std::vector<int> PlayingOrder() {
    std::vector<int> order;
    for (int i = 0; i < kQuarterFrames; i += 2) order.push_back(i);
    for (int i = kQuarterFrames - 2; i >= 1; --i) order.push_back(i);
    return order;
}

const SyntheticSequence& Source() {
    static const SyntheticSequence sequence(Trajectory::Circle, kQuarterFrames);
    return sequence;
}

}  // namespace

void WriteHeadSequence(const fs::path& folder) {
    fs::create_directories(folder);
    // Written under private names and renamed, so tests running at once never read half a file.
    const std::string stem = std::string(kName) + "." + std::to_string(::getpid()) + ".tmp";
    const fs::path video = folder / (stem + ".avi"), csv = folder / (stem + ".csv");
    cv::VideoWriter writer(video.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), 12,
                           Source().FrameSize(), true);
    if (!writer.isOpened()) throw std::runtime_error("cannot write " + video.string());
    std::ofstream truth(csv);
    truth << "frame,source_frame,x,y,dx,dy\n";
    const std::vector<int> order = PlayingOrder();
    for (std::size_t n = 0; n < order.size(); ++n) {
        writer.write(Source().Frame(order[n]));
        const FrameTruth now = Source().Truth(order[n]);
        const FrameTruth before = Source().Truth(order[n == 0 ? order.size() - 1 : n - 1]);
        char line[160];
        std::snprintf(line, sizeof line, "%zu,%d,%.4f,%.4f,%.4f,%.4f\n", n, order[n], now.x, now.y, now.x - before.x,
                      now.y - before.y);
        truth << line;
    }
    writer.release();
    truth.close();
    if (!truth) throw std::runtime_error("cannot write " + csv.string());
    fs::rename(csv, folder / (std::string(kName) + ".csv"));
    fs::rename(video, folder / (std::string(kName) + ".avi"));
}

fs::path HeadSequence() {
    const fs::path folder = MIVEX_E2E_SEQUENCE_DIR;
    const fs::path video = folder / (std::string(kName) + ".avi");
    if (!fs::exists(video)) WriteHeadSequence(folder);
    return video;
}

HeadDirection FastPassHeadDirection() {
    const std::vector<int> order = PlayingOrder();
    const FrameTruth start = Source().Truth(order.front());
    const FrameTruth end = Source().Truth(kQuarterFrames - 1);
    auto sign = [](double d) { return d > 2 ? 1 : d < -2 ? -1 : 0; };
    return {sign(end.x - start.x), sign(end.y - start.y)};
}

}  // namespace e2e
