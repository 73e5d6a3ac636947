// Chooses how synthetic input reaches the system, once at start-up: uinput when /dev/uinput can
// be written (any session, X11 or Wayland), else XTest when an X display opens, else nothing.
//
//   InjectorSelection selection = SelectInputInjector();
//   Log(selection.text);
//   if (selection.kind == InjectorKind::Unavailable) ShowErrorOnce(selection.text);
#pragma once

#include <memory>
#include <string>

#include "output/input_injector.h"

enum class InjectorKind { Uinput, XTest, Unavailable };  // not "None": X11 defines that as a macro

struct InjectorSelectionOptions {
    bool useUinput = true;  // false: XTest or nothing, e.g. on an X server that ignores kernel devices
    const char* uinputPath = "/dev/uinput";
    const char* displayName = nullptr;  // nullptr: $DISPLAY
};

struct InjectorSelection {
    InjectorKind kind = InjectorKind::Unavailable;
    std::unique_ptr<IInputInjector> injector{};  // null exactly when kind is Unavailable
    std::string text{};                          // which one was chosen and why the others were not, one line
    std::string uinputWhyNot{};                  // empty when uinput is used
};

InjectorSelection SelectInputInjector(const InjectorSelectionOptions& options = {});

// For a Wayland session, where only uinput reaches every window: "" when uinput is used, else what
// the pointer can do without it and how to give the user access to /dev/uinput.
std::string WaylandPointerNotice(const InjectorSelection& selection);
