// The bridge's door to the operating system. One header, two implementations
// (win32.cpp and posix.cpp), chosen by the build; sensor-watch's needs sit
// beside it in headers of their own (console.h, watched_block.h,
// listening_socket.h), so that every OS call of both programs is in
// platform/. Start-up, binding and openBlock come through here; the refresh
// itself needs only the yield, so that tests drive it over a plain buffer and
// a table of their own. Names are 8-bit text; the Windows side widens them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// Loads a library by its bare file name: from the executable's own folder
// first, then through the system's search without the current directory
// (Windows: the system folders and PATH; elsewhere: the dynamic loader's
// search, which takes the current directory only when LD_LIBRARY_PATH names
// it). Null when it cannot be loaded.
void *loadLibrary(const char *fileName);

// Resolves one entry point of a loaded library by ordinal. Null when the
// library does not export it.
void *resolveOrdinal(void *library, int ordinal);

// Opens an existing named shared-memory block with full access and maps all
// of it. The span covers the mapping from its start up to its first page that
// cannot be written (on Windows, a page that is reserved but not committed);
// it is empty when the block does not exist or cannot be mapped. Nothing is
// ever unmapped or closed.
std::span<std::byte> openSharedBlock(const char *name);

void sleepMilliseconds(unsigned milliseconds);

// Gives the rest of the time slice to any other ready thread.
void yieldProcessor();

enum class Guard { held, alreadyHeld, unavailable };

// Takes the named machine-wide single-instance guard and holds it for the life
// of the process; the operating system releases it however the process ends.
Guard takeInstanceGuard(const char *name);

// The calling thread's last error, as the last failing call left it.
std::uint32_t lastError();

// Runs the command interpreter's "pause": waits for a key.
void pause();

}  // namespace platform
