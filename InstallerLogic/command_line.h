// The setup program's command line: the quoted setup path, the stub's own
// arguments, and the stub's quoted path last. Arguments are quoted so that the
// setup program's CommandLineToArgvW returns each exactly as the stub got it.
#pragma once

#include <string>
#include <vector>

// Appends a space and `argument`. An argument that is empty or holds a space,
// tab or double quote is quoted, its quotes escaped and the backslashes before
// them (and before the closing quote) doubled; any other goes in unchanged.
void AppendArgument(std::wstring* commandLine, const std::wstring& argument);

std::wstring BuildSetupCommandLine(const std::wstring& setupPath,
                                   const std::vector<std::wstring>& arguments,
                                   const std::wstring& modulePath);

// The platform's splitting rules (CommandLineToArgvW) for a whole command
// line, program name first. The reference the builder is tested against.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);
