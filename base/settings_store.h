// The settings store: 32-bit integers (and a few texts) by section and key, kept in an INI file
// ($XDG_CONFIG_HOME/KordO/Mivex.ini, else ~/.config/KordO/Mivex.ini).
//
//   CSettingsStore store;                                   // organisation "KordO", application "Mivex"
//   int fps = store.ReadClamped(Setting::kCameraFps);       // default 12, at least 1
//   store.WriteProfileInt("camera1", "fps", 25);            // on disk when this returns
//
// Reads never fail: a missing key, or a value that is not an integer, yields the default. The file
// is parsed once per change: reads of an unchanged file cost a stat.
// A write changes only the line of its key (a new key goes at the end of its section) and leaves
// every other byte as it was, comments and lines it cannot read included. It writes the whole
// file anew beside the old one, synced to the disk, and renames it over the old one, so a crash or
// a full disk leaves the old or the new file whole; a Mivex.ini linked from elsewhere is replaced
// where it lies. Writers of all processes take turns through a kernel lock on "Mivex.ini.lock",
// so none loses another's key; a write waits a few seconds at most for it.
// Only a regular file of at most 16 MB is read, opened without waiting. One that is there but
// cannot be read (no permission, a pipe or a folder in its place, no file descriptor left) reads
// as all defaults for as long as that lasts, and a write leaves it as it is and fails.
// Lines that are none of blank, comment (";" or "#"), "[section]" or "key=value" in UTF-8 are
// left out (a broken "[section" header leaves out its keys too); a file with NUL bytes is no text
// and reads as all defaults. Before the first write changes such a file, it is copied aside as
// "Mivex.ini.unreadable-YYYYMMDD-HHMMSS" (once for the same unreadable lines) and standard error
// says so; a file that is no text is then replaced.
// Use the store from the main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/settings_keys.h"

class QString;

class CSettingsStore {
public:
    static constexpr const char* kRegistryKey = "KordO";  // the organisation
    static constexpr const char* kAppTitle = "Mivex";
    static constexpr const char* kUnstorableText =
        "a text setting cannot hold a line break, a NUL byte or bytes that are not UTF-8";

    // The file is located when the store is made, honouring XDG_CONFIG_HOME at that moment.
    explicit CSettingsStore(const std::string& company = kRegistryKey);
    ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    int GetProfileInt(const char* section, const char* key, int defaultValue) const;
    // Returns false when the file could not be written; the value is then lost.
    bool WriteProfileInt(const char* section, const char* key, int value);

    // The same, named by an entry of the settings table.
    int Read(const SettingKey& key) const;         // as stored, or the default
    int ReadClamped(const SettingKey& key) const;  // forced into the key's range; nothing is written back
    bool ReadBool(const SettingKey& key) const;    // non-zero is true
    bool Write(const SettingKey& key, int value);
    bool WriteBool(const SettingKey& key, bool value);  // stored as Setting::kTrue or kFalse

    // Text values: a missing key yields the default. Text is stored as written, trimmed of
    // blanks at both ends; what would not read back the same (a line break, a NUL byte, bytes
    // that are not UTF-8) is refused (false, kUnstorableText, nothing written).
    std::string GetProfileString(const char* section, const char* key, const std::string& defaultValue) const;
    bool WriteProfileString(const char* section, const char* key, const std::string& value);
    std::string ReadText(const TextSettingKey& key) const;
    bool WriteText(const TextSettingKey& key, const std::string& value);

    bool Contains(const char* section, const char* key) const;

    // What the last copy of an unreadable file had to say (the file and its copy), once, for the
    // diagnostic log; empty when nothing was copied since the last call. Any store's write counts.
    static std::string TakeUnreadableNotice();
    const std::string& FilePath() const { return m_strPath; }
    // Why the last write failed (the file or folder read-only or in the way, a full disk, the
    // lock held too long), for the user; empty after a write that succeeded.
    const std::string& WriteError() const { return m_strWriteError; }
    // Called with WriteError() by a write that fails for another reason than the write before
    // it, so that a running program can say a failure once, when it happens.
    void SetWriteFailureHandler(std::function<void(const std::string&)> handler);
    // Why the file there cannot be read now (reads then yield the defaults); empty when it can, or
    // when there is none.
    std::string ReadError() const;

    struct ParsedFile;  // the file as read, defined where it is read

private:
    const ParsedFile& Current() const;  // the file as it is now, parsed again only when it changed
    std::optional<QString> ReadValue(const char* section, const char* key) const;  // none when missing
    bool WriteValue(const char* section, const char* key, const std::string& value);
    std::string ReplaceFile(const char* section, const char* key, const std::string& value);  // why not, or ""

    std::string m_strPath;
    std::string m_strWriteError;
    std::function<void(const std::string&)> m_onWriteFailure;
    mutable std::unique_ptr<ParsedFile> m_pParsed;
};

// Writes bytes to fd whole and syncs them to the disk, as a settings write does: "" when every
// byte is known written, else why not ("disk full", "disk quota used up", the system's text).
std::string WriteFileContents(int fd, std::string_view bytes);

// The settings file that a store made now would use.
std::string SettingsFilePath(const std::string& company = CSettingsStore::kRegistryKey);

// The table entry for "section" and "key", or null when the table has none.
const SettingKey* FindSettingKey(std::string_view section, std::string_view key);

// The text key for "section/key", or null when the table has none.
const TextSettingKey* FindTextSettingKey(std::string_view name);

// "section/key" of the table, or null with the reason in error.
const SettingKey* FindSettingKey(std::string_view name, std::string& error);

// "section/key=value" with a key of the table and a whole number.
struct SettingAssignment {
    const SettingKey* key = nullptr;
    int value = 0;
};
// The assignment, or nothing with the reason in error.
std::optional<SettingAssignment> ParseSettingAssignment(std::string_view text, std::string& error);
