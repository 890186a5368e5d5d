// The host core through the SDK classes: names, meshes and their edge table, selections and late
// binding, parameters, the log.
#include <gtest/gtest.h>

#include <xsi_application.h>
#include <xsi_comapihandler.h>
#include <xsi_context.h>
#include <xsi_customproperty.h>
#include <xsi_geometry.h>
#include <xsi_ppglayout.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "fresh_host.h"
#include "test_support.h"

using namespace XSI;
using torvel::test::host;

namespace {

class Core : public ::testing::Test {
protected:
    // Two quads sharing the edge 1-2; the second lists it as 2-1.
    CRef two_quads(const wchar_t* name = L"quads") {
        return host().add_mesh(name, torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 2, 1, 0},
                                                           {0, 4, 8}, {0, 1, 2, 3, 1, 4, 5, 2}));
    }
    CRef polygon(const CRef& mesh, ULONG index) { return torvel::host::sub_ref(mesh, siPolygonFaceID, index); }

    CRef property_with_tolerance() {
        const CRef prop = host().add_empty_property(L"Settings", L"Settings", host().scene_root());
        CustomProperty cp(prop);
        Parameter p;
        EXPECT_EQ(cp.AddParameter(L"def", CValue::siDouble, siPersistable, L"Tolerance", L"Tolerance", CValue(45.0),
                                  CValue(0.0), CValue(90.0), CValue(0.0), CValue(90.0), p)
                      .GetCode(),
                  CStatus::OK);
        return prop;
    }
};

TEST_F(Core, NamesResolveFullAndRootRelativeAndNothingElse) {
    const CRef mesh = two_quads(L"cube");
    const CRef prop = property_with_tolerance();
    CRef r;
    EXPECT_EQ(r.Set(L"cube").GetCode(), CStatus::OK);
    EXPECT_EQ(r, mesh);
    r.Set(L"Scene_Root.Settings");
    EXPECT_EQ(r, prop);
    r.Set(L"Settings");
    EXPECT_EQ(r, prop);
    r.Set(L"Settings.def");
    EXPECT_EQ(r.GetClassID(), siParameterID);
    EXPECT_EQ(SIObject(prop).GetFullName(), L"Scene_Root.Settings");
    EXPECT_EQ(r.GetAsText(), L"Scene_Root.Settings.def");
    for (const wchar_t* bad : {L"", L"cub", L"Scene_Root.nothing", L"Settings.def.more", L".", L"Scene_Root..cube"}) {
        CRef e;
        EXPECT_NE(e.Set(bad).GetCode(), CStatus::OK) << bad;
        EXPECT_EQ(e.GetClassID(), siUnknownClassID) << bad;
        EXPECT_FALSE(e) << bad;
    }
}

TEST_F(Core, RootChildrenAndPropertiesShareOneNamespace) {
    const CRef first = two_quads(L"Settings");
    const CRef second = two_quads(L"Settings");
    EXPECT_EQ(SIObject(second).GetName(), L"Settings1");
    const CRef prop = property_with_tolerance();  // wants "Settings" too
    EXPECT_EQ(SIObject(prop).GetName(), L"Settings2");
    CRef r;
    r.Set(L"Settings");
    EXPECT_EQ(r, first);
    r.Set(L"Settings2.def");
    EXPECT_EQ(r.GetClassID(), siParameterID);
}

namespace {

torvel::PolygonMesh quad() { return torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 4}, {0, 1, 2, 3}); }

// A file's objects: one quad under each name.
struct Batch {
    std::vector<std::wstring> names;
    std::vector<torvel::PolygonMesh> meshes;
    void add(std::wstring name, torvel::PolygonMesh mesh = quad()) {
        names.push_back(std::move(name));
        meshes.push_back(std::move(mesh));
    }
    std::vector<CRef> into(torvel::host::Host& h) {
        std::vector<CRef> refs = h.add_meshes(std::move(names), std::move(meshes));
        names.clear();
        meshes.clear();
        return refs;
    }
};

std::vector<std::wstring> names_of(const std::vector<CRef>& refs) {
    std::vector<std::wstring> out;
    for (const CRef& r : refs) out.push_back(host().store().find(r.GetHandle())->name);
    return out;
}

}  // namespace

