// Every export makes the library's own framework context current on entry
// and gives the caller's back on every way out. On Windows that is the
// per-module state switch of an extension library; the POSIX framework keeps
// no per-module state, so here the guard switches nothing. It stays at each
// entry point so that the two builds share one shape.
#pragma once

class ModuleContextGuard {
 public:
  ModuleContextGuard() = default;
  ~ModuleContextGuard() {}  // the Windows build restores the caller's state here
  ModuleContextGuard(const ModuleContextGuard&) = delete;
  ModuleContextGuard& operator=(const ModuleContextGuard&) = delete;
};
