// The application's settings for the library: Java system properties, read at every download or
// dump, so a changed setting counts from the next one.
#pragma once

namespace diveconnector::properties {

// "true": none of the library's lines on standard output.
inline constexpr char kQuiet[] = "diveconnector.quiet";
// The support log's file and level.
inline constexpr char kLog[] = "diveconnector.log";
inline constexpr char kLogLevel[] = "diveconnector.loglevel";

}  // namespace diveconnector::properties
