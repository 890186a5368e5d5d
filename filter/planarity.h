// The filter's planarity test. Internal to the plug-in (not exported); neither function logs or keeps
// state between calls.
#pragma once

#include <xsi_geometry.h>
#include <xsi_ref.h>
#include <xsi_vector3.h>

// True when `in_poly` is non-planar under the tolerance cosine `in_def`: two neighbouring corner
// normals (cross products of consecutive edge vectors) meet, taken as lines, at the tolerance angle
// or more, or one of them is zero. Polygons of three vertices or fewer, polygons without edges and a
// NaN `in_def` give false. Only in_def squared is used, so its sign does not matter.
bool Vn_TorvelFilter_check_nontorvel(XSI::PolygonFace in_poly, double in_def);

// Writes the edge vector of `in_edge` (its vertex 1 minus its vertex 0, in the edge's own order) into
// `out_vec` and returns true; returns false and leaves `out_vec` as it was when both ends coincide.
bool Vn_TorvelFilter_set_vec(const XSI::CRef& in_edge, XSI::MATH::CVector3& out_vec);
