// The libdivecomputer function dcsim counts (and faults) when a descriptor walk starts: 0.9 added
// dc_descriptor_iterator_new and kept the old name as a macro over it.
#pragma once

#include <libdivecomputer/version.h>

#if DC_VERSION_CHECK(0, 9, 0)
inline constexpr char kDescriptorIteratorFunction[] = "dc_descriptor_iterator_new";
#else
inline constexpr char kDescriptorIteratorFunction[] = "dc_descriptor_iterator";
#endif
