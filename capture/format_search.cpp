#include "capture/format_search.h"

#include <string_view>

#include "base/camera_frame.h"
#include "base/logging.h"

namespace {

void Log(CLogging* log, std::string_view text, bool newLine) {
    if (log) log->Write(text, newLine);
}

void LogInt(CLogging* log, int value, std::string_view suffix, bool newLine) {
    if (log) log->WriteInt(value, suffix, newLine);
}

// Whether the camera offers a trackable format of that depth and size.
bool Offers(ICaptureLayer& layer, int count, int bits, int width, int height) {
    for (int i = 0; i < count; ++i) {
        CaptureCapability caps;
        if (layer.GetCapability(i, caps) && caps.isVideo && caps.biBitCount == bits && caps.biWidth == width &&
            caps.biHeight == height && TrackableFrameSize(width, height))
            return true;
    }
    return false;
}

// One pass over the camera's list at one depth. Collects the resolutions of that depth and
// selects the first format at the wanted width (and height, where one of that width has it);
// wantedWidth 0 takes the first one's width. Returns whether a format was selected.
bool SearchPass(ICaptureLayer& layer, int count, int searchBits, int& wantedWidth, int wantedHeight,
                std::int64_t frameInterval, CaptureFormat& format, CLogging* log) {
    ResolutionList& list = format.resolutions;
    list.count = 0;
    bool selected = false;
    // Two sizes may share the width (640 x 360 and 640 x 480): the height chosen with it decides.
    if (wantedWidth == 0 || !Offers(layer, count, searchBits, wantedWidth, wantedHeight)) wantedHeight = 0;
    for (int i = 0; i < count; ++i) {
        CaptureCapability caps;
        if (!layer.GetCapability(i, caps)) continue;
        LogInt(log, i, " GetStreamCaps ok", true);
        if (!caps.isVideo) continue;

        // A depth that does not match leaves this line open; the next entry continues it.
        LogInt(log, caps.biBitCount, " biBitCount - ", false);
        LogInt(log, searchBits, " searchBit - ", false);
        if (caps.biBitCount != searchBits) continue;
        LogInt(log, caps.biWidth, " width - ", false);
        LogInt(log, caps.biHeight, " height", true);

        if (list.count < ResolutionList::kCapacity)
            list.entries[list.count++] = Resolution{caps.biWidth, caps.biHeight};

        // The rest of the list is still walked so that the camera page sees every resolution.
        if ((wantedWidth != 0 && caps.biWidth != wantedWidth) || (wantedHeight != 0 && caps.biHeight != wantedHeight) ||
            selected)
            continue;
        // Head detection could not reduce such frames; the format is passed over as unusable.
        if (!TrackableFrameSize(caps.biWidth, caps.biHeight)) {
            LogInt(log, caps.biWidth, " x ", false);
            LogInt(log, caps.biHeight, " is too small to track, not selected", true);
            continue;
        }
        // A format the camera refuses would deliver frames of another size: the search goes on.
        if (!layer.SetFormat(i, frameInterval)) {
            LogInt(log, caps.biWidth, " x ", false);
            LogInt(log, caps.biHeight, " refused by the camera, not selected", true);
            continue;
        }
        if (wantedWidth == 0) wantedWidth = caps.biWidth;
        list.selected = list.count - 1;
        format.width = caps.biWidth;
        format.height = caps.biHeight;
        Log(log, "Resolution selected", true);
        format.capabilityIndex = i;
        selected = true;
    }
    return selected;
}

// What each finished pass logs and what the next one searches for: 24, 12 and 16 bits at the
// wanted width, then the same at any width.
struct NextPass {
    const char* log;
    int bits;       // 0: no further pass
    bool anyWidth;  // forget the wanted width: the first capability of that depth wins
};
constexpr NextPass kAfterPass[] = {
    {"Timeout == 1, next search = 12 bit", 12, false},
    {"Timeout == 2, next search = 16 bit", 16, false},
    {"Timeout == 3, next search = 24, 1e width selected", 24, true},
    {"Timeout == 4, next search = 12 bit", 12, false},
    {"Timeout == 5, next search = 16 bit", 16, false},
    {"Timeout == 6, FATAL nothing found", 0, false},
};

}  // namespace

std::int64_t FrameIntervalFor(int fps) { return 10'000'000 / (fps < 1 ? 1 : fps); }

int SelectCaptureFormat(ICaptureLayer& layer, int wantedWidth, int fps, CaptureFormat& format, CLogging* log,
                        int wantedHeight) {
    const int count = layer.CapabilityCount();
    LogInt(log, count, " GetNumberOfCapabilities iCount", true);
    LogInt(log, static_cast<int>(sizeof(CaptureCapability)), " GetNumberOfCapabilities iSize", true);
    if (format.width != 0) return -1;

    const std::int64_t frameInterval = FrameIntervalFor(fps);
    int searchBits = 24;
    for (int timeout = 0;; ++timeout) {
        const bool selected =
            SearchPass(layer, count, searchBits, wantedWidth, wantedHeight, frameInterval, format, log);
        Log(log, "", true);
        const NextPass& next = kAfterPass[timeout];
        Log(log, next.log, true);
        searchBits = next.bits;
        if (next.anyWidth) wantedWidth = wantedHeight = 0;
        if (selected) return format.capabilityIndex;
        if (next.bits == 0) return -1;
    }
}

void SetFrameRate(ICaptureLayer& layer, int fps, int /*capabilityIndex*/, CLogging* log) {
    if (!layer.SetFrameInterval(FrameIntervalFor(fps))) Log(log, "SetFormat can't set fps", true);
}
