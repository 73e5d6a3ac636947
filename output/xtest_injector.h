// Injection through the X server's XTest extension: relative motion, buttons 1/2/3, the wheel as
// buttons 4/5 (up, down) and 6/7 (left, right), one press and release a whole notch, and key
// events on one display connection of its own. Works on X11 sessions only.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "output/input_injector.h"
#include "output/pressed_buttons.h"
#include "output/wheel_notches.h"

struct _XDisplay;

class CXTestInjector final : public IInputInjector {
public:
    // Opens the display (nullptr: $DISPLAY) and checks for XTest. On failure returns nullptr and
    // says why in whyNot.
    static std::unique_ptr<CXTestInjector> Open(const char* displayName, std::string& whyNot);

    // Releases any button still held through this connection, then closes it.
    ~CXTestInjector() override;
    CXTestInjector(const CXTestInjector&) = delete;
    CXTestInjector& operator=(const CXTestInjector&) = delete;

    void Send(const InputEvent& event) noexcept override;

    // The display string of the open connection, e.g. ":0".
    const std::string& DisplayName() const { return m_displayName; }

private:
    CXTestInjector(_XDisplay* display, std::string displayName);
    void Inject(const InputEvent& event);

    std::mutex m_lock;  // Xlib connections are not safe to use from two threads at once
    _XDisplay* m_display;
    std::string m_displayName;
    CPressedButtons m_pressed;
    CWheelNotches m_notches;
};
