// The simulator link over the network: the head's pose as UDP datagrams in the format of
// opentrack's "UDP over network" input, so any simulator that opentrack drives follows the head.
// Each datagram is 48 bytes, six little-endian IEEE-754 doubles: x, y, z (always 0), yaw (the
// heading), pitch and roll (always 0), angles in degrees.
//
// UDP has no connection; "open" means the target's port did not report itself unreachable
// within a short wait after the centred pose was sent to it, and a send that the system refuses
// (the port reported unreachable since) means the connection is lost.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "output/sim_link.h"

class CUdpSimLink final : public ISimLink {
public:
    static constexpr std::size_t kDatagramSize = 48;
    // A receiver-less port on this machine answers at once; one across a network in a few ms.
    static constexpr std::chrono::milliseconds kUnreachableWait{100};

    explicit CUdpSimLink(SimTarget target, std::chrono::milliseconds unreachableWait = kUnreachableWait);
    ~CUdpSimLink() override;

    bool Open() override;
    bool SendOrientation(float heading, float pitch) override;
    bool Close() override;
    std::string LastError() const override { return m_strError; }

    // The datagram for a heading and a pitch.
    static std::array<std::uint8_t, kDatagramSize> Datagram(float heading, float pitch);

private:
    bool Fail(const std::string& what, int error);

    const SimTarget m_target;
    const std::chrono::milliseconds m_unreachableWait;
    int m_hSocket = -1;
    std::string m_strError;
};
