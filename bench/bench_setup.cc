// The benchmark's setup program: counts the files in its current directory
// (the installer's workspace or temporary folder) and writes the count to
// %TEMP%\qx-bench-setup.txt, so the runner can tell that every installer
// really delivered the product before it started its setup program. Then it
// exits at once: the benchmark times the installers, not their setup.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  WIN32_FIND_DATAW found;
  unsigned count = 0;
  HANDLE find = FindFirstFileW(L"*", &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  wchar_t path[MAX_PATH + 32];
  const DWORD n = GetTempPathW(MAX_PATH, path);
  if (n == 0 || n > MAX_PATH) return 1;
  lstrcatW(path, L"qx-bench-setup.txt");
  char text[16];
  int length = 0;
  char digits[12];
  int d = 0;
  do {
    digits[d++] = static_cast<char>('0' + count % 10);
    count /= 10;
  } while (count);
  while (d) text[length++] = digits[--d];
  HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD put = 0;
  WriteFile(out, text, static_cast<DWORD>(length), &put, nullptr);
  CloseHandle(out);
  return 0;
}
