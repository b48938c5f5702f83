// What the recorder program and the driver agree on: where a recorder run
// leaves its file, and the keys of the lines in it. One file per run, UTF-8,
// lines "key=value"; the file appears complete (written under a temporary
// name, then renamed).
#pragma once

namespace e2e {

// Environment variable naming the records folder; the fixed folder is used
// when it is absent (a browser handler may be started without it).
inline constexpr wchar_t kRecordsVariable[] = L"ORLIVAN_E2E_RECORDS";
inline constexpr wchar_t kDefaultRecordsFolder[] = L"C:\\e2e\\records";

inline constexpr char kKeyModule[] = "module";
inline constexpr char kKeyCurrentFolder[] = "cwd";
inline constexpr char kKeyCommandLine[] = "cmdline";
inline constexpr char kKeyArgument[] = "arg";

}  // namespace e2e
