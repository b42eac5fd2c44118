// Transitional: the profile is common/profile.h, the groups of the last run last_groups.h.
#pragma once
#include "common/profile.h"
#include "tolbex/archive/last_groups.h"
