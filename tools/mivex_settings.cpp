// mivex-settings: shows and changes the program's stored settings from a terminal.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/settings_store.h"
#include "base/standard_output.h"
#include "output/sim_link.h"
#include "ui/hotkey_actions.h"
#include "ui/hotkey_ctrl.h"

namespace {

constexpr const char* kNotSet = "(not set)";

constexpr const char* kUsage =
    "Usage: mivex-settings [--list | --get SECTION/KEY | --set SECTION/KEY=VALUE | --help]\n"
    "Shows or changes the settings of Mivex, kept in $XDG_CONFIG_HOME/KordO/Mivex.ini.\n"
    "  --list                   every known key with its stored value, default and range (the default)\n"
    "  --get SECTION/KEY        the stored value, or the default when none is stored\n"
    "  --set SECTION/KEY=VALUE  store an integer value within the key's range, or a text that the\n"
    "                           program can use\n";

std::string RangeText(const SettingKey& key) {
    const SettingKey unranged{};
    if (key.minValue == unranged.minValue && key.maxValue == unranged.maxValue) return "-";
    if (key.maxValue == unranged.maxValue) return ">= " + std::to_string(key.minValue);
    return std::to_string(key.minValue) + ".." + std::to_string(key.maxValue);
}

bool InRange(const SettingKey& key, int value) { return value >= key.minValue && value <= key.maxValue; }

void PrintLine(const std::string& name, const std::string& stored, const std::string& defaultValue,
               const std::string& range) {
    std::printf("%-32s %-21s %-14s %s\n", name.c_str(), stored.c_str(), defaultValue.c_str(), range.c_str());
}

std::string NameOf(const char* section, const char* key) { return std::string(section) + "/" + key; }

// Which stored values the program does not use as they are.
struct Marks {
    bool clamped = false;   // outside the key's range
    bool unusable = false;  // no whole number, or a text the program refuses
    bool unusedHotkey = false;
};
constexpr const char* kMark = "*";
constexpr const char* kUnusedMark = "!";

// The table of keys holds copies: a key is known by its names.
bool SameKey(const SettingKey& a, const SettingKey& b) {
    return std::string_view(a.section) == b.section && std::string_view(a.key) == b.key;
}

// A stored hotkey word as the Hotkeys tab shows it ("131188 Shift+F5"), marked when the program
// does not use it: an action before it in the order of dispatch has the same combination, or it
// is a key that typing needs without Ctrl or Alt.
std::string HotkeyText(const CSettingsStore& store, const SettingKey& key, Marks& marks) {
    const auto word = static_cast<std::uint32_t>(store.Read(key));
    std::string text = std::to_string(word) + " " + CHotKeyCtrl::Text(word).toStdString();
    bool unused = CHotKeyCtrl::IsTypingKeyAlone(word);
    for (const HotkeyAction& before : kHotkeyActions) {
        if (SameKey(*before.key, key)) break;
        unused = unused || CHotKeyCtrl::SameCombination(static_cast<std::uint32_t>(store.Read(*before.key)), word);
    }
    if (unused) text += kUnusedMark;
    marks.unusedHotkey = marks.unusedHotkey || unused;
    return text;
}

bool IsHotkey(const SettingKey& key) {
    return std::ranges::any_of(kHotkeyActions, [&](const HotkeyAction& action) { return SameKey(*action.key, key); });
}

// The reason why the program would refuse text for key, empty when it takes it.
std::string TextRefusal(const TextSettingKey& key, std::string_view text) {
    std::string error;
    // As the Flight page reads it.
    const bool address = std::string_view(key.section) == Setting::kFlightTarget.section &&
                         std::string_view(key.key) == Setting::kFlightTarget.key;
    if (address && !ParseSimTarget(text, error)) return error;
    return "";
}

void PrintRow(const CSettingsStore& store, const SettingKey& key, Marks& marks) {
    std::string stored = kNotSet;
    if (store.Contains(key.section, key.key)) {
        // A stored text that is no whole number reads as whatever default the reader gives.
        const bool number =
            store.GetProfileInt(key.section, key.key, 0) == store.GetProfileInt(key.section, key.key, 1);
        const int value = store.Read(key);
        stored = number ? std::to_string(value) : store.GetProfileString(key.section, key.key, "");
        if (number && IsHotkey(key)) stored = HotkeyText(store, key, marks);
        if (!number || !InRange(key, value)) {
            stored += kMark;
            (number ? marks.clamped : marks.unusable) = true;
        }
    }
    PrintLine(NameOf(key.section, key.key), stored, std::to_string(key.defaultValue), RangeText(key));
}

void PrintTextRow(const CSettingsStore& store, const TextSettingKey& key, Marks& marks) {
    std::string stored = kNotSet;
    if (store.Contains(key.section, key.key)) {
        stored = store.ReadText(key);
        if (!TextRefusal(key, stored).empty()) {
            stored += kMark;
            marks.unusable = true;
        }
    }
    PrintLine(NameOf(key.section, key.key), stored, key.defaultValue, "text");
}

// A file that is there but cannot be read shows defaults: said on standard error.
bool Readable(const CSettingsStore& store) {
    const std::string error = store.ReadError();
    if (!error.empty()) std::fprintf(stderr, "mivex-settings: %s; defaults shown\n", error.c_str());
    return error.empty();
}

int List(const CSettingsStore& store) {
    const bool readable = Readable(store);
    std::printf("# %s\n", store.FilePath().c_str());
    PrintLine("key", "stored", "default", "range");
    Marks marks;
    for (const SettingKey& key : Setting::kNamedKeys) PrintRow(store, key, marks);
    for (const auto& axis : Setting::kProfilePoints)
        for (const SettingKey& key : axis) PrintRow(store, key, marks);
    for (const TextSettingKey& key : Setting::kTextKeys) PrintTextRow(store, key, marks);
    if (marks.clamped) std::printf("%s outside the range: the program reads it as a value within the range\n", kMark);
    if (marks.unusable) std::printf("%s not usable as stored: the program reads the default\n", kMark);
    if (marks.unusedHotkey)
        std::printf(
            "%s hotkey not in use: an action before it has the same combination, or it is a key for typing "
            "without Ctrl or Alt\n",
            kUnusedMark);
    return readable ? 0 : 1;
}

int Fail(const std::string& error, int code) {
    std::fprintf(stderr, "mivex-settings: %s\n", error.c_str());
    return code;
}

int Get(const CSettingsStore& store, std::string_view name) {
    if (const TextSettingKey* text = FindTextSettingKey(name)) {
        const bool readable = Readable(store);
        std::printf("%s\n", store.ReadText(*text).c_str());
        return readable ? 0 : 1;
    }
    std::string error;
    const SettingKey* key = FindSettingKey(name, error);
    if (!key) return Fail(error, 1);
    const bool readable = Readable(store);
    std::printf("%d\n", store.Read(*key));
    return readable ? 0 : 1;
}

int Set(CSettingsStore& store, std::string_view text) {
    const auto equals = text.find('=');
    if (const TextSettingKey* key =
            equals == std::string_view::npos ? nullptr : FindTextSettingKey(text.substr(0, equals))) {
        const std::string_view value = text.substr(equals + 1);
        if (const std::string refusal = TextRefusal(*key, value); !refusal.empty())
            return Fail(NameOf(key->section, key->key) + " cannot be '" + std::string(value) + "': " + refusal +
                            "; nothing stored",
                        2);
        if (!store.WriteText(*key, std::string(value))) return Fail("nothing stored: " + store.WriteError(), 1);
        return 0;
    }
    std::string error;
    const auto assignment = ParseSettingAssignment(text, error);
    if (!assignment) return Fail(error, 2);
    const SettingKey& key = *assignment->key;
    if (!InRange(key, assignment->value))
        return Fail(std::to_string(assignment->value) + " is outside the range of " + key.section + "/" + key.key +
                        " (" + RangeText(key) + "); nothing stored",
                    2);
    if (!store.Write(*assignment->key, assignment->value)) return Fail("nothing stored: " + store.WriteError(), 1);
    return 0;
}

int Run(int argc, char** argv) {
    CSettingsStore store;
    if (argc == 1) return List(store);
    const std::string_view option = argv[1];
    if (argc == 2 && (option == "--help" || option == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && option == "--list") return List(store);
    if (argc == 3 && option == "--get") return Get(store, argv[2]);
    if (argc == 3 && option == "--set") return Set(store, argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) { return FinishStandardOutput("mivex-settings", Run(argc, argv)); }
