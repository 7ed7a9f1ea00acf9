// Splits a Windows command line into arguments and a table of switches:
// /name:value, -name:value, --name=value, response files named with "@",
// and quoting with doubled quotes inside quotes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Bas {

class CCommandLine {
public:
    // Response files nested deeper than this stay plain arguments, so a file
    // that names itself cannot recurse forever.
    static constexpr int kMaxResponseDepth = 8;
    // What response files may add in all, however they nest and repeat: a
    // file that names itself ten times would otherwise multiply into
    // millions of reads before the depth stops it.
    static constexpr std::size_t kMaxArguments = 32768;
    static constexpr std::uint64_t kMaxResponseBytes = 0x100000;

    // Whether an "@name" argument stands for the arguments in the file
    // "name". A command line that is not a program's own (such as a
    // server's command line read from the registry) is split as plain text:
    // its "@" is part of an argument, never a file or device to read.
    enum EResponseFiles { ReadResponseFiles, NoResponseFiles };

    // False when response files, or the arguments themselves, would take
    // the command line past those bounds; the arguments are then empty and
    // OverflowArgument names the response file that went past them (empty
    // for a plain command line).
    [[nodiscard]] bool Parse(const std::wstring& text, EResponseFiles responseFiles = ReadResponseFiles);
    const std::wstring& OverflowArgument() const noexcept { return m_overflow; }

    std::size_t ArgumentCount() const noexcept { return m_arguments.size(); }
    const std::wstring& Argument(std::size_t index) const;

    // Whether a single argument spells the switch `name` (case-insensitive);
    // the value is empty when there is no separator.
    static bool IsSwitch(std::wstring_view argument, std::wstring_view name, std::wstring* value = nullptr);
    // Splits a switch into name and value; false for a plain argument.
    static bool SplitSwitch(std::wstring_view argument, std::wstring& name, std::wstring& value);

    // One entry per argument, in command-line order: switches by name,
    // plain arguments under the empty name.
    const std::vector<std::pair<std::wstring, std::wstring>>& Switches() const noexcept { return m_switches; }
    // The index of the first entry with the name, or -1.
    int Find(std::wstring_view name) const;
    // The values of every entry with the name, in command-line order.
    std::vector<std::wstring> Values(std::wstring_view name) const;

private:
    // False past the bounds.
    bool split(const std::wstring& text, int depth);

    std::vector<std::wstring> m_arguments;
    EResponseFiles m_responseFiles = ReadResponseFiles;
    std::uint64_t m_responseBytes = 0;
    std::wstring m_overflow;
    std::vector<std::pair<std::wstring, std::wstring>> m_switches;
};

// Case-insensitive equality by the C library's case mapping of each unit.
bool EqualNoCase(std::wstring_view a, std::wstring_view b);

} // namespace Bas