// A repeated name is numbered past every name the batch (a file) has and every name in the scene, so a
// numbered object is never mistaken for one the file named so itself.
TEST_F(Core, RepeatedNamesAreNumberedApartFromEveryOtherName) {
    Batch file;
    for (const wchar_t* n : {L"Cube", L"Cube", L"Cube1", L"Cube", L"", L"Cube11"}) file.add(n);
    const std::vector<CRef> first = file.into(host());
    EXPECT_EQ(names_of(first), (std::vector<std::wstring>{L"Cube", L"Cube2", L"Cube1", L"Cube3", L"mesh", L"Cube11"}));
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(host().resolve(names_of(first)[i]), first[i]);

    // A second file into the same scene: its own names are kept apart from the scene's and from each other.
    for (const wchar_t* n : {L"Cube", L"Cube4", L"Cube2"}) file.add(n);
    EXPECT_EQ(names_of(file.into(host())), (std::vector<std::wstring>{L"Cube5", L"Cube4", L"Cube21"}));
    EXPECT_EQ(SIObject(host().add_mesh(L"Cube", torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 2})))
                  .GetName(),
              L"Cube6");

    // Bad geometry anywhere in a batch adds none of it.
    file.add(L"good");
    file.add(L"bad", torvel::test::mesh_of({0, 0, 0}, {0, 3}, {0, 0, 1}));
    EXPECT_THROW(file.into(host()), torvel::host::HostError);
    EXPECT_FALSE(host().resolve(L"good"));
    EXPECT_EQ(host().root().children.size(), 10u);

    host().new_scene();
    EXPECT_EQ(SIObject(host().add_mesh(L"Cube", torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 2})))
                  .GetName(),
              L"Cube");
}

