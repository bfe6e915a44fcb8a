// Shared by the dry-run world's system files only.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace dryrun::internal {

// The registry stands in for "installdirectory" when an install folder was given or assumed.
bool UsesStandInRegistry();
platform::RegistryKey StandInKey();
// As RegQueryValueExA answers for the stand-in value: 0, or kErrorMoreData when it does not fit.
long QueryStandIn(unsigned char* data, uint32_t* size);

// Records a dot-named entry of a listing opened with pattern, which the walk will pass over.
void NoteListed(const char* pattern, const platform::ListingEntry& entry);

}  // namespace dryrun::internal
