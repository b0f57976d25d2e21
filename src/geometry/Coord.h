#pragma once

#include <cmath>
#include <ostream>

namespace geometry {

// Plain value triple; vertices are stored in T, ray arithmetic is done in double.
template <typename T>
struct TCoord {
    T x = 0;
    T y = 0;
    T z = 0;

    TCoord() = default;
    TCoord(T ax, T ay, T az) : x(ax), y(ay), z(az) {}
    template <typename U>
    explicit TCoord(const TCoord<U>& other)
        : x(static_cast<T>(other.x)), y(static_cast<T>(other.y)), z(static_cast<T>(other.z)) {}

    TCoord& operator+=(const TCoord& o) { x += o.x; y += o.y; z += o.z; return *this; }
    TCoord& operator-=(const TCoord& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    TCoord& operator*=(T f) { x *= f; y *= f; z *= f; return *this; }
};

template <typename T>
inline bool operator==(const TCoord<T>& a, const TCoord<T>& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
template <typename T>
inline bool operator!=(const TCoord<T>& a, const TCoord<T>& b) { return !(a == b); }

template <typename T>
inline TCoord<T> operator+(TCoord<T> a, const TCoord<T>& b) { return a += b; }
template <typename T>
inline TCoord<T> operator-(TCoord<T> a, const TCoord<T>& b) { return a -= b; }
template <typename T>
inline TCoord<T> operator-(const TCoord<T>& a) { return TCoord<T>(-a.x, -a.y, -a.z); }
template <typename T>
inline TCoord<T> operator*(TCoord<T> a, T f) { return a *= f; }
template <typename T>
inline TCoord<T> operator*(T f, TCoord<T> a) { return a *= f; }

template <typename T>
inline T Dot(const TCoord<T>& a, const TCoord<T>& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

template <typename T>
inline TCoord<T> Cross(const TCoord<T>& a, const TCoord<T>& b) {
    return TCoord<T>(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

template <typename T>
inline T Norm(const TCoord<T>& a) { return std::sqrt(Dot(a, a)); }

inline TCoord<double> ToDouble(const TCoord<float>& c) { return TCoord<double>(c); }
inline const TCoord<double>& ToDouble(const TCoord<double>& c) { return c; }

// "( +1.5, -2, +0 )": the sign flag is switched on for the three numbers only.
template <typename T>
std::ostream& operator<<(std::ostream& os, const TCoord<T>& c) {
    os << "( ";
    const auto flags = os.flags();
    os << std::showpos << static_cast<double>(c.x) << ", " << static_cast<double>(c.y) << ", "
       << static_cast<double>(c.z);
    os.flags(flags);
    return os << " )";
}

} // namespace geometry
