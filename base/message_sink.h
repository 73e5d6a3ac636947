// Where texts the user must see go. Implementations show them on the user-interface thread;
// Show itself may be called from any thread and must not block.
#pragma once

#include <string>

class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void Show(const std::string& text) = 0;
};