// Ten thousand objects of one name and ten thousand of distinct names that collide with the numbers
// the first ones got: every name distinct, every one resolving to its object (in linear time: the
// benchmark CheckObjects measures it).
TEST_F(Core, TensOfThousandsOfObjectsGetDistinctNamesThatResolve) {
    constexpr int n = 10000;
    Batch same, distinct;
    for (int i = 0; i < n; ++i) same.add(L"Part");
    for (int i = 0; i < n; ++i) distinct.add(L"Part" + std::to_wstring(2 * i));
    const std::vector<CRef> a = same.into(host());
    const std::vector<CRef> b = distinct.into(host());
    std::vector<std::wstring> names = names_of(a);
    const std::vector<std::wstring> more = names_of(b);
    EXPECT_EQ(names[0], L"Part");
    EXPECT_EQ(names[n - 1], L"Part9999");
    EXPECT_EQ(more[0], L"Part0");
    EXPECT_EQ(more[1], L"Part21000");  // "Part2" was the third "Part"; Part21 to Part2999 are taken too
    names.insert(names.end(), more.begin(), more.end());
    for (std::size_t i = 0; i < names.size(); i += 97)
        EXPECT_EQ(host().resolve(L"Scene_Root." + names[i]), i < a.size() ? a[i] : b[i - a.size()]) << names[i];
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

// Renaming (SIObject::PutName) keeps names unique and the index right; what the host removed behind
// the index's back reads as free.
TEST_F(Core, RenamedAndRemovedObjectsLeaveTheIndexRight) {
    const CRef a = two_quads(L"a");
    const CRef b = two_quads(L"b");
    const CRef prop = host().add_empty_property(L"Settings", L"Settings", a);
    EXPECT_EQ(SIObject(a).PutName(L"b").GetCode(), CStatus::OK);
    EXPECT_EQ(SIObject(a).GetName(), L"b1");
    EXPECT_FALSE(host().resolve(L"a"));
    EXPECT_EQ(host().resolve(L"b1"), a);
    EXPECT_EQ(host().resolve(L"b1.Settings"), prop);
    EXPECT_EQ(SIObject(prop).PutName(L"Options").GetCode(), CStatus::OK);
    EXPECT_EQ(host().resolve(L"b1.Options"), prop);
    EXPECT_FALSE(host().resolve(L"b1.Settings"));
    EXPECT_NE(SIObject(b).PutName(L"").GetCode(), CStatus::OK);
    EXPECT_EQ(host().resolve(L"b"), b);
    EXPECT_EQ(SIObject(host().scene_root()).PutName(L"World").GetCode(), CStatus::OK);
    EXPECT_EQ(host().resolve(L"World.b"), b);
    EXPECT_EQ(SIObject(host().scene_root()).PutName(L"Scene_Root").GetCode(), CStatus::OK);

    host().store().remove(b);
    EXPECT_FALSE(host().resolve(L"b"));
    EXPECT_EQ(SIObject(two_quads(L"b")).GetName(), L"b");
}

TEST_F(Core, NewSceneMakesOldReferencesStale) {
    const CRef mesh = two_quads();
    const CRef poly = polygon(mesh, 1);
    ASSERT_EQ(poly.GetClassID(), siPolygonFaceID);
    host().new_scene();
    EXPECT_EQ(mesh.GetClassID(), siUnknownClassID);
    EXPECT_EQ(poly.GetClassID(), siUnknownClassID);
    EXPECT_EQ(PolygonFace(poly).GetEdges().GetCount(), 0);
    EXPECT_EQ(Vertex(torvel::host::sub_ref(mesh, siVertexID, 0)).GetPosition().GetLengthSquared(), 0.0);
    // The same name can be taken again by the new scene's objects.
    EXPECT_EQ(SIObject(two_quads()).GetName(), L"quads");
}

TEST_F(Core, EdgesKeepTheOrderOfThePolygonThatCreatedThem) {
    const CRef mesh = two_quads();
    const CEdgeRefArray first = PolygonFace(polygon(mesh, 0)).GetEdges();
    const CEdgeRefArray second = PolygonFace(polygon(mesh, 1)).GetEdges();
    ASSERT_EQ(first.GetCount(), 4);
    ASSERT_EQ(second.GetCount(), 4);
    // Second quad 1,4,5,2: its last edge 2->1 is the first quad's edge 1->2.
    EXPECT_EQ(second[3], first[1]);
    const CVertexRefArray shared = Edge(second[3]).GetVertices();
    ASSERT_EQ(shared.GetCount(), 2);
    EXPECT_EQ(Vertex(shared[0]).GetIndex(), 1);
    EXPECT_EQ(Vertex(shared[1]).GetIndex(), 2);
    // Edges are listed around the polygon: edge i starts at vertex i.
    const CVertexRefArray corners = PolygonFace(polygon(mesh, 1)).GetVertices();
    ASSERT_EQ(corners.GetCount(), 4);
    for (LONG i = 0; i < 3; ++i) {
        const CVertexRefArray ends = Edge(second[i]).GetVertices();
        EXPECT_EQ(ends[0], corners[i]);
        EXPECT_EQ(ends[1], corners[i + 1]);
    }
    const MATH::CVector3 p = Vertex(corners[1]).GetPosition();
    EXPECT_EQ(p.GetX(), 2.0);
    EXPECT_EQ(p.GetY(), 0.0);
    // Out of range and wrong kinds give empty results, never a crash.
    EXPECT_FALSE(first[4]);
    EXPECT_FALSE(first[-1]);
    EXPECT_FALSE(PolygonFace(polygon(mesh, 2)).IsValid());
    EXPECT_EQ(PolygonFace(second[0]).GetEdges().GetCount(), 0);
    EXPECT_EQ(Facet(corners[0]).GetIndex(), -1);
}

TEST_F(Core, ComponentsOfSeveralMeshesStayApartAndDieWithTheirMesh) {
    const CRef a = two_quads(L"a");
    const CRef b = host().add_mesh(L"b", torvel::test::mesh_of({5, 0, 0, 6, 0, 0, 6, 1, 0}, {0, 3}, {0, 1, 2}));
    const CEdgeRefArray a_edges = PolygonFace(polygon(a, 1)).GetEdges();
    const CVertexRefArray b_corners = PolygonFace(polygon(b, 0)).GetVertices();
    // Reads alternate between the two meshes; each answers from its own arrays.
    EXPECT_EQ(Vertex(b_corners[1]).GetPosition().GetX(), 6.0);
    EXPECT_EQ(Vertex(Edge(a_edges[1]).GetVertices()[1]).GetPosition().GetX(), 2.0);
    EXPECT_EQ(Vertex(b_corners[2]).GetPosition().GetY(), 1.0);
    EXPECT_FALSE(Vertex(torvel::host::sub_ref(b, siVertexID, 3)).IsValid());  // b has 3, a has 6
    EXPECT_FALSE(Edge(torvel::host::sub_ref(a, siVertexID, 0)).IsValid());

    // Once a goes, its views and wrappers read empty, even after its slot is taken by a new object.
    const Vertex kept{Edge(a_edges[0]).GetVertices()[0]};
    ASSERT_TRUE(kept.IsValid());
    host().store().remove(a);
    EXPECT_FALSE(a_edges[0]);
    EXPECT_FALSE(kept.IsValid());
    EXPECT_EQ(kept.GetPosition().GetLengthSquared(), 0.0);
    const CRef reused = property_with_tolerance();
    EXPECT_EQ(reused.GetHandle().object, a.GetHandle().object);
    EXPECT_FALSE(a_edges[0]);
    EXPECT_FALSE(polygon(a, 0));
    EXPECT_FALSE(torvel::host::sub_ref(reused, siPolygonFaceID, 0));
    EXPECT_EQ(Vertex(b_corners[1]).GetPosition().GetX(), 6.0);

    // Handles nobody handed out: generation 0, a slot past the end of the store.
    CRef::Handle forged = b.GetHandle();
    forged.classID = siVertexID;
    forged.generation = 0;
    EXPECT_FALSE(CRef(forged));
    forged.generation = b.GetHandle().generation;
    forged.object = 1u << 30;
    EXPECT_FALSE(CRef(forged));
    EXPECT_EQ(Vertex(CRef(forged)).GetPosition().GetLengthSquared(), 0.0);
}

// New geometry is a new object in the old one's place: name, order, properties and whole-object
// selections carry over; everything that pointed into the old polygons goes stale.
TEST_F(Core, ReplacedMeshesTakeTheOldPlaceAndLeaveNoLiveReferenceToTheOldPolygons) {
    const CRef a = two_quads(L"a");
    const CRef b = two_quads(L"b");
    const CRef prop = host().add_empty_property(L"Settings", L"Settings", a);
    const CRef old_polygon = polygon(a, 1);
    host().selection() = {host().make_component_item(a, siPolygonFaceID, {}), b, a,
                          host().make_component_item(b, siVertexID, {})};
    EXPECT_THROW(host().replace_mesh(a, torvel::test::mesh_of({0, 0, 0}, {0, 3}, {0, 0, 1})), torvel::host::HostError);
    EXPECT_EQ(host().resolve(L"a"), a);  // refused geometry changes nothing

    // The arrays go into the scene as they are, and the old ones come back the same way.
    torvel::PolygonMesh triangle = torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 2});
    const double* given = triangle.positions.data();
    const double* held = host().store().find_as<torvel::host::MeshObject>(a)->mesh.positions.data();
    torvel::PolygonMesh replaced;
    const CRef fresh = host().replace_mesh(a, std::move(triangle), &replaced);
    EXPECT_EQ(host().store().find_as<torvel::host::MeshObject>(fresh)->mesh.positions.data(), given);
    EXPECT_EQ(replaced.positions.data(), held);
    EXPECT_EQ(replaced.offsets, (std::vector<std::uint32_t>{0, 4, 8}));
    EXPECT_EQ(replaced.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 4, 5, 2}));
    EXPECT_NE(fresh, a);
    EXPECT_FALSE(a);
    EXPECT_FALSE(old_polygon);
    EXPECT_EQ(host().resolve(L"a"), fresh);
    EXPECT_EQ(host().root().children, (std::vector<CRef>{fresh, b}));
    EXPECT_EQ(host().resolve(L"a.Settings"), prop);
    EXPECT_EQ(host().full_name(prop), L"Scene_Root.a.Settings");
    EXPECT_EQ(host().selection().size(), 3u);  // the item of a's polygons is dropped, the rest stay in order
    EXPECT_EQ(host().selection()[0], b);
    EXPECT_EQ(host().selection()[1], fresh);
    EXPECT_EQ(PolygonFace(polygon(fresh, 0)).GetVertices().GetCount(), 3);
    EXPECT_FALSE(polygon(fresh, 1));
    EXPECT_THROW(host().replace_mesh(a, torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 2})),
                 torvel::host::HostError);
}

