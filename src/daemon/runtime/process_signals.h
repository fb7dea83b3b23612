#pragma once

namespace qd {

// Makes writing to a pipe or socket whose reader is gone an ordinary EPIPE error instead of
// a signal that ends the program. Process-wide and idempotent; every component that writes
// to pipes or sockets, and every child spawn, calls it first, so tests get it too.
void ignoreSigpipe();

}  // namespace qd
