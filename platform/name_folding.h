// How a destination that ignores case and the Unicode form of names sees a
// name: Windows, OneDrive and SharePoint take "Report.docx" and "REPORT.DOCX",
// or "é" composed and "e" with a combining accent, for one name.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

// The key under which such a destination compares `name` (UTF-8): two names
// are one name there exactly when their keys are equal. Names are taken in
// their composed form (NFC) and each character in its simple upper case, as
// NTFS compares names; bytes that are no valid UTF-8 count as they are.
// Safe to call from any thread.
std::string name_comparison_key(std::string_view name);

}  // namespace kestrafin::platform
