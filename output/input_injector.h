// Where synthetic input goes: the system (uinput, XTest) or, in tests, a recording.
#pragma once

#include "output/input_event.h"

class IInputInjector {
public:
    virtual ~IInputInjector() = default;

    // Injects one event. Called once per camera frame on the capture thread and now and then on
    // the user-interface thread, so it must be safe to call from several threads, must not
    // block for long (no waiting for a reply from the display server or the kernel beyond the
    // write itself) and must not throw: an event the system refuses is dropped, as callers never
    // look at a result.
    virtual void Send(const InputEvent& event) noexcept = 0;
};
