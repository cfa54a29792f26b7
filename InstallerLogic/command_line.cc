#include "InstallerLogic/command_line.h"

void AppendArgument(std::wstring* commandLine, const std::wstring& argument) {
  *commandLine += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    *commandLine += argument;
    return;
  }
  *commandLine += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    commandLine->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    *commandLine += c;
  }
  commandLine->append(backslashes * 2, L'\\');
  *commandLine += L'"';
}

std::wstring BuildSetupCommandLine(const std::wstring& setupPath,
                                   const std::vector<std::wstring>& arguments,
                                   const std::wstring& modulePath) {
  std::wstring line = L"\"" + setupPath + L"\"";
  for (const std::wstring& argument : arguments) AppendArgument(&line, argument);
  // Paths hold no quotes; the stub's own path is always the last argument.
  line += L" \"" + modulePath + L"\"";
  return line;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> out;
  const wchar_t* s = commandLine.c_str();
  // The program name: up to the next quote when quoted, else up to a blank;
  // no escapes.
  std::wstring name;
  if (*s == L'"') {
    for (++s; *s && *s != L'"'; ++s) name += *s;
    if (*s) ++s;
  } else {
    for (; *s && *s != L' ' && *s != L'\t'; ++s) name += *s;
  }
  out.push_back(name);
  while (*s == L' ' || *s == L'\t') ++s;

  std::wstring arg;
  bool inArg = false;
  size_t backslashes = 0;
  int quotes = 0;
  while (*s) {
    if ((*s == L' ' || *s == L'\t') && quotes == 0) {
      out.push_back(arg);
      arg.clear();
      inArg = false;
      backslashes = 0;
      while (*s == L' ' || *s == L'\t') ++s;
      continue;
    }
    inArg = true;
    if (*s == L'\\') {
      arg += *s++;
      ++backslashes;
    } else if (*s == L'"') {
      arg.resize(arg.size() - backslashes / 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        arg.back() = L'"';
      }
      ++s;
      backslashes = 0;
      // Runs of quotes: every third one is a literal quote.
      while (*s == L'"') {
        if (++quotes == 3) {
          arg += L'"';
          quotes = 0;
        }
        ++s;
      }
      if (quotes == 2) quotes = 0;
    } else {
      arg += *s++;
      backslashes = 0;
    }
  }
  if (inArg) out.push_back(arg);
  return out;
}
