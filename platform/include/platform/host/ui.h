// Host: ui services of the platform layer (filled by the issue that builds them).
#pragma once

#include <platform/host/types.h>
