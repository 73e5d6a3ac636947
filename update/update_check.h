// One question to the update server: a plain HTTP/1.1 GET of "download/update_info.html", whose
// answer is "<version>:M!:<installer>.exe" and maybe more text after it.
//
//   CUpdateCheck check(server, [&](const std::string& line) { log.Write(line, true); });
//   if (check.Check())                      // blocks: run it on a worker thread
//       use(check.m_strVersion, check.m_strDownload);
//   else
//       explain(check.m_strFailure);        // also in the log
//
//   check.Cancel();                         // from any thread: Check returns false at once
//
// Check succeeds only for status 200 with an answer that follows the format and names a plain
// file (letters, digits, '.', '-', '_'), so that the download address stays on the server. What
// comes from the server reaches the log only as printable text (PrintableText).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "update/update_server.h"

// How long the check waits. The product uses the defaults; tests shorten them.
struct UpdateTimeouts {
    std::chrono::milliseconds connect{30'000};
    // After a connection that could not be made, the one retry waits this long first.
    std::chrono::milliseconds retryDelay{1'000};
    int connectRetries = 1;
    // What the whole exchange may take beyond the connect time-out: a server that accepts and
    // never answers is given up.
    std::chrono::milliseconds answer{30'000};
};

class CUpdateCheck {
public:
    static constexpr const char* kObject = "download/update_info.html";
    static constexpr const char* kMarker = ":M!:";
    static constexpr const char* kInstallerEnd = ".exe";
    // Bytes of the answer read; the rest is never looked at.
    static constexpr std::size_t kMaxAnswerBytes = 1999;
    // The longest error text logged.
    static constexpr std::size_t kMaxErrorText = 1024;

    // Where the check's log lines go: "Check for update: ...", "Update file ...", and why it failed;
    // each one printable.
    using LogLine = std::function<void(const std::string&)>;

    explicit CUpdateCheck(UpdateServer server, LogLine log = {}, UpdateTimeouts timeouts = {});
    ~CUpdateCheck();
    CUpdateCheck(const CUpdateCheck&) = delete;
    CUpdateCheck& operator=(const CUpdateCheck&) = delete;

    // Asks the server and reads its answer. True when the answer names a version and an installer:
    // m_strVersion and m_strDownload are then set. Call it once, on one thread.
    bool Check();
    // Ends a running Check (which then returns false) or makes a later one fail at once. Any thread,
    // as long as the object lives.
    void Cancel();
    bool IsCancelled() const { return m_bCancelled.load(); }

    std::string m_strVersion;   // the version text before the marker
    std::string m_strDownload;  // the installer's full address on the server
    std::string m_strFailure;   // why Check returned false, printable; empty after a success

private:
    struct Transfer;
    Transfer Fetch();
    bool WaitBeforeRetry();
    bool Fail(std::string reason);
    bool TakeAnswer(const std::string& text);
    void Log(const std::string& line) const;

    const UpdateServer m_server;
    const LogLine m_log;
    const UpdateTimeouts m_timeouts;
    void* m_pMulti = nullptr;  // the transfer's multi handle; its wake-up is how Cancel reaches Check
    std::atomic<bool> m_bCancelled{false};
};
