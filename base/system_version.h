// The system report that heads the log and fills the about box: one line on the operating
// system, then the program's name, copyright and version.
//
//   CSystemVersion report;             // this machine, this build
//   log.Write(report.m_strSystem, true);
//   if (report.m_strVersion == latest) ...
#pragma once

#include <filesystem>
#include <optional>
#include <string>

struct OsRecord {
    std::string sysname;     // "Linux"
    std::string release;     // kernel release
    std::string machine;     // "x86_64"
    std::string prettyName;  // the distribution, from os-release; may be empty
};

// What the build stamps into the program; an empty field is a missing entry.
struct VersionRecord {
    std::string productName;
    std::string legalCopyright;
    std::string fileVersion;
    std::string productVersion;

    bool IsEmpty() const;
};

// This machine, or nothing when uname fails.
std::optional<OsRecord> ReadOsRecord();
// The distribution's PRETTY_NAME (else NAME) from an os-release file; empty when there is none.
std::string OsReleaseName(const std::filesystem::path& osRelease);
// This build's version data.
VersionRecord BuiltVersionRecord();

class CSystemVersion {
public:
    CSystemVersion();
    // An empty version record stands for a program without version data.
    CSystemVersion(const std::optional<OsRecord>& os, const VersionRecord& version);

    std::string m_strSystem;   // the whole report
    std::string m_strVersion;  // the file version, empty when the program has none
};
