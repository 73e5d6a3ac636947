// The local socket's server: other programs of the same user switch the motion stream on and
// off and fetch its samples, one request and one reply per connection, one client after
// another, on a thread of its own.
//
//   CSdk sdk;
//   CThreadPipe pipe(sdk, mirror.m_bSdkActive, engine.StopAll(), version, &log, {.replaceStale = locked});
//   if (!pipe.Start(PipeSocketPath(PipeFolder::Create, error))) log(pipe.Error());
//   ...
//   pipe.Stop();   // wakes the thread at once, joins it and removes the socket
//
// Requests (the text up to the first zero byte): "version" replies the version text; "een" and
// "edi" switch the stream on and off and reply "??"; "xy" replies the next sample as
// "%f#%f#%d" (x, y, slot); anything else replies "??". A request that is empty, longer than
// kPipeRequestBytes or does not come within the request wait, and an "xy" that finds no new
// sample within the sample wait, get no reply: the connection is closed.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "output/unique_fd.h"

class CLogging;
class CSdk;

class CThreadPipe {
public:
    struct Options {
        // How long an "xy" waits for a sample that was not served yet.
        std::chrono::milliseconds sampleWait{1000};
        // How long a connected client may take to send its request.
        std::chrono::milliseconds requestWait{1000};
        // Only the copy that holds the single-instance lock may replace a socket file that a
        // crashed run left behind.
        bool replaceStale = false;
    };

    // sdk, sdkActive, stopAll and log (which may be null) must outlive the server.
    CThreadPipe(CSdk& sdk, std::atomic<bool>& sdkActive, std::atomic<bool>& stopAll, std::string version, CLogging* log,
                Options options);
    ~CThreadPipe();
    CThreadPipe(const CThreadPipe&) = delete;
    CThreadPipe& operator=(const CThreadPipe&) = delete;

    // Listens on the socket (mode 0600) and starts serving. False, with the reason in Error(),
    // when the socket cannot be made; a file in its place that is not a socket is left alone.
    bool Start(const std::filesystem::path& socket);
    // Ends the server at once, even in the middle of a wait, and removes its socket file.
    void Stop();

    const std::string& Error() const { return m_strError; }

private:
    enum class Wait { Ready, TimedOut, Stopped };

    void Run();
    void ServeClient(int client);
    // The reply to a request, or nothing when the connection is to close without one.
    std::optional<std::string> Answer(const char* request, int client);
    std::optional<std::string> ServeXy(int client);
    bool PeerIsUser(int client);
    // Waits for events on fd, or for the stop; revents gets what happened on fd.
    Wait WaitFor(int fd, short events, std::chrono::milliseconds timeout, short& revents) const;

    CSdk& m_sdk;
    std::atomic<bool>& m_bSdkActive;
    std::atomic<bool>& m_bStopAll;
    const std::string m_strVersion;
    CLogging* const m_pLog;
    const Options m_options;

    std::string m_strError;
    std::filesystem::path m_socketPath;
    ino_t m_socketInode = 0;  // the file this server made, the only one it removes
    UniqueFd m_listen;
    UniqueFd m_wake;  // readable once the server is to stop
    std::thread m_thread;

    // The server thread's own: the read index, the slot served last and the served counter.
    int m_iReadIndex = 0;
    int m_iLastServed = -1;
    std::uint32_t m_nServed = 0;
    bool m_bStrangerLogged = false;
};
