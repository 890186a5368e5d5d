// Plug-in loader: ELF export listing, opening and registration, callback lookup, the lifecycle calls
// and the per-call contexts, against the small test modules of tests/modules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <elf.h>
#include <random>

#include <xsi_context.h>
#include <xsi_siobject.h>

#include "fresh_host.h"
#include "elf_exports.h"
#include "plugin_registry.h"
#include "test_support.h"
#include "text.h"

using namespace torvel::host;
using torvel::test::host;
namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> read_bytes(const fs::path& p) {
    const std::string bytes = torvel::test::read_file(p);
    return {bytes.begin(), bytes.end()};
}

template <class F>
std::string host_error(F f) {
    return torvel::test::thrown_message<HostError>(f);
}

bool has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class Loader : public ::testing::Test {
protected:
    PluginRegistry& plugins() { return host().plugins(); }
    // The texts of the log lines that start with `prefix`, in order.
    std::vector<std::wstring> lines(std::wstring_view prefix = L"") {
        std::vector<std::wstring> out;
        for (const LogEntry& e : host().log().entries())
            if (e.text.starts_with(prefix)) out.push_back(e.text);
        return out;
    }
    bool logged(XSI::siSeverityType severity, std::wstring_view part) {
        return std::any_of(host().log().entries().begin(), host().log().entries().end(), [&](const LogEntry& e) {
            return e.severity == severity && e.text.find(part) != std::wstring::npos;
        });
    }
};

}  // namespace

TEST(ExportedFunctions, ListsTheModulesOwnDefinedVisibleFunctions) {
    const auto names = exported_functions(TM_FILTER);
    for (const char* n : {"XSILoadPlugin", "XSIUnloadPlugin", "TM_Filter_Init", "Tm_Filter_Subset",
                          "Tm_Filter_IsApplicable", "Tm_Prop_Define", "tm_prop_PPGEvent"})
        EXPECT_TRUE(has(names, n)) << n;
    EXPECT_FALSE(has(names, "Tm_Filter_Applicable"));  // hidden
    for (const std::string& n : names) EXPECT_EQ(n.find("LogMessage"), std::string::npos) << "import listed: " << n;
}

TEST(ExportedFunctions, RejectsFilesThatAreNotSharedObjects) {
    EXPECT_NE(host_error([] { exported_functions("/nonexistent/tm.so"); }).find("/nonexistent/tm.so: no such file"),
              std::string::npos);
    EXPECT_NE(host_error([] { exported_functions(TM_NOT_A_LIBRARY); }).find("not an ELF file"), std::string::npos);
    EXPECT_NE(host_error([] { exported_functions("/"); }).find("not a regular file"), std::string::npos);
}

