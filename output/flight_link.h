// The simulator view link of the flight page: turns the head's motion into the view's heading and
// pitch, smooths it, sends it over an ISimLink, and keeps the connection: tried 2 s after the
// link is switched on and every 64 s after that while it fails, the view re-sent every 2 s while
// it holds. The page shows StatusText() in its status field.
//
//   CFlightLink link(mirror, std::make_unique<CUdpSimLink>(target));
//   engine.RegisterView(&link);      // MoveCamera with every frame while connected
//   link.EnableLink(true);           // then OnTimer() every kTimerInterval
//   ...
//   link.EnableLink(false);          // the centred view twice, then closed
//
// MoveCamera runs on the capture thread (and for the centre hotkey); everything else on the
// user-interface thread. One lock keeps the angles, the histories and the link consistent
// between them; the user-interface side holds it only for single calls, never across a sleep.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/motion_output.h"
#include "base/settings_mirror.h"
#include "output/sim_link.h"
#include "output/smoothing_history.h"

// a brought within -180..180 in steps of 360, each rounded to a 32-bit float; -180 and 180 stay.
float WrapAngle(float a);

class CFlightLink final : public IViewOutput, public IViewCentre {
public:
    static constexpr std::chrono::milliseconds kTimerInterval{2000};
    static constexpr const char* kStatusInit = "Init.....";
    static constexpr const char* kStatusConnected = "Mivex! connected to FSX";
    static constexpr const char* kStatusChecking = "Not connected, checking..............";

    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // settings: reads m_nSliderSmoothSimFS and m_bFlightAutoCenter, writes m_bFlightConnected.
    // sleep: the pauses of the orderly close (empty: really sleep); tests pass one that counts.
    CFlightLink(CSettingsMirror& settings, std::unique_ptr<ISimLink> link, Sleep sleep = {});
    // Closes a connection that is open, the view centred first.
    ~CFlightLink() override;
    CFlightLink(const CFlightLink&) = delete;
    CFlightLink& operator=(const CFlightLink&) = delete;

    // Another link (a new target): the current one is closed, the view centred first; the new one
    // is opened by the next attempt.
    void SetLink(std::unique_ptr<ISimLink> link);

    // x drives the heading, y the pitch, in degrees; absolute replaces the view's angles, else
    // adds to them. Sends the result; a failed send clears the connection.
    void MoveCamera(float x, float y, bool absolute) override;
    // On: status "Init.....", counters, connection and angles cleared; the caller then calls
    // OnTimer every kTimerInterval. Off: when connected, the centred view twice, 100 ms apart,
    // and the connection closed 200 ms later.
    void EnableLink(bool on);
    // The 2 s tick while the link is on.
    void OnTimer();
    // The centre hotkey: both angles to 0, and the view sent when connected.
    void CentreView() override;

    bool Connected() const { return m_settings.m_bFlightConnected; }
    std::string StatusText() const;

private:
    void Send(float heading, float pitch);  // with the lock held
    void CloseCentred();                    // with the lock held

    CSettingsMirror& m_settings;
    const Sleep m_sleep;

    mutable std::mutex m_lock;
    std::unique_ptr<ISimLink> m_pLink;
    bool m_bClosing = false;  // the orderly close runs: frames send nothing
    float m_fHeading = 0.0f;
    float m_fPitch = 0.0f;
    CSmoothingHistory m_historyX;
    CSmoothingHistory m_historyY;
    int m_nSmoothCount = 2;
    int m_iRetryCount = 0;
    int m_iDotCount = 0;
    std::string m_strStatus = kStatusInit;
};
