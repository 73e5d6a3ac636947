#include "format_search.h"

#include <string_view>

#include "logging.h"

namespace {

void Log(CLogging* log, std::string_view text, bool newLine) {
    if (log) log->Write(text, newLine);
}

void LogInt(CLogging* log, int value, std::string_view suffix, bool newLine) {
    if (log) log->WriteInt(value, suffix, newLine);
}

// One pass over the camera's list at one depth. Collects the resolutions of that depth and
// selects the first format at the wanted width; wantedWidth 0 takes the first one's width.
// Returns whether a format was selected.
bool SearchPass(ICaptureLayer& layer, int count, int searchBits, int& wantedWidth,
                std::int64_t frameInterval, CaptureFormat& format, CLogging* log) {
    ResolutionList& list = format.resolutions;
    list.count = 0;
    bool selected = false;
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

        if (wantedWidth == 0) wantedWidth = caps.biWidth;
        else if (caps.biWidth != wantedWidth) continue;
        // The rest of the list is still walked so that the camera page sees every resolution.
        if (selected) continue;

        layer.SetFormat(i, frameInterval);  // a refusal still leaves this format chosen
        list.selected = list.count - 1;
        format.width = caps.biWidth;
        format.height = caps.biHeight;
        Log(log, "Resolution selected", true);
        format.capabilityIndex = i;
        selected = true;
    }
    return selected;
}

}  // namespace

std::int64_t FrameIntervalFor(int fps) {
    return 10'000'000 / (fps < 1 ? 1 : fps);
}

int SelectCaptureFormat(ICaptureLayer& layer, int wantedWidth, int fps, CaptureFormat& format,
                        CLogging* log) {
    const int count = layer.CapabilityCount();
    LogInt(log, count, " GetNumberOfCapabilities iCount", true);
    LogInt(log, static_cast<int>(sizeof(CaptureCapability)), " GetNumberOfCapabilities iSize", true);
    if (format.width != 0) return -1;

    const std::int64_t frameInterval = FrameIntervalFor(fps);
    int searchBits = 24;
    int timeout = 0;
    for (;;) {
        const bool selected =
            SearchPass(layer, count, searchBits, wantedWidth, frameInterval, format, log);
        Log(log, "", true);
        ++timeout;
        bool more = true;
        switch (timeout) {
            case 1:
                Log(log, "Timeout == 1, next search = 12 bit", true);
                searchBits = 12;
                break;
            case 2:
                Log(log, "Timeout == 2, next search = 16 bit", true);
                searchBits = 16;
                break;
            case 3:
                Log(log, "Timeout == 3, next search = 24, 1e width selected", true);
                searchBits = 24;
                wantedWidth = 0;
                break;
            case 4:
                Log(log, "Timeout == 4, next search = 12 bit", true);
                searchBits = 12;
                break;
            case 5:
                Log(log, "Timeout == 5, next search = 16 bit", true);
                searchBits = 16;
                break;
            default:
                Log(log, "Timeout == 6, FATAL nothing found", true);
                more = false;
                break;
        }
        if (selected) return format.capabilityIndex;
        if (!more) return -1;
    }
}

void SetFrameRate(ICaptureLayer& layer, int fps, int /*capabilityIndex*/, CLogging* log) {
    if (!layer.SetFrameInterval(FrameIntervalFor(fps))) Log(log, "SetFormat can't set fps", true);
}
