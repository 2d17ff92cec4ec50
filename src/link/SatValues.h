#pragma once

#include <cstdint>
#include <optional>

// The per-satellite messages of the receiver's stream ("EL", "AZ", the C/N0 messages "EC" to "E5", "TC", "SS",
// "DC"): one value per satellite of the last "SI", in its order, then the checksum ("SS" has the solution type
// before it). The main view's lists and the satellites plot read them through these functions alone.
namespace satvalues {

// Bytes per satellite; 0 for a message that is not one of these.
int Width(uint16_t id);
// The number of satellites a body of `bodySize` bytes (checksum included) holds.
int Count(uint16_t id, int bodySize);
// Satellite `i`'s value: EL in degrees (signed), AZ in degrees (the wire's half degrees doubled), C/N0 in dB-Hz,
// TC in seconds (65535: at least that long), SS the status, DC in 1e-4 Hz. Nothing for the receiver's marks of
// an unknown value and for an `i` the body does not hold.
std::optional<int> Read(uint16_t id, const char* body, int bodySize, int i);
// An "SS" status of a satellite used in the solution.
bool IsUsed(int status);

}  // namespace satvalues