TEST(ExportedFunctions, HostileImagesGiveErrorsNotCrashes) {
    const std::vector<unsigned char> good = read_bytes(TM_FILTER);
    ASSERT_GT(good.size(), sizeof(Elf64_Ehdr));
    Elf64_Ehdr eh;
    std::memcpy(&eh, good.data(), sizeof eh);

    // Section headers sit at the end of the file: every truncation loses them.
    for (std::size_t n = 0; n < good.size(); n += 1 + n / 4)
        EXPECT_FALSE(host_error([&] { exported_functions(std::span(good.data(), n), "cut.so"); }).empty()) << n;

    // A truncated file on disk goes through the same checks.
    const torvel::test::TempDir tmp;
    const fs::path cut = tmp.write("torvel_truncated.so", {reinterpret_cast<const char*>(good.data()), 200});
    EXPECT_NE(host_error([&] { exported_functions(cut); }).find(cut.string() + ": truncated ELF file"),
              std::string::npos);

    auto with = [&](auto edit) {
        std::vector<unsigned char> img = good;
        Elf64_Ehdr h;
        std::memcpy(&h, img.data(), sizeof h);
        edit(img, h);
        std::memcpy(img.data(), &h, sizeof h);
        return host_error([&] { exported_functions(img, "bad.so"); });
    };
    auto dynsym_of = [&](std::vector<unsigned char>& img, const Elf64_Ehdr& h) {
        for (unsigned i = 0; i < h.e_shnum; ++i) {
            auto* s = reinterpret_cast<Elf64_Shdr*>(img.data() + h.e_shoff + i * sizeof(Elf64_Shdr));
            if (s->sh_type == SHT_DYNSYM) return s;
        }
        return static_cast<Elf64_Shdr*>(nullptr);
    };
    EXPECT_NE(with([](auto&, Elf64_Ehdr& h) { h.e_ident[EI_CLASS] = ELFCLASS32; }).find("not a 64-bit"),
              std::string::npos);
    EXPECT_NE(with([](auto&, Elf64_Ehdr& h) { h.e_type = ET_EXEC; }).find("not an ELF shared object"),
              std::string::npos);
    EXPECT_NE(with([](auto&, Elf64_Ehdr& h) { h.e_shoff = ~0ull - 10; }).find("truncated"), std::string::npos);
    EXPECT_NE(with([](auto&, Elf64_Ehdr& h) { h.e_shnum = 0xffff; }).find("truncated"), std::string::npos);
    EXPECT_NE(with([&](auto& img, Elf64_Ehdr& h) { dynsym_of(img, h)->sh_size = ~0ull; }).find("truncated"),
              std::string::npos);
    EXPECT_NE(with([&](auto& img, Elf64_Ehdr& h) { dynsym_of(img, h)->sh_link = 60000; }).find("no string table"),
              std::string::npos);
    EXPECT_NE(with([&](auto& img, Elf64_Ehdr& h) { dynsym_of(img, h)->sh_link = 0; }).find("no string table"),
              std::string::npos);
    EXPECT_NE(with([&](auto& img, Elf64_Ehdr& h) {
                  Elf64_Shdr* d = dynsym_of(img, h);
                  for (std::size_t off = d->sh_offset + sizeof(Elf64_Sym); off < d->sh_offset + d->sh_size;
                       off += sizeof(Elf64_Sym))
                      reinterpret_cast<Elf64_Sym*>(img.data() + off)->st_name = 0x7fffffff;
              }).find("outside the string table"),
              std::string::npos);

    // Random damage to the headers and tables: any outcome but a crash (run under ASan) is fine.
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        std::vector<unsigned char> img = good;
        for (int k = 0; k < 8; ++k) {
            const std::size_t at =
                round % 2 ? rng() % sizeof(Elf64_Ehdr) : eh.e_shoff + rng() % (good.size() - eh.e_shoff);
            img[at] = static_cast<unsigned char>(rng());
        }
        try {
            exported_functions(img, "fuzzed.so");
        } catch (const HostError&) {
        }
    }
}

TEST_F(Loader, OpeningFailuresNameThePathAndTheReason) {
    EXPECT_EQ(host_error([] { PluginLibrary lib("/nonexistent/tm.so"); }), "/nonexistent/tm.so: no such file");
    EXPECT_NE(host_error([] {
                  PluginLibrary lib(TM_NOT_A_LIBRARY);
              }).find(std::string(TM_NOT_A_LIBRARY) + ": not a loadable library: "),
              std::string::npos);
    EXPECT_EQ(host_error([] { PluginLibrary lib(TM_NOENTRY); }),
              std::string(TM_NOENTRY) + ": not a plug-in: no XSILoadPlugin entry point");
    EXPECT_EQ(host_error([] { PluginLibrary lib(""); }), "the plug-in path is empty");
    EXPECT_EQ(host_error([] { PluginLibrary lib("/tmp"); }), "/tmp: is a folder");
    // A bare name is a file in the working directory, never a library-path search.
    EXPECT_NE(host_error([] { PluginLibrary lib("libc.so.6"); }).find((fs::current_path() / "libc.so.6").string()),
              std::string::npos);
}

