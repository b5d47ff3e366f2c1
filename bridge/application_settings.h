// The application's settings for the library: Java system properties, read at every download or
// dump, so a changed setting counts from the next one.
#pragma once

namespace diveconnector::properties {

// The state directory: the fingerprint cache and a transport's own files. Unset, no state.
inline constexpr char kStateDirectory[] = "diveconnector.fingerprints";
// "true": a download ignores the stored fingerprint while still storing the new one.
inline constexpr char kRefreshFingerprints[] = "diveconnector.fingerprints.refresh";
// "true": none of the library's lines on standard output.
inline constexpr char kQuiet[] = "diveconnector.quiet";
// The support log's file and level.
inline constexpr char kLog[] = "diveconnector.log";
inline constexpr char kLogLevel[] = "diveconnector.loglevel";

}  // namespace diveconnector::properties
