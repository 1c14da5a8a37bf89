// The process's standard streams as the console sees them.
#pragma once

namespace plat {

enum class StandardStream { Input, Output, Error };

// Whether the stream is an interactive terminal (a console on Windows), so
// that a tool draws progress lines only where someone watches them.
bool IsTerminal(StandardStream stream);

}  // namespace plat
