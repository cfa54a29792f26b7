#!/usr/bin/env python3
"""Checks that Stub.exe stays startable on Windows XP: PE32 GUI i386,
subsystem 5.01, imports only from system DLLs that XP has and none of the
Vista-era functions, and few enough sections for the bundle section to follow."""
import re
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
                "shell32.dll", "advapi32.dll", "msvcrt.dll"}
# Functions that Windows XP SP3 lacks and that toolchains like to pull in.
FORBIDDEN = re.compile(
    r"^(GetTickCount64|InitializeConditionVariable|SleepConditionVariable\w*|WakeConditionVariable|"
    r"WakeAllConditionVariable|\w*SRWLock\w*|InitOnce\w*|FlsAlloc|FlsGetValue|FlsSetValue|FlsFree|"
    r"GetFileInformationByHandleEx|SetFileInformationByHandle|CreateSymbolicLink\w*|"
    r"GetFinalPathNameByHandle\w*|SetDefaultDllDirectories|AddDllDirectory|CompareStringEx|"
    r"LCMapStringEx|GetLocaleInfoEx|CreateEventExW|CreateMutexExW|CreateSemaphoreExW|"
    r"InitializeCriticalSectionEx|GetSystemTimePreciseAsFileTime|GetCurrentProcessorNumber|"
    r"QueryFullProcessImageName\w*|RegGetValue\w*|RegDeleteKeyEx\w*)$")


def main(path, objdump):
    failures = []
    kind = subprocess.run(["file", "-b", path], capture_output=True, text=True).stdout
    if "PE32 executable" not in kind or "(GUI)" not in kind or "Intel 80386" not in kind \
            or "PE32+" in kind:
        failures.append("not a PE32 GUI i386 executable: " + kind.strip())

    dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    major = re.search(r"MajorSubsystemVersion\s+(\d+)", dump)
    minor = re.search(r"MinorSubsystemVersion\s+(\d+)", dump)
    if not (major and minor and (major.group(1), minor.group(1)) == ("5", "1")):
        failures.append("subsystem version is not 5.01")
    os_major = re.search(r"MajorOSystemVersion\s+(\d+)", dump)
    if os_major and int(os_major.group(1)) > 5:
        failures.append("OS version above 5")

    dll = None
    imports = {}
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            imports[dll] = []
            continue
        m = re.match(r"\s*[0-9a-f]+\s+(?:<none>\s+)?([0-9a-f]+\s+)?([A-Za-z_]\w*)\s*$", line)
        if dll and m:
            imports[dll].append(m.group(2))
    if not imports:
        failures.append("no import table found")
    for name, funcs in imports.items():
        if name not in ALLOWED_DLLS:
            failures.append("imports from " + name)
        for f in funcs:
            if FORBIDDEN.match(f):
                failures.append("imports %s!%s, which Windows XP lacks" % (name, f))

    sections = subprocess.run([objdump, "-h", path], capture_output=True, text=True, check=True).stdout
    count = len([l for l in sections.splitlines() if re.match(r"^\s+\d+\s+\S", l)])
    if count > 10:
        failures.append("%d sections (at most 10 allowed)" % count)

    for f in failures:
        print("FAIL:", f)
    print("%s: %d DLLs, %d imported functions, %d sections: %s" % (
        path, len(imports), sum(len(v) for v in imports.values()), count,
        "ok" if not failures else "FAILED"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"))
