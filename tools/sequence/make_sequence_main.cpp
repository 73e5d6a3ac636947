// mivex-make-sequence: writes a synthetic head-motion video and its ground truth.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/common/command_line.h"
#include "tools/sequence/synthetic_sequence.h"

namespace {

constexpr const char* kUsage =
    "Usage: mivex-make-sequence --trajectory circle|sweep|brightness|rests|leave|turn|cover|ordinary|shakes\n"
    "                           [--frames N] [--size WxH] [--photo FILE] --out PATH\n"
    "Writes PATH.avi (lossless FFV1, 30 fps) and PATH.csv (frame,x,y,dx,dy: the face photo's\n"
    "offset in pixels and its motion since the previous frame).\n"
    "  --trajectory NAME  circle: slow circle; sweep: fast left-right sweeps;\n"
    "                     brightness: slow drift while the brightness ramps by +-30%;\n"
    "                     rests: still, a quick move right, still, a quick move back;\n"
    "                     leave, turn, cover: in front of a textured wall, the head holds still,\n"
    "                     then leaves the picture, turns away or is covered by a hand for 3 s,\n"
    "                     comes back, holds still and nods (a cycle of 300 frames)\n"
    "                     ordinary: resting, reading, pointing, looking around, talking;\n"
    "                     shakes: head shakes at three speeds and sizes, with rests\n"
    "  --frames N         number of frames (default 300)\n"
    "  --size WxH         frame size (default 640x480)\n"
    "  --photo FILE       the face photograph, its head where the astronaut's is in the\n"
    "                     default one (data/astronaut.png beside this program)\n"
    "  --out PATH         output path without extension\n"
    "  --help             show this text\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "mivex-make-sequence: %s\n%s", message.c_str(), kUsage);
    return 2;
}

std::optional<cv::Size> ParseSize(std::string_view text) {
    const auto x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    const auto width = ParsePositive(text.substr(0, x)), height = ParsePositive(text.substr(x + 1));
    if (!width || !height) return std::nullopt;
    return cv::Size(*width, *height);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Trajectory> trajectory;
    int frames = 300;
    cv::Size size(640, 480);
    std::string out;
    std::filesystem::path photo = DefaultFacePhotoPath();

    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option != "--trajectory" && option != "--frames" && option != "--size" && option != "--out" &&
            option != "--photo")
            return UsageError("unknown option " + std::string(option));
        if (i + 1 >= argc) return UsageError(std::string(option) + " needs a value");
        const std::string_view value = argv[++i];
        if (option == "--trajectory") {
            try {
                trajectory = ParseTrajectory(value);
            } catch (const std::invalid_argument& e) {
                return UsageError(e.what());
            }
        } else if (option == "--frames") {
            const auto n = ParsePositive(value);
            if (!n) return UsageError("--frames needs a positive whole number, not '" + std::string(value) + "'");
            frames = *n;
        } else if (option == "--size") {
            const auto s = ParseSize(value);
            if (!s) return UsageError("--size needs WxH, e.g. 640x480, not '" + std::string(value) + "'");
            size = *s;
        } else if (option == "--photo") {
            photo = value;
        } else {
            out = value;
        }
    }
    if (!trajectory) return UsageError("--trajectory is required");
    if (out.empty()) return UsageError("--out is required");

    try {
        const SyntheticSequence sequence(*trajectory, frames, size, photo);
        const bool showProgress = ::isatty(STDERR_FILENO);
        WriteSequence(sequence, out, [&](int done) {
            if (showProgress && (done % 10 == 0 || done == frames)) std::fprintf(stderr, "\rframe %d/%d", done, frames);
        });
        if (showProgress) std::fputc('\n', stderr);
        std::printf("wrote %s.avi and %s.csv: %s, %d frames, %dx%d\n", out.c_str(), out.c_str(),
                    std::string(TrajectoryName(*trajectory)).c_str(), frames, size.width, size.height);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mivex-make-sequence: %s\n", e.what());
        return 1;
    }
    return 0;
}
