#include "base/autostart_entry.h"

#include <QDir>
#include <QSaveFile>

#include <string_view>

#include "base/paths.h"
#include "base/version_info.h"

namespace {

// One argument of an Exec line, always in double quotes: inside them `"`, `` ` ``, `$` and `\`
// take a backslash, and a `%` is doubled so it is not read as a field code.
std::string QuoteExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + '"';
}

// A value of the key file itself: backslashes and control characters are escaped once more.
std::string EscapeValue(std::string_view value) {
    std::string escaped;
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string EntryText(const std::filesystem::path& executable) {
    return std::string(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=") +
           MIVEX_PRODUCT_NAME "!\n" +
           "Comment=Hands-free camera mouse: move the pointer with your head\n"
           "Icon=mivex\n"
           "Exec=" +
           EscapeValue(QuoteExecArgument(executable.string())) + " " + kAutostartOption + "\n" +
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace

std::filesystem::path AutostartEntryPath() {
    // The same configuration folder as the settings file's.
    return ConfigHome() / "autostart" / kAutostartEntryName;
}

bool SetRunAtStartup(bool enable, const std::filesystem::path& executable, std::string& error) {
    const std::filesystem::path entry = AutostartEntryPath();
    if (!enable) {
        std::error_code removeError;
        std::filesystem::remove(entry, removeError);
        if (removeError) error = "cannot remove " + entry.string() + ": " + removeError.message();
        return !removeError;
    }
    // Anything but an absolute path would start nothing, or whatever the login's PATH finds.
    if (!executable.is_absolute()) {
        error = "no absolute path of the program to start at login (got '" + executable.string() + "')";
        return false;
    }
    if (!QDir().mkpath(QString::fromStdString(entry.parent_path().string()))) {
        error = "cannot create the folder " + entry.parent_path().string();
        return false;
    }
    QSaveFile file(QString::fromStdString(entry.string()));
    const std::string text = EntryText(executable);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !file.commit()) {
        error = "cannot write " + entry.string() + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}
