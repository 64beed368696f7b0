#pragma once
// The crash dialogs' list view and font helpers.
namespace kv::crashreport {

// The GDI character set of the user's default ANSI code page.
int GetDefaultAnsiCharset();

} // namespace kv::crashreport
