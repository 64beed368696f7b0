#pragma once
// The whole text of one crash report: the header sections, the call stack of
// every reported thread, the modules and processes tables, the assembler
// listing and the CPU block; and the error page a web-server program answers
// its client with.
#include <string>
#include <string_view>

namespace kv::crashreport {

// Answers the pending web request with the dialog's error text and the
// message (keeps whether that worked in the report's state).
void OutputWebErrorPage(std::string_view message);

} // namespace kv::crashreport
