#pragma once
// Items that move by themselves, as a measured value does: a slow sine or a ramp around
// the value the item holds when the instrument starts.
#include <QString>
#include <cstdint>

namespace pmx::sim {

struct LiveMotion {
    enum class Shape { Sine, Ramp };
    int item = 0;
    Shape shape = Shape::Sine;
    double periodSeconds = 10; // one whole wave or one ramp from bottom to top
    int amplitude = 100;       // the value moves from centre - amplitude to centre + amplitude
};

// "0001:sine:20:500", "0003:ramp:60:1000": item (hexadecimal 0000..007F), shape, period
// in seconds (0.1 to 86400), amplitude (1 to 32767).
bool parseLiveMotion(const QString& text, LiveMotion* motion, QString* error);

// The item's value `seconds` after the start, around `centre`, limited to 16 bits.
std::int16_t liveValue(const LiveMotion& motion, std::int16_t centre, double seconds);

} // namespace pmx::sim
