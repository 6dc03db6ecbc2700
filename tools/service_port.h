// The request port as the operator tools reach the service.
#pragma once

#include <cstdint>

// The port the service listens on: KVS_PORT read as the service reads it, so
// a value the service refuses sends the tools to the same fallback. A refused
// value is named on standard error in the service's own words.
uint16_t servicePortOfTools();