// A mesh large enough that the edge table's scratch is a mapped block, twice (the second mesh reuses
// the first one's block, with its old contents): a grid of n x n quads has 2 n (n + 1) edges.
TEST_F(Core, LargeMeshesGetTheirWholeEdgeTable) {
    constexpr std::uint32_t n = 200;  // 160 000 corners
    std::vector<double> positions;
    for (std::uint32_t y = 0; y <= n; ++y)
        for (std::uint32_t x = 0; x <= n; ++x) positions.insert(positions.end(), {double(x), double(y), 0.0});
    std::vector<std::uint32_t> offsets{0}, indices;
    for (std::uint32_t y = 0; y < n; ++y)
        for (std::uint32_t x = 0; x < n; ++x) {
            const std::uint32_t v = y * (n + 1) + x;
            indices.insert(indices.end(), {v, v + 1, v + n + 2, v + n + 1});
            offsets.push_back(static_cast<std::uint32_t>(indices.size()));
        }
    for (const wchar_t* name : {L"first", L"second"}) {
        const CRef mesh = host().add_mesh(name, torvel::test::mesh_of(positions, offsets, indices));
        const auto* obj = host().store().find_as<torvel::host::MeshObject>(mesh);
        ASSERT_NE(obj, nullptr);
        EXPECT_EQ(obj->mesh.edge_count(), 2 * n * (n + 1)) << name;
        // The last quad's edges: its top edge is its own, its left edge its neighbour's right edge.
        const CEdgeRefArray last = PolygonFace(polygon(mesh, n * n - 1)).GetEdges();
        const CEdgeRefArray left = PolygonFace(polygon(mesh, n * n - 2)).GetEdges();
        EXPECT_EQ(last[3], left[1]) << name;
        EXPECT_NE(last[2], left[2]) << name;
    }
}