TEST_F(Loader, FailingEntryPointLeavesNothingRegistered) {
    const std::size_t before = host().store().live_objects();
    EXPECT_EQ(host_error([&] { plugins().load(TM_FAILING); }),
              std::string(TM_FAILING) + ": XSILoadPlugin failed (code -1)");
    EXPECT_TRUE(plugins().libraries().empty());
    EXPECT_EQ(plugins().find_item(L"Tm_Failing"), nullptr);
    EXPECT_EQ(host().store().live_objects(), before);
}

TEST_F(Loader, CallbacksAreFoundWhateverTheCaseOfTheItemPrefix) {
    PluginLibrary& lib = plugins().load(TM_FILTER);
    EXPECT_EQ(lib.name(), L"Tm Plug-in");
    const ItemInfo* filter = plugins().find_item(L"TM_FILTER");
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->name, L"Tm_Filter");
    EXPECT_TRUE(filter->is_filter);
    EXPECT_EQ(filter->filter_type, XSI::siFilterSubComponentPolygon);
    EXPECT_EQ(filter->item.GetClassID(), XSI::siFilterID);
    ASSERT_NE(filter->find("Init"), nullptr);
    EXPECT_EQ(filter->find("Init")->exported_name, "TM_Filter_Init");
    EXPECT_EQ(filter->find("Subset")->exported_name, "Tm_Filter_Subset");
    EXPECT_EQ(filter->find("Applicable"), nullptr);  // neither IsApplicable nor the hidden one

    const ItemInfo* prop = lib.find_item(L"tm_prop");
    ASSERT_NE(prop, nullptr);
    EXPECT_FALSE(prop->is_filter);
    EXPECT_EQ(prop->item.GetClassID(), XSI::siPluginItemID);
    EXPECT_EQ(prop->find("Define")->exported_name, "Tm_Prop_Define");
    EXPECT_EQ(prop->find("PPGEvent")->exported_name, "tm_prop_PPGEvent");
    EXPECT_EQ(prop->find("DefineLayout"), nullptr);
    EXPECT_EQ(prop->find("Init"), nullptr);  // property items have no filter callbacks

    EXPECT_EQ(plugins().find_library(L"tm plug-in"), &lib);
    EXPECT_EQ(plugins().find_library(fs::path(TM_FILTER).wstring()), &lib);
    EXPECT_EQ(plugins().find_library(L"tm_filter.so"), &lib);
    EXPECT_NE(host_error([&] { plugins().load(TM_FILTER); }).find("already loaded"), std::string::npos);
}

TEST_F(Loader, LifecycleCallsComeInOrder) {
    plugins().load(TM_FILTER);
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: XSILoadPlugin", L"tm: Init Tm_Filter"}));

    host().log().clear();
    plugins().reload(L"Tm Plug-in");
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: Reload Tm_Filter", L"tm: XSIUnloadPlugin Tm Plug-in",
                                                         L"tm: XSILoadPlugin", L"tm: Init Tm_Filter"}));
    ASSERT_EQ(plugins().libraries().size(), 1u);

    host().log().clear();
    plugins().unload(L"tm_filter.so");
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: Unload Tm_Filter", L"tm: XSIUnloadPlugin Tm Plug-in"}));
    EXPECT_TRUE(plugins().libraries().empty());
    EXPECT_EQ(plugins().find_item(L"Tm_Filter"), nullptr);
    EXPECT_EQ(host_error([&] { plugins().unload(L"Tm Plug-in"); }), "no loaded plug-in \"Tm Plug-in\"");

    plugins().load(TM_FILTER);
    host().log().clear();
    plugins().shutdown();
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: Term Tm_Filter", L"tm: XSIUnloadPlugin Tm Plug-in"}));
    EXPECT_TRUE(plugins().libraries().empty());
}

