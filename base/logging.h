// The diagnostic log: one plain-text file per run, data/MivexLog<n>.txt, n cycling 0..10.
//
//   CLogging log(store);            // takes this run's number from "logCount" and advances it
//   log.Open();                     // creates the file and writes the start record
//   log.Write("camera fps wanted: ", false);
//   log.WriteInt(12, "", true);     // -> "camera fps wanted: 12\r\n"
//
// Lines end in CR LF. Each write goes straight to the file. A failed open only disables the log:
// every later write does nothing, and OpenError says why. The file is never reached through a
// link, and only a regular file of the user's with no other name is used. While open, the file
// is locked against every other opener. When the store cannot keep the counter, the run takes
// the number after the newest log file.
// Writes from several threads are safe: each one is appended whole.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/settings_store.h"

class CLogging {
public:
    static constexpr std::size_t kMaxTextBytes = 300;
    static constexpr std::size_t kMaxIntBytes = 50;

    // The local time now, or nothing when it cannot be had; asked once per field of the start record.
    using LocalClock = std::function<std::optional<std::tm>()>;
    static std::optional<std::tm> SystemLocalTime();

    explicit CLogging(CSettingsStore& store, std::filesystem::path dataDirectory, LocalClock clock = SystemLocalTime);
    explicit CLogging(CSettingsStore& store);  // in LogDirectory()
    virtual ~CLogging();
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    // Opens the file and writes the start record. Always returns true: a failure only disables
    // the log.
    virtual bool Open();

    // Appends "\r\n" when newLine is set, then writes at most kMaxTextBytes of the result.
    void Write(std::string_view text, bool newLine);
    // Writes "<value><suffix>", with "\r\n" when newLine is set, at most kMaxIntBytes in all.
    void WriteInt(int value, std::string_view suffix, bool newLine);

    bool IsOpen() const;
    // Why the last Open found no file to write; empty when it did.
    std::string OpenError() const;
    int LogCount() const { return m_iLogCount; }
    std::filesystem::path FilePath() const;

private:
    void WriteStartRecord();
    void Append(std::string_view bytes, std::size_t limit);

    const std::string m_strNewLine = "\r\n";
    const std::filesystem::path m_dataDirectory;
    const LocalClock m_localClock;
    int m_iLogCount = 0;

    mutable std::mutex m_mutex;  // guards the descriptor and keeps each write whole
    int m_fd = -1;
    std::string m_strOpenError;
};