TEST_F(Core, BadGeometryIsRefusedWithItsName) {
    EXPECT_THROW(host().add_mesh(L"short", torvel::test::mesh_of({0, 0, 0, 1, 0, 0}, {0, 2}, {0, 1})),
                 torvel::host::HostError);
    EXPECT_THROW(host().add_mesh(L"range", torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 3})),
                 torvel::host::HostError);
    EXPECT_NE(torvel::test::thrown_message<torvel::host::HostError>([] {
                  host().add_mesh(L"offsets", torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 4}, {0, 1, 2}));
              }).find("offsets"),
              std::string::npos);
}

TEST_F(Core, RemovalIsImmediateAndCollectionsAreFreshSnapshots) {
    const CRef mesh = two_quads();
    const CRef item = host().make_component_item(mesh, siPolygonFaceID, {});
    CComAPIHandler sub(CComAPIHandler(CValue(item)).GetProperty(L"SubComponent"));
    ASSERT_TRUE(sub.IsValid());
    CComAPIHandler before(sub.GetProperty(L"ComponentCollection"));
    EXPECT_EQ(static_cast<LONG>(before.GetProperty(L"Count")), 2);

    CValue ret;
    CValueArray args(1);
    args[0] = CValue(LONG{0});
    EXPECT_EQ(sub.Invoke(L"RemoveElement", 0, ret, args).GetCode(), CStatus::OK);
    EXPECT_EQ(sub.Invoke(L"RemoveElement", 0, ret, args).GetCode(), CStatus::OK);  // already gone: no change
    args[0] = CValue(LONG{7});
    EXPECT_EQ(sub.Invoke(L"RemoveElement", 0, ret, args).GetCode(), CStatus::OK);  // never there

    CComAPIHandler after(sub.GetProperty(L"ComponentCollection"));
    EXPECT_EQ(static_cast<LONG>(after.GetProperty(L"Count")), 1);
    EXPECT_EQ(static_cast<LONG>(before.GetProperty(L"Count")), 2);  // the old snapshot is unchanged
    args[0] = CValue(LONG{0});
    ASSERT_EQ(after.Invoke(L"Item", 1, ret, args).GetCode(), CStatus::OK);
    const CRef remaining = ret;
    EXPECT_EQ(remaining.GetClassID(), siPolygonFaceID);
    EXPECT_EQ(PolygonFace(remaining).GetIndex(), 1);
    EXPECT_EQ(host().item_elements(item), std::vector<std::uint32_t>{1});
}

// A selection of every component in index order is held compactly until something breaks that
// order; membership, order and counts must not change across the switch.
TEST_F(Core, SelectionsKeepTheirOrderWhenTheyLeaveIndexOrder) {
    using torvel::host::SubComponent;
    auto members = [](const SubComponent& s) { return s.live_members(); };
    SubComponent all(CRef(), siPolygonFaceID);
    all.add_all(130);  // more than two words of the removed-bitmap
    EXPECT_TRUE(all.whole_in_order());
    EXPECT_TRUE(all.remove(64));
    EXPECT_FALSE(all.remove(64));
    EXPECT_FALSE(all.remove(130));
    EXPECT_FALSE(all.whole_in_order());
    EXPECT_EQ(all.count(), 129u);
    EXPECT_FALSE(all.contains(64));
    all.add(64, 130);  // back at the end of the selection order
    EXPECT_TRUE(all.contains(64));
    std::vector<std::uint32_t> expected;
    for (std::uint32_t e = 0; e < 130; ++e)
        if (e != 64) expected.push_back(e);
    expected.push_back(64);
    EXPECT_EQ(members(all), expected);
    EXPECT_TRUE(all.remove(0));
    EXPECT_EQ(members(all).front(), 1u);
    EXPECT_EQ(all.count(), 129u);

    SubComponent picked(CRef(), siVertexID);
    for (std::uint32_t e : {0u, 1u, 2u, 5u, 3u, 3u, 9u}) picked.add(e, 6);  // 9 is out of range, 3 twice
    EXPECT_EQ(members(picked), (std::vector<std::uint32_t>{0, 1, 2, 5, 3}));
    EXPECT_TRUE(picked.remove(2));
    picked.add_all(6);  // adds the missing ones after the others
    EXPECT_EQ(members(picked), (std::vector<std::uint32_t>{0, 1, 5, 3, 2, 4}));

    // A collection of a whole in-order selection answers like any other.
    const CRef mesh = two_quads();
    const CRef item = host().make_component_item(mesh, siPolygonFaceID, {});
    CComAPIHandler sub(CComAPIHandler(CValue(item)).GetProperty(L"SubComponent"));
    CComAPIHandler coll(sub.GetProperty(L"ComponentCollection"));
    CValueArray args(1);
    CValue ret;
    args[0] = CValue(LONG{1});
    ASSERT_EQ(coll.Invoke(L"Item", 1, ret, args).GetCode(), CStatus::OK);
    EXPECT_EQ(PolygonFace(ret).GetIndex(), 1);
    args[0] = CValue(LONG{2});
    EXPECT_EQ(coll.Invoke(L"Item", 1, ret, args).GetCode(), CStatus::OutOfRange);
}

