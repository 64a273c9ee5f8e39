#pragma once
// A device type's factory defaults as a simulated unit's image, so that a newcomer's first read
// of a fresh simulator shows the values a real unit leaves the factory with.
#include <string>

class TDevice;
class TSimUnit;

// Writes every coil and holding register of `device` with its settings' defaults into `unit`.
// Returns false with `error` set when a default cannot be formed.
bool LoadFactoryDefaults(TSimUnit& unit, TDevice& device, std::string* error);
