#pragma once
// Whether the program is still starting its units (the static initialisers
// run), running, or already ending them. The entry point marks the start of
// its own work first thing; from then on an atexit handler, registered after
// every static initialiser, marks the start of the units' end. The crash
// reporter treats exceptions raised while the units start or end apart.
namespace kv {

void MarkProgramStarted() noexcept;
bool InUnitInitialization() noexcept;
bool InUnitFinalization() noexcept;

} // namespace kv