TEST_F(Loader, ATakenNameIsRefusedWithAWarning) {
    plugins().load(TM_FILTER);
    const CRef first = plugins().find_item(L"Tm_Filter")->item;
    PluginLibrary& second = plugins().load(TM_SECOND);
    EXPECT_TRUE(logged(XSI::siWarningMsg, L"\"tm_filter\" is already registered"));
    ASSERT_EQ(second.items().size(), 1u);
    EXPECT_EQ(second.items()[0].name, L"Tm_Second");
    EXPECT_EQ(plugins().find_item(L"tm_filter")->item, first);
    EXPECT_TRUE(lines(L"second: refused").empty());
    EXPECT_EQ(lines(L"second: Init"), std::vector<std::wstring>{L"second: Init Tm_Second"});

    // Two case variants of Term and no exact one: ambiguous, so neither is bound.
    EXPECT_EQ(second.items()[0].find("Term"), nullptr);
    EXPECT_TRUE(logged(XSI::siWarningMsg, L"Tm_Second_Term is ambiguous"));

    host().log().clear();
    plugins().shutdown();  // last loaded first
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: Term Tm_Filter", L"tm: XSIUnloadPlugin Tm Plug-in"}));
    EXPECT_TRUE(lines(L"second: ").empty());
}

// A plug-in finds its property by name: under the root no other object holds the name of a registered
// property kind, whether it came before the plug-in (renamed when the kind is registered, before any
// Init) or after it (numbered), each with a warning naming both names.
TEST_F(Loader, NoObjectShadowsTheNameOfARegisteredPropertyKind) {
    auto triangle = [](const wchar_t* name) {
        return host().add_mesh(name, torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 3}, {0, 1, 2}));
    };
    auto name_of = [](const CRef& ref) { return host().store().find(ref.GetHandle())->name; };
    const CRef early = triangle(L"Tm_Prop");
    plugins().load(TM_FILTER);
    EXPECT_EQ(name_of(early), L"Tm_Prop1");
    EXPECT_TRUE(logged(XSI::siWarningMsg,
                       L"\"Scene_Root.Tm_Prop\" is renamed \"Tm_Prop1\": the plug-in "
                       L"\"tm_filter.so\" registers a property of that name"));
    EXPECT_EQ(lines(L"tm: "), (std::vector<std::wstring>{L"tm: XSILoadPlugin", L"tm: Init Tm_Filter"}));
    EXPECT_FALSE(host().resolve(L"Tm_Prop"));

    const CRef late = triangle(L"Tm_Prop");
    EXPECT_EQ(name_of(late), L"Tm_Prop2");
    EXPECT_TRUE(logged(XSI::siWarningMsg,
                       L"the mesh \"Tm_Prop\" is named \"Tm_Prop2\": a loaded plug-in "
                       L"registers a property of that name"));
    EXPECT_EQ(name_of(triangle(L"tm_prop")), L"tm_prop");  // lookups by name match exactly
    EXPECT_EQ(XSI::SIObject(late).PutName(L"Tm_Prop").GetCode(), XSI::CStatus::OK);
    EXPECT_EQ(name_of(late), L"Tm_Prop3");

    // The property itself has its kind's name, and keeps it over a reload.
    const CRef prop = host().add_property(L"Tm_Prop", host().scene_root());
    EXPECT_EQ(name_of(prop), L"Tm_Prop");
    host().log().clear();
    plugins().reload(L"Tm Plug-in");
    EXPECT_EQ(host().resolve(L"Tm_Prop"), prop);
    EXPECT_FALSE(logged(XSI::siWarningMsg, L"renamed"));
}