TEST_F(Core, LateBoundFailuresGiveEmptyValuesAndFailingStatus) {
    const CRef mesh = two_quads();
    const CRef item = host().make_component_item(mesh, siVertexID, std::vector<std::uint32_t>{4, 0});
    CComAPIHandler handle{CValue(item)};
    CComAPIHandler sub(handle.GetProperty(L"SubComponent"));
    CComAPIHandler coll(sub.GetProperty(L"ComponentCollection"));
    CValue ret(LONG{42});
    CValueArray args(1);
    args[0] = CValue(LONG{1});
    ASSERT_EQ(coll.Invoke(L"Item", 1, ret, args).GetCode(), CStatus::OK);
    EXPECT_EQ(static_cast<CRef>(ret).GetClassID(), siVertexID);
    EXPECT_EQ(Vertex(static_cast<CRef>(ret)).GetIndex(), 0);  // selection order is kept

    EXPECT_TRUE(handle.GetProperty(L"NoSuchThing").IsEmpty());
    EXPECT_TRUE(handle.GetProperty(L"subcomponent").IsEmpty());  // names are exact
    args[0] = CValue(LONG{2});
    EXPECT_FALSE(coll.Invoke(L"Item", 1, ret, args).Succeeded());
    EXPECT_TRUE(ret.IsEmpty());
    args[0] = CValue(L"x");
    EXPECT_FALSE(sub.Invoke(L"RemoveElement", 0, ret, args).Succeeded());
    EXPECT_FALSE(sub.Invoke(L"RemoveElement", 0, ret, CValueArray()).Succeeded());
    args[0] = CValue(0.5);
    EXPECT_FALSE(sub.Invoke(L"RemoveElement", 0, ret, args).Succeeded());
    EXPECT_FALSE(sub.Invoke(L"Frobnicate", 1, ret, args).Succeeded());
    EXPECT_FALSE(sub.Invoke(L"RemoveElement", 99, ret, args).Succeeded());

    // An object selected whole has no subcomponent; everything downstream reads as 0.
    CComAPIHandler whole(CValue(host().make_object_item(mesh)));
    CComAPIHandler none(whole.GetProperty(L"SubComponent"));
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(static_cast<LONG>(CComAPIHandler(none.GetProperty(L"ComponentCollection")).GetProperty(L"Count")), 0);
    CComAPIHandler empty{CValue()};
    EXPECT_FALSE(empty.Invoke(L"Item", 1, ret, args).Succeeded());
    EXPECT_EQ(static_cast<LONG>(empty.GetProperty(L"Count")), 0);
}

TEST_F(Core, TransientCollectionsAreReleasedWithTheirScope) {
    const CRef item = host().make_component_item(two_quads(), siPolygonFaceID, {});
    const std::size_t before = host().store().live_objects();
    host().store().open_scope();
    CComAPIHandler sub(CComAPIHandler(CValue(item)).GetProperty(L"SubComponent"));
    const CValue coll = sub.GetProperty(L"ComponentCollection");
    EXPECT_EQ(host().store().live_objects(), before + 1);
    host().store().close_scope();
    EXPECT_EQ(host().store().live_objects(), before);
    EXPECT_EQ(static_cast<LONG>(CComAPIHandler(coll).GetProperty(L"Count")), 0);  // stale, not dangling
}

TEST_F(Core, ParametersRefuseValuesOutsideTheirRange) {
    const CRef prop = property_with_tolerance();
    CustomProperty cp(prop);
    Parameter def(CRef(cp.GetParameters()[0]));
    EXPECT_EQ(static_cast<double>(cp.GetParameterValue(L"def")), 45.0);
    EXPECT_EQ(def.PutValue(CValue(90.0)).GetCode(), CStatus::OK);
    EXPECT_EQ(def.PutValue(CValue(LONG{0}), DBL_MAX).GetCode(), CStatus::OK);
    for (const CValue& bad : {CValue(90.5), CValue(-1e-300), CValue(std::nan("")), CValue(L"abc"), CValue(prop)})
        EXPECT_FALSE(def.PutValue(bad).Succeeded()) << static_cast<CString>(bad).str().size();
    EXPECT_EQ(static_cast<double>(def.GetValue()), 0.0);
    EXPECT_EQ(def.PutValue(CValue(L" 12.5 ")).GetCode(), CStatus::OK);
    EXPECT_EQ(static_cast<double>(def.GetValue()), 12.5);

    Parameter again;
    EXPECT_FALSE(cp.AddParameter(L"def", CValue::siDouble, 0, L"", L"", CValue(1.0), again).Succeeded());
    EXPECT_FALSE(again.IsValid());
    Parameter info;
    ASSERT_EQ(cp.AddParameter(L"ShowInfo", CValue::siString, siPersistable, L"", L"", CValue(L""), info).GetCode(),
              CStatus::OK);
    EXPECT_TRUE(info.GetMin().IsEmpty());
    EXPECT_EQ(info.GetValueType(), CValue::siString);
    EXPECT_EQ(info.PutValue(CValue(L"text\r\n")).GetCode(), CStatus::OK);
    EXPECT_EQ(static_cast<CString>(info.GetValue()), L"text\r\n");
    EXPECT_EQ(cp.GetParameters().GetCount(), 2);
    // Wrappers of the wrong kind do nothing.
    EXPECT_FALSE(
        CustomProperty(def.GetRef()).AddParameter(L"x", CValue::siDouble, 0, L"", L"", CValue(1.0), again).Succeeded());
    EXPECT_FALSE(Parameter(prop).PutValue(CValue(1.0)).Succeeded());
}

