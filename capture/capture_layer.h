// The capture layer: what the program needs of a video capture framework, in the order it uses
// it. One implementation per kind of source: V4L2 webcams, a video file standing in for a
// camera, and a scripted fake for tests.
//
//   std::unique_ptr<ICaptureLayer> layer = ...;
//   layer->SetLog([&](const std::string& line) { log.Write(line, true); });   // what no result says
//   auto devices = layer->EnumerateDevices();          // stable order; index = position
//   layer->Open(0);
//   for (int i = 0; i < layer->CapabilityCount(); ++i) layer->GetCapability(i, caps);
//   layer->SetFormat(index, 10'000'000 / fps);         // frame interval in 100-ns units
//   layer->SetFrameCallback([](CameraFrame& frame) { ... frame.Grey(grey) ... });
//   layer->Run();  ...  layer->Stop();                 // Stop returns after the last callback
//   layer->Close();
//
// Frames are handed as CameraFrame (camera_frame.h), whatever the device delivers: every frame
// has the size of the format really set; its grey image is read straight from the device's
// data where that holds one (a JPEG's luminance, the Y samples of YUV formats), and its colour
// image, in the colour layout (BGR, rows top-down, padded to 4 bytes), is decoded only for the
// frames whose handler asks for it. Whether a frame can be decoded shows only as the handler reads
// it (Grey or Colour fails, Failure says why), so the handler gets every frame and drops what it
// cannot read; the layer learns of it when the handler returns, counts such frames and logs them
// at a limited rate, and a stream of nothing else ends like a camera that stopped. Errors are
// results (false, 0, an empty list), never exceptions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/camera_frame.h"

struct CaptureDeviceInfo {
    std::string friendlyName;  // for V4L2 the driver's card name
    std::string description;   // may be empty
    std::string devicePath;    // may be empty
};

// One format the device offers, as the format search sees it.
struct CaptureCapability {
    bool isVideo = true;
    std::uint16_t biBitCount = 0;  // bits per pixel the search knows the format by: 24, 16 or 12 (others unusual)
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
};

// One of the device's own settings (brightness, exposure, ...), as its settings dialog shows it.
struct CaptureControl {
    enum class Kind { Integer, Boolean, Menu, IntegerMenu, Button };
    struct MenuEntry {
        std::int32_t value = 0;
        std::string text;
        bool operator==(const MenuEntry&) const = default;
    };

    std::uint32_t id = 0;
    std::string name{};
    Kind kind = Kind::Integer;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
    std::int32_t value = 0;
    std::vector<MenuEntry> menu{};  // the entries the device lists, for the two menu kinds
    // Shown but not changeable: another setting rules it now (an exposure while exposure is
    // automatic), or the device only reports it.
    bool inactive = false;
    bool readOnly = false;
    std::string error{};  // why the value could not be read; empty when it could

    bool Changeable() const { return !inactive && !readOnly && error.empty(); }
};
// Called once per frame on a thread of the layer; the frame is valid only during the call; the
// next frame waits until it returns. Must not throw.
using CaptureFrameCallback = std::function<void(CameraFrame& frame)>;
// Takes one line for the diagnostic log, from any thread of the layer. Must not throw.
using CaptureLog = std::function<void(const std::string& line)>;

class ICaptureLayer {
public:
    virtual ~ICaptureLayer() = default;

    // 1. The video input devices in a stable order; a device that cannot be described is left out.
    virtual std::vector<CaptureDeviceInfo> EnumerateDevices() = 0;
    // 2. Opens the device at that position of the list, ready to deliver its frames as CameraFrame.
    virtual bool Open(int deviceIndex) = 0;
    // 3. The open device's formats, in its own order. GetCapability fails for an index it
    // cannot describe.
    virtual int CapabilityCount() = 0;
    virtual bool GetCapability(int index, CaptureCapability& capability) = 0;
    // 4. Applies one offered format with a frame interval in 100-ns units; later, changes only
    // the interval of the format in use.
    virtual bool SetFormat(int capabilityIndex, std::int64_t frameInterval100ns) = 0;
    virtual bool SetFrameInterval(std::int64_t frameInterval100ns) = 0;
    // 5. Where frames go once running; set before Run.
    virtual void SetFrameCallback(CaptureFrameCallback callback) = 0;
    // 6. Starts and stops delivery. Stop returns only after the last callback has returned.
    virtual bool Run() = 0;
    virtual bool Stop() = 0;
    // 7. The device's own settings, in the device's order, and a change of one: false, with
    // the device's reason in error, when it was refused.
    virtual std::vector<CaptureControl> Controls() = 0;
    virtual bool SetControl(std::uint32_t id, std::int32_t value, std::string& error) = 0;
    // 8. Stops if needed and releases the device.
    virtual void Close() = 0;
    // Where the layer says what no result shows: a driver that adjusted a format or keeps its own
    // frame rate, delivery that ended by itself. Set before Open; a layer with nothing of the kind
    // ignores it.
    virtual void SetLog(CaptureLog /*log*/) {}
};
