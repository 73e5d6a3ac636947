// Text from outside (a server's answer, an environment variable) made safe for a terminal and a
// log: every byte that is not printable ASCII is written as \xNN, \r, \n or \t, so that no escape
// sequence reaches a terminal and no line break starts a forged log line.
//
//   PrintableText("3.10\x1b[31m\r\n");   // "3.10\x1b[31m\r\n" as 16 plain characters
#pragma once

#include <string>
#include <string_view>

inline std::string PrintableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            printable += c;
            continue;
        }
        switch (c) {
            case '\r':
                printable += "\\r";
                break;
            case '\n':
                printable += "\\n";
                break;
            case '\t':
                printable += "\\t";
                break;
            default:
                constexpr char kDigits[] = "0123456789abcdef";
                printable += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xf]};
        }
    }
    return printable;
}
