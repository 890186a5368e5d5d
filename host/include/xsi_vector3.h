// MATH::CVector3: three doubles, with the arithmetic the SDK's geometry calls use.
#pragma once

namespace XSI::MATH {

class CVector3 {
public:
    CVector3() = default;
    CVector3(double in_x, double in_y, double in_z) : m_x(in_x), m_y(in_y), m_z(in_z) {}

    double GetX() const { return m_x; }
    double GetY() const { return m_y; }
    double GetZ() const { return m_z; }
    CVector3& Set(double in_x, double in_y, double in_z) {
        m_x = in_x;
        m_y = in_y;
        m_z = in_z;
        return *this;
    }

    // this = in_a - in_b
    CVector3& Sub(const CVector3& in_a, const CVector3& in_b) {
        return Set(in_a.m_x - in_b.m_x, in_a.m_y - in_b.m_y, in_a.m_z - in_b.m_z);
    }
    // this = in_a x in_b (safe when either argument is this vector)
    CVector3& Cross(const CVector3& in_a, const CVector3& in_b) {
        return Set(in_a.m_y * in_b.m_z - in_a.m_z * in_b.m_y, in_a.m_z * in_b.m_x - in_a.m_x * in_b.m_z,
                   in_a.m_x * in_b.m_y - in_a.m_y * in_b.m_x);
    }
    double Dot(const CVector3& in_v) const { return m_x * in_v.m_x + m_y * in_v.m_y + m_z * in_v.m_z; }
    double GetLengthSquared() const { return Dot(*this); }
    // Exact component-wise equality.
    bool Equals(const CVector3& in_v) const { return m_x == in_v.m_x && m_y == in_v.m_y && m_z == in_v.m_z; }

private:
    double m_x = 0.0;
    double m_y = 0.0;
    double m_z = 0.0;
};

}  // namespace XSI::MATH
