#include "output/injector_selection.h"

#include "output/uinput_injector.h"
#include "output/xtest_injector.h"

InjectorSelection SelectInputInjector(const InjectorSelectionOptions& options) {
    InjectorSelection selection;
    std::string uinputWhyNot = "not wanted";
    if (auto uinput = options.useUinput ? CUinputInjector::Create(options.uinputPath, uinputWhyNot) : nullptr) {
        const std::string node = uinput->DeviceNode();
        selection.text = std::string("Input injection: uinput virtual device through ") + options.uinputPath +
                         (node.empty() ? "" : " (" + node + ")");
        selection.kind = InjectorKind::Uinput;
        selection.injector = std::move(uinput);
        return selection;
    }

    selection.uinputWhyNot = uinputWhyNot;
    std::string xtestWhyNot;
    if (auto xtest = CXTestInjector::Open(options.displayName, xtestWhyNot)) {
        selection.text =
            "Input injection: XTest on X display " + xtest->DisplayName() + "; uinput not used: " + uinputWhyNot;
        selection.kind = InjectorKind::XTest;
        selection.injector = std::move(xtest);
        return selection;
    }

    selection.text = "No input injection, the pointer cannot be moved: uinput: " + uinputWhyNot +
                     " (it needs the uinput module and write access for the user, e.g. through a udev rule)" +
                     "; XTest: " + xtestWhyNot;
    selection.kind = InjectorKind::Unavailable;
    return selection;
}

std::string WaylandPointerNotice(const InjectorSelection& selection) {
    if (selection.kind == InjectorKind::Uinput) return "";
    return std::string(selection.kind == InjectorKind::XTest
                           ? "The pointer moves through XTest, over X11 windows only: "
                           : "The pointer cannot move: ") +
           selection.uinputWhyNot +
           ". Install the Mivex package (its udev rule gives you access to /dev/uinput) or see \"Pointer "
           "injection\" in the README.";
}
