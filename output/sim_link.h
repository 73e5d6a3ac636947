// The link to a simulator's view: opened, given the view's orientation again and again, and
// closed. The flight page drives it; CUdpSimLink is the real one, CRecordingSimLink the fake.
//
//   CUdpSimLink link(SimTarget{"127.0.0.1", 4242});
//   if (link.Open()) {                                   // false: no one listens there
//       if (!link.SendOrientation(heading, pitch)) ...  // the connection is lost
//       link.Close();
//   }
//
// Each call reports success or failure and never throws; LastError() says why the last call
// failed. A link is used by one thread at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class ISimLink {
public:
    virtual ~ISimLink() = default;
    ISimLink() = default;
    ISimLink(const ISimLink&) = delete;
    ISimLink& operator=(const ISimLink&) = delete;

    // Makes the connection and shows the centred view. False when the simulator is not there.
    virtual bool Open() = 0;
    // The view's heading and pitch in degrees, each within -180..180. Must not block: it is
    // called on the capture thread with every frame. False when the connection is lost.
    virtual bool SendOrientation(float heading, float pitch) = 0;
    // Ends the connection; the view stays where it was last sent. Harmless when not open.
    virtual bool Close() = 0;
    virtual std::string LastError() const = 0;
};

// Where a network link sends: a numeric IPv4 or IPv6 address, or "localhost", and a port.
struct SimTarget {
    std::string host = "127.0.0.1";
    int port = 4242;

    // "host:port", with an IPv6 address in brackets: "[::1]:4242".
    std::string Text() const;
    bool operator==(const SimTarget&) const = default;
};

// "host:port" as a user types it, or nothing with the reason in error. Host names other than
// "localhost" are refused: looking one up could hold up the program for seconds.
std::optional<SimTarget> ParseSimTarget(std::string_view text, std::string& error);
