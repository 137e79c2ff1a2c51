#pragma once

namespace tessel {

// A position in world units, as plain data (the scene turns it into the engine's vector).
struct Vec3 {
    float X = 0;
    float Y = 0;
    float Z = 0;
    bool operator==(const Vec3& o) const { return X == o.X && Y == o.Y && Z == o.Z; }
    bool operator!=(const Vec3& o) const { return !(*this == o); }
};

}  // namespace tessel
