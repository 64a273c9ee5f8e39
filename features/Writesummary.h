#pragma once
// What a write run's end means for the engineer, by setting rather than by register.
#include "features/Outcome.h"

class TRegisterDataStore;
class TSettings;

// After a write run of `store`: the run's end with what to say by setting. Where verification
// found the unit holding other values, the settings take them (the image already has), so the
// window shows them.
TRunEnd DescribeWrite(TSettings& tree, const TRegisterDataStore& store, bool verify = true);