TEST_F(Core, LayoutsAreBuiltInOrderAndClearedAfresh) {
    CustomProperty cp(property_with_tolerance());
    PPGLayout layout = cp.GetPPGLayout();
    ASSERT_TRUE(layout.IsValid());
    layout.AddGroup(L"Group", true, 0);
    PPGItem item = layout.AddItem(L"def");
    EXPECT_EQ(item.PutLabelPercentage(1).GetCode(), CStatus::OK);
    layout.AddItem(L"ShowInfo", L"", siControlStatic);
    layout.EndGroup();
    ASSERT_EQ(layout.GetCount(), 4);
    EXPECT_EQ(layout.GetItem(1).GetLabelPercentage(), 1);
    EXPECT_EQ(layout.GetItem(2).GetType(), L"Static");
    EXPECT_EQ(layout.GetItem(2).GetLabelPercentage(), 0);
    layout.Clear();
    EXPECT_EQ(layout.GetCount(), 0);
    EXPECT_FALSE(item.IsValid());
    EXPECT_FALSE(PPGLayout(cp.GetRef()).IsValid());
}

TEST_F(Core, ValuesConvertAndEmptyMeansZero) {
    const CValue empty;
    EXPECT_EQ(static_cast<double>(empty), 0.0);
    EXPECT_EQ(static_cast<LONG>(empty), 0);
    EXPECT_FALSE(static_cast<bool>(empty));
    EXPECT_FALSE(static_cast<CRef>(empty));
    EXPECT_EQ(empty.GetAsText(), L"");
    EXPECT_EQ(CValue(LONG{3}).GetAsText(), L"3");
    EXPECT_EQ(CValue(45.0).GetAsText(), L"45");
    EXPECT_EQ(CValue(0.1).GetAsText(), L"0.1");
    EXPECT_EQ(static_cast<LONG>(CValue(1e300)), 0);
    EXPECT_EQ(static_cast<LONG>(CValue(-2.9)), -2);
    EXPECT_EQ(static_cast<double>(CValue(L"2.5")), 2.5);
    EXPECT_EQ(static_cast<double>(CValue(L"2.5x")), 0.0);
    EXPECT_EQ(CString(L"a") + L"b" + CString(L"c"), L"abc");
    CRefArray refs(1);
    EXPECT_FALSE(refs[5]);
    EXPECT_EQ(refs.GetAsText(), L"");
}

// Small arrays live on the heap, large ones (from 64K items) in mapped memory that grows in place:
// items must survive every growth, copy and move on both sides of that line.
TEST_F(Core, RefArraysKeepTheirItemsAcrossGrowthCopiesAndMoves) {
    const CRef mesh = two_quads();
    auto item = [&](ULONG i) { return torvel::host::sub_ref(mesh, siVertexID, i); };
    auto holds_sequence = [&](const CRefArray& a, LONG n) {
        if (a.GetCount() != n) return false;
        for (LONG i = 0; i < n; ++i)
            if (a[i] != item(static_cast<ULONG>(i))) return false;
        return true;
    };
    constexpr LONG kLarge = 200000;
    CRefArray grown;
    for (LONG i = 0; i < kLarge; ++i) grown.Add(item(static_cast<ULONG>(i)));
    EXPECT_TRUE(holds_sequence(grown, kLarge));

    CRefArray small(3);
    EXPECT_EQ(small.GetCount(), 3);
    EXPECT_FALSE(small[2]);
    small = grown;  // heap to mapped
    EXPECT_TRUE(holds_sequence(small, kLarge));
    const CRefArray copy(grown);
    EXPECT_TRUE(holds_sequence(copy, kLarge));
    CRefArray moved(std::move(grown));
    EXPECT_TRUE(holds_sequence(moved, kLarge));
    EXPECT_EQ(grown.GetCount(), 0);  // NOLINT(bugprone-use-after-move): a moved-from array is empty
    moved = moved;
    EXPECT_TRUE(holds_sequence(moved, kLarge));

    // Adding an item of the array itself while the array grows; a freed large block is used again.
    CRefArray self;
    self.Add(item(0));
    for (int i = 0; i < 20; ++i) self.Add(self[0]);
    EXPECT_EQ(self.GetCount(), 21);
    EXPECT_EQ(self[20], item(0));
    moved = CRefArray();
    CRefArray again;
    again.Reserve(kLarge);
    for (LONG i = 0; i < kLarge; ++i) again.Add(item(static_cast<ULONG>(i)));
    EXPECT_TRUE(holds_sequence(again, kLarge));
    again.Clear();
    EXPECT_EQ(again.GetCount(), 0);
    EXPECT_FALSE(again[0]);
}

