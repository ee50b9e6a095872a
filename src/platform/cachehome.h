#pragma once
// Font caches for an account with no home to keep them in (a container's arbitrary uid,
// a cron job with an empty environment): fontconfig then has no folder it may write and
// says so on standard error, which the person running the program cannot act on.

namespace kx {

// When neither XDG_CACHE_HOME nor HOME names a folder this account may write, points
// XDG_CACHE_HOME at a private folder of this run, removed when the program ends. Call
// before anything uses fontconfig or starts a thread.
void EnsureCacheHome();

}  // namespace kx
