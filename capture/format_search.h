// Capture format negotiation: which of the camera's formats to capture in, and later its frame
// rate. Plain logic over the capture layer's capability operations.
//
//   CaptureFormat format;                              // kept for the capture object's life
//   SelectCaptureFormat(layer, wantedWidth, fps, format, &log);
//   ... format.width x format.height is the size of every frame ...
//   SetFrameRate(layer, 30, format.capabilityIndex, &log);
//
// The search tries 24, 12 and 16 bits per pixel at the wanted width, then 24, 12 and 16 bits at
// any width (the first format of that depth that the camera takes wins). Of the formats at the
// wanted width, the one of the wanted height is taken where the camera offers it. Each step is written to
// the diagnostic log, which is how a camera that will not start is diagnosed in the field.
#pragma once

#include <array>
#include <cstdint>

#include "capture/capture_layer.h"

class CLogging;

struct Resolution {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const Resolution&) const = default;
};

// The resolutions the camera offers at the depth that was chosen, for the camera page.
struct ResolutionList {
    static constexpr int kCapacity = 50;  // later entries are dropped

    std::array<Resolution, kCapacity> entries{};
    int count = 0;
    int selected = 0;  // the entry of the chosen format; kCapacity - 1 when it came after the list was full
};

// The outcome of the search. A width of 0 means nothing was chosen.
struct CaptureFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int capabilityIndex = -1;  // the chosen format's position in the camera's list
    ResolutionList resolutions;
};

// 10,000,000 / fps in 100-ns units; a rate below 1 counts as 1.
std::int64_t FrameIntervalFor(int fps);

// Chooses a format from the open device's list and applies it with the frame rate; a format the
// layer refuses is passed over, as its frames would not have the chosen size. Does nothing
// beyond the first two log lines when format.width is already set: a rebuilt capture keeps its
// first choice. Returns the chosen capability's index, or -1. log may be null; wantedHeight 0:
// none chosen.
int SelectCaptureFormat(ICaptureLayer& layer, int wantedWidth, int fps, CaptureFormat& format, CLogging* log,
                        int wantedHeight = 0);

// Changes the frame interval of the format in use. capabilityIndex names that format; the layer
// already knows it, so it only documents the call.
void SetFrameRate(ICaptureLayer& layer, int fps, int capabilityIndex, CLogging* log);