// Short texts live in the string, long ones on the heap: copies, moves, appends and comparisons must
// behave the same on both sides of that line (23 characters).
TEST_F(Core, StringsKeepTheirTextAcrossTheInlineLimit) {
    const std::wstring long_text(40, L'x');
    const CString shorts(L"RemoveElement");
    const CString longs(long_text.c_str());
    EXPECT_EQ(shorts.Length(), 13u);
    EXPECT_EQ(longs.Length(), 40u);
    EXPECT_EQ(longs.view(), long_text);

    CString grown(L"ab");
    for (int i = 0; i < 30; ++i) grown += L"c";  // crosses onto the heap on the way
    EXPECT_EQ(grown.view(), L"ab" + std::wstring(30, L'c'));
    grown += grown;  // appending itself, on the heap
    EXPECT_EQ(grown.Length(), 64u);
    EXPECT_EQ(std::wstring(grown.GetWideString()), grown.str());

    CString moved(std::move(grown));
    EXPECT_EQ(moved.Length(), 64u);
    EXPECT_TRUE(grown.IsEmpty());  // NOLINT(bugprone-use-after-move): a moved-from string is empty
    EXPECT_EQ(grown.GetWideString(), std::wstring());
    CString small_moved(CString(L"Item"));
    EXPECT_EQ(small_moved, L"Item");

    CString assigned = shorts;
    assigned = longs;  // inline to heap
    EXPECT_EQ(assigned, longs);
    assigned = shorts;  // heap keeps its block
    EXPECT_EQ(assigned, L"RemoveElement");
    assigned = assigned;
    EXPECT_EQ(assigned, shorts);
    assigned.Clear();
    EXPECT_TRUE(assigned.IsEmpty());
    EXPECT_EQ(assigned, L"");
    EXPECT_EQ(CString(nullptr), L"");
    EXPECT_EQ(CString(static_cast<const wchar_t*>(nullptr)), L"");

    // Text in an array ends at its terminator, or at the end of an array that has none.
    const wchar_t buffer[8] = {L'a', L'b', L'\0', L'z', L'z', L'z', L'z', L'z'};
    EXPECT_EQ(CString(buffer), L"ab");
    const wchar_t unterminated[3] = {L'x', L'y', L'z'};
    EXPECT_EQ(CString(unterminated), L"xyz");
    EXPECT_EQ(CString(L"a literal longer than the text kept in place").Length(), 44u);

    EXPECT_TRUE(CString(L"Item") < CString(L"Items"));
    EXPECT_NE(shorts, longs);
    EXPECT_EQ(shorts + longs, CString((L"RemoveElement" + long_text).c_str()));

    // A string in a value survives copies and moves of the value.
    CValue v(longs);
    CValue copy = v;
    CValue moved_value(std::move(copy));
    EXPECT_EQ(static_cast<CString>(moved_value), longs);
    v = CValue(LONG{7});
    EXPECT_EQ(static_cast<LONG>(v), 7);
}

TEST_F(Core, LogKeepsOrderAndSeverityAndFeedsTheObserver) {
    host().log().clear();
    std::vector<std::wstring> seen;
    host().log().set_observer([&](const torvel::host::LogEntry& e) { seen.push_back(e.text); });
    Application app;
    app.LogMessage(L"first", siInfoMsg);
    app.LogMessage(L"second", siWarningMsg);
    host().log().set_observer(nullptr);
    ASSERT_EQ(host().log().entries().size(), 2u);
    EXPECT_EQ(host().log().entries()[1].severity, siWarningMsg);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"first", L"second"}));
    const int redraws = host().redraw_count();
    EXPECT_EQ(app.GetDesktop().RedrawUI().GetCode(), CStatus::OK);
    EXPECT_EQ(host().redraw_count(), redraws + 1);
}

}  // namespace
