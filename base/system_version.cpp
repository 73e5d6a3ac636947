#include "base/system_version.h"

#include <sys/utsname.h>

#include <fstream>

#include "base/version_info.h"

namespace {

constexpr const char* kNewLine = "\r\n";

// os-release values may be quoted; the quotes are not part of the value.
std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        plain += value[i];
    }
    return plain;
}

std::string OperatingSystemLine(const OsRecord& os) {
    std::string line = os.sysname + ": V " + os.release + ", machine: " + os.machine;
    if (!os.prettyName.empty()) line += ", " + os.prettyName;
    return line;
}

}  // namespace

bool VersionRecord::IsEmpty() const {
    return productName.empty() && legalCopyright.empty() && fileVersion.empty() && productVersion.empty();
}

std::string OsReleaseName(const std::filesystem::path& osRelease) {
    std::ifstream file(osRelease);
    std::string line, name, prettyName;
    while (std::getline(file, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0)
            prettyName = Unquote(line.substr(12));
        else if (line.rfind("NAME=", 0) == 0)
            name = Unquote(line.substr(5));
    }
    return prettyName.empty() ? name : prettyName;
}

std::optional<OsRecord> ReadOsRecord() {
    utsname system{};
    if (::uname(&system) != 0) return std::nullopt;
    std::string prettyName = OsReleaseName("/etc/os-release");
    if (prettyName.empty()) prettyName = OsReleaseName("/usr/lib/os-release");
    return OsRecord{system.sysname, system.release, system.machine, prettyName};
}

VersionRecord BuiltVersionRecord() {
    return {MIVEX_PRODUCT_NAME, MIVEX_LEGAL_COPYRIGHT, MIVEX_FILE_VERSION, MIVEX_PRODUCT_VERSION};
}

CSystemVersion::CSystemVersion() : CSystemVersion(ReadOsRecord(), BuiltVersionRecord()) {}

CSystemVersion::CSystemVersion(const std::optional<OsRecord>& os, const VersionRecord& version) {
    m_strSystem = "No system info found";
    if (!os) return;
    m_strSystem = OperatingSystemLine(*os) + kNewLine + kNewLine;

    if (version.IsEmpty()) return;
    if (!version.productName.empty()) m_strSystem += version.productName + kNewLine + kNewLine;
    if (!version.legalCopyright.empty()) m_strSystem += version.legalCopyright + kNewLine;
    m_strSystem += "Program version: ";
    if (!version.fileVersion.empty()) {
        m_strSystem += version.fileVersion + kNewLine;
        m_strVersion = version.fileVersion;
    }
    if (!version.productVersion.empty()) m_strSystem += version.productVersion + kNewLine;
}
