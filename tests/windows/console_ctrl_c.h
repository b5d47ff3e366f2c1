#pragma once

// Sends a Ctrl-C to the console of the calling program, as a key press in its window would; the
// console runs the control handlers (the C runtime's raises SIGINT) on a thread of their own.
// False when the program has no console, as when its standard input is no terminal under wine.
[[nodiscard]] bool sendConsoleCtrlC() noexcept;