TEST_F(Loader, CallsGetAFreshContextThatIsReleasedAfterwards) {
    plugins().load(TM_FILTER);
    const ItemInfo& filter = *plugins().find_item(L"Tm_Filter");
    const ItemInfo& prop = *plugins().find_item(L"Tm_Prop");

    const CRef mesh =
        host().add_mesh(L"quad", torvel::test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 4}, {0, 1, 2, 3}));
    const std::size_t with_mesh = host().store().live_objects();
    PluginRegistry::CallRequest subset;
    subset.input = {mesh, host().scene_root(), mesh};
    auto r = plugins().call(filter, "Subset", subset);
    EXPECT_TRUE(r.called);
    EXPECT_TRUE(r.returned);
    EXPECT_EQ(r.array_attributes[L"Output"], std::vector<CRef>{mesh});
    EXPECT_EQ(static_cast<XSI::LONG>(r.attributes[L"Count"]), 3);
    EXPECT_EQ(host().store().live_objects(), with_mesh);

    PluginRegistry::CallRequest match;
    match.input_value = CValue(mesh);
    r = plugins().call(filter, "Match", match);
    EXPECT_FALSE(r.returned);
    EXPECT_EQ(static_cast<CRef>(r.attributes[L"Output"]), mesh);

    // A callback that throws: the error names it and the scope still closes.
    match.attributes[L"Throw"] = CValue(true);
    EXPECT_EQ(host_error([&] { plugins().call(filter, "Match", match); }),
              "Tm_Filter_Match threw: Match was asked to throw");
    EXPECT_EQ(host().store().live_objects(), with_mesh);

    // Event calls get a page-event context; others a plain one, whose event is undefined.
    PluginRegistry::CallRequest event;
    event.source = host().scene_root();
    event.event_id = XSI::PPGEventContext::siOnInit;
    r = plugins().call(prop, "PPGEvent", event);
    EXPECT_TRUE(static_cast<bool>(r.attributes[L"Refresh"]));
    event.event_id = 0;
    plugins().call(prop, "PPGEvent", event);
    EXPECT_EQ(lines(L"tm: PPGEvent"), (std::vector<std::wstring>{L"tm: PPGEvent 1", L"tm: PPGEvent 0"}));

    EXPECT_FALSE(plugins().call(filter, "Applicable", {}).called);
    EXPECT_FALSE(plugins().call(prop, "DefineLayout", {}).called);
    EXPECT_NE(host_error([&] {
                  plugins().call(filter, "Define", {});
              }).find("Tm_Filter: a filter has no callback \"Define\""),
              std::string::npos);
    EXPECT_NE(host_error([&] { plugins().call(prop, "Subset", {}); }).find("no callback"), std::string::npos);
    EXPECT_EQ(host().store().live_objects(), with_mesh);
}

TEST_F(Loader, SIAddPropAddsARegisteredPropertyThroughItsDefineCallback) {
    plugins().load(TM_FILTER);
    ScriptResult r = host().execute_script(LR"(SIAddProp "Tm_Prop","Scene_Root" , siDefaultPropagation)", L"VBScript");
    ASSERT_TRUE(r.ok) << torvel::to_utf8(r.message);
    EXPECT_TRUE(host().execute_script(LR"(siaddprop "TM_PROP", "Scene_Root")", L"VBScript").ok);
    EXPECT_EQ(lines(L"tm: Define"), (std::vector<std::wstring>{L"tm: Define Tm_Prop", L"tm: Define Tm_Prop1"}));
    auto* prop = host().store().find_as<PropertyObject>(host().resolve(L"Scene_Root.Tm_Prop"));
    ASSERT_NE(prop, nullptr);
    ASSERT_NE(prop->find_param(L"size"), nullptr);

    r = host().execute_script(LR"(SIAddProp "Tm_Prop", "Scene_Root.nowhere")", L"VBScript");
    EXPECT_EQ(r.message, L"SIAddProp: no object \"Scene_Root.nowhere\"");
    r = host().execute_script(LR"(SIAddProp "Tm_Filter", "Scene_Root")", L"VBScript");
    EXPECT_EQ(r.message, L"SIAddProp: unknown property preset \"Tm_Filter\"");
}
