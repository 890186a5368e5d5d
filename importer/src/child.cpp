// Runs in the forked child only. Nothing here returns to the caller's code: the child ends in _exit, so
// the parent's atexit handlers never run and its stdio buffers are never flushed a second time.
#include "child.h"

#include <assimp/BaseImporter.h>
#include <assimp/config.h>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>

#include "frames.h"
#include "huge_pages.h"
#include "process.h"
#include "stream.h"

#if defined(__SANITIZE_ADDRESS__)
#define TORVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVEL_ASAN 1
#endif
#endif
#ifdef TORVEL_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace torvel::importer::detail {

namespace {

static_assert(std::is_same_v<ai_real, float> && sizeof(aiVector3D) == 3 * sizeof(float),
              "the stream carries Assimp's positions as packed single-precision triples");

// ---------------------------------------------------------------------------------------------------
// The process: what it inherited from torvel that must not apply to it, and its limits.

[[noreturn]] void out_of_memory() { ::_exit(kExitMemory); }

// A crash right after a failed allocation is the memory limit at work (C code that took malloc's null),
// not a bug to report as such: glibc's malloc leaves ENOMEM in errno when it gives up. Otherwise the
// signal is raised again with its default action, so the parent sees the child die of it.
void on_fatal_signal(int sig) {
    if (errno == ENOMEM) ::_exit(kExitMemory);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

#ifdef TORVEL_ASAN
// Under AddressSanitizer a failed allocation is a report and a death, never bad_alloc or null.
void on_sanitizer_report(const char* report) {
    if (std::strstr(report, "out of memory") || std::strstr(report, "allocation-size-too-big") ||
        std::strstr(report, "exceeds maximum supported size"))
        ::_exit(kExitMemory);
}
// The report itself may need memory the limit no longer leaves: the sanitizer then dies before the
// report reaches on_sanitizer_report. A death with the address space at the limit is the limit's.
void on_sanitizer_death() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return;
    constexpr std::uint64_t kNear = 128ull << 20;  // more than any one allocation of the sanitizer's
    if (process::address_space() + kNear >= lim.rlim_cur) ::_exit(kExitMemory);
}
#endif

void reset_signals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) (void)::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // The handler must run even when the crash is a stack overflow, hence a stack of its own.
    static std::array<char, 64 * 1024> alt_stack;
    stack_t ss{};
    ss.ss_sp = alt_stack.data();
    ss.ss_size = alt_stack.size();
    (void)::sigaltstack(&ss, nullptr);
    struct sigaction fatal {};
    fatal.sa_handler = on_fatal_signal;
    fatal.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) (void)::sigaction(sig, &fatal, nullptr);
}

// The import's memory on huge pages. Page faults are most of a large import's cost on this kind of
// machine (a VM), and a child starts with none of its memory warm: every block it writes is a fresh
// page, or a copy of one of torvel's. So, for this process only: the free blocks it inherited lose their
// pages (reused, they come back zeroed instead of copied), every allocation comes from the heap
// (never a separate mapping), and the heap is first grown to nearly the whole limit, untouched, with
// the kernel asked to back it with 2 MiB pages. The address space was counted against the limit
// anyway; what is touched is what the import uses.
void prepare_heap(std::uint64_t megabytes) {
#ifndef TORVEL_ASAN
    ::malloc_trim(0);
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, -1);
    constexpr std::uint64_t kSlackMb = 64;  // the stack, the importer's own mappings
    if (megabytes <= 2 * kSlackMb) return;
    const std::size_t reserve = static_cast<std::size_t>((megabytes - kSlackMb) << 20);
    if (void* p = std::malloc(reserve)) {
        const struct mallinfo2 info = ::mallinfo2();
        const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
        if (end > info.arena) {
            const std::uintptr_t begin = end - info.arena;
            advise_huge_pages(reinterpret_cast<void*>(begin), end - begin);
        }
        std::free(p);
    }
#else
    (void)megabytes;
#endif
}

void prepare(const ChildTask& task) {
    reset_signals();
    prepare_heap(task.megabytes);
    std::set_new_handler(out_of_memory);
#ifdef TORVEL_ASAN
    __asan_set_error_report_callback(on_sanitizer_report);
    __sanitizer_set_death_callback(on_sanitizer_death);
#endif
    errno = 0;  // what on_fatal_signal reads must come from the import
}

std::vector<char*> g_hoard;  // what the memory fault holds on to

void fault_for_tests() {
    const char* fault = std::getenv("TORVEL_TEST_IMPORTER_FAULT");
    if (!fault) return;
    const std::string_view f = fault;
    if (f == "crash") {
        // A real fault on a page with no access: not a null pointer, which a sanitizer would catch first.
        void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        errno = 0;
        *static_cast<volatile int*>(page) = 1;
    } else if (f == "hang") {
        for (;;) ::pause();
    } else if (f == "memory") {
        for (;;) g_hoard.push_back(new char[64 << 20]);
    }
}

// ---------------------------------------------------------------------------------------------------
// The stream.

// Writes through to the pipe; small pieces are gathered first so that a mesh's arrays go out in few
// large writes.
class FdSink final : public ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    void write(const void* data, std::size_t size) override {
        if (size == 0) return;
        const auto* p = static_cast<const char*>(data);
        if (size >= buf_.size()) {
            flush();
            raw(p, size);
            return;
        }
        if (used_ + size > buf_.size()) flush();
        std::memcpy(buf_.data() + used_, p, size);
        used_ += size;
    }
    void flush() {
        raw(buf_.data(), used_);
        used_ = 0;
    }

private:
    void raw(const char* p, std::size_t size) {
        if (!process::write_all(fd_, p, size)) ::_exit(kExitNoResult);
    }
    int fd_;
    std::array<char, 1 << 16> buf_{};
    std::size_t used_ = 0;
};

// u32 values one at a time into the writer, in blocks.
class U32Blocks {
public:
    explicit U32Blocks(StreamWriter& w) : w_(w) {}
    ~U32Blocks() { flush(); }
    void put(std::uint32_t v) {
        block_[n_++] = v;
        if (n_ == block_.size()) flush();
    }
    void flush() {
        w_.u32s(block_.data(), n_);
        n_ = 0;
    }

private:
    StreamWriter& w_;
    std::array<std::uint32_t, 16384> block_;
    std::size_t n_ = 0;
};

// ---------------------------------------------------------------------------------------------------
// The scene.

class BadData : public std::exception {
public:
    explicit BadData(std::string what) : what_(std::move(what)) {}
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string what_;
};

// Per mesh, the name of the first node that references it (depth-first, children in order); a node
// graph that loops or is absurdly deep is walked once per node.
std::vector<std::string_view> node_names(const aiScene& scene) {
    std::vector<std::string_view> names(scene.mNumMeshes);
    std::vector<bool> named(scene.mNumMeshes, false);
    std::vector<const aiNode*> stack;
    std::unordered_set<const aiNode*> seen;
    if (scene.mRootNode) stack.push_back(scene.mRootNode);
    while (!stack.empty()) {
        const aiNode* node = stack.back();
        stack.pop_back();
        if (!seen.insert(node).second) continue;
        for (unsigned i = 0; node->mMeshes && i < node->mNumMeshes; ++i) {
            const unsigned m = node->mMeshes[i];
            if (m < scene.mNumMeshes && !named[m]) {
                names[m] = std::string_view(node->mName.data, node->mName.length);
                named[m] = true;
            }
        }
        for (unsigned i = node->mNumChildren; node->mChildren && i-- > 0;)
            if (node->mChildren[i]) stack.push_back(node->mChildren[i]);
    }
    return names;
}

struct MeshPlan {
    const aiMesh* mesh = nullptr;
    std::uint32_t index = 0;
    std::string_view name;
    std::uint32_t polygons = 0, corners = 0;
};

std::string describe(unsigned index, std::string_view name) {
    std::string s = "mesh " + std::to_string(index);
    if (!name.empty()) s += " (\"" + std::string(name) + "\")";
    return s;
}

// Checks everything Assimp built that the stream will carry, and counts what is left out.
std::vector<MeshPlan> plan(const aiScene& scene, std::uint64_t& points, std::uint64_t& lines) {
    if (scene.mNumMeshes > 0 && !scene.mMeshes) throw BadData("the scene lists meshes but holds none");
    const std::vector<std::string_view> from_nodes = node_names(scene);
    std::vector<MeshPlan> out;
    std::uint64_t all_vertices = 0, all_corners = 0;  // of the meshes sent: they become one mesh
    for (unsigned i = 0; i < scene.mNumMeshes; ++i) {
        const aiMesh* m = scene.mMeshes[i];
        if (!m) throw BadData(describe(i, {}) + " is missing");
        const std::string_view mesh_name(m->mName.data, m->mName.length);
        MeshPlan p{m, i, from_nodes[i].empty() ? mesh_name : from_nodes[i], 0, 0};
        const std::string who = describe(i, p.name);
        if (m->mNumFaces > 0 && !m->mFaces) throw BadData(who + " lists faces but holds none");
        std::uint64_t corners = 0;
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            const aiFace& face = m->mFaces[f];
            if (face.mNumIndices == 0 || !face.mIndices)
                throw BadData(who + ": face " + std::to_string(f) + " is empty");
            for (unsigned k = 0; k < face.mNumIndices; ++k)
                if (face.mIndices[k] >= m->mNumVertices)
                    throw BadData(who + ": face " + std::to_string(f) + " uses vertex " +
                                  std::to_string(face.mIndices[k]) + ", but the mesh has " +
                                  std::to_string(m->mNumVertices) + " vertices");
            if (face.mNumIndices == 1)
                ++points;
            else if (face.mNumIndices == 2)
                ++lines;
            else {
                ++p.polygons;
                corners += face.mNumIndices;
            }
        }
        if (p.polygons == 0) continue;
        if (corners > UINT32_MAX) throw BadData(who + " has more than 4294967295 polygon corners");
        p.corners = static_cast<std::uint32_t>(corners);
        all_vertices += m->mNumVertices;
        all_corners += corners;
        if (all_vertices > UINT32_MAX || all_corners > UINT32_MAX)
            throw BadData("the meshes have more than 4294967295 vertices or polygon corners together");
        if (!m->mVertices) throw BadData(who + " has faces but no vertex positions");
        const float* xyz = &m->mVertices[0].x;
        for (std::size_t k = 0; k < std::size_t{m->mNumVertices} * 3; ++k)
            if (!std::isfinite(xyz[k]))
                throw BadData(who + ": vertex " + std::to_string(k / 3) + " has a coordinate that is not finite");
        out.push_back(p);
    }
    return out;
}

void write_scene(const aiScene& scene, StreamWriter& w) {
    std::uint64_t points = 0, lines = 0;
    std::vector<MeshPlan> meshes;
    try {
        meshes = plan(scene, points, lines);
    } catch (const BadData& e) {
        w.failure(Kind::bad_data, e.what());
        return;
    }
    std::uint64_t total = header_size(0);
    for (const MeshPlan& p : meshes) total += object_size(p.name.size(), p.mesh->mNumVertices, p.polygons, p.corners);
    w.header(Kind::result, total, static_cast<std::uint32_t>(meshes.size()), points, lines, {});
    for (const MeshPlan& p : meshes) {
        const aiMesh& m = *p.mesh;
        w.object(p.index, p.name, m.mNumVertices, p.polygons, p.corners);
        w.floats(&m.mVertices[0].x, std::size_t{m.mNumVertices} * 3);
        U32Blocks out(w);
        std::uint32_t offset = 0;
        out.put(0);
        for (unsigned f = 0; f < m.mNumFaces; ++f)
            if (m.mFaces[f].mNumIndices >= 3) out.put(offset += m.mFaces[f].mNumIndices);
        for (unsigned f = 0; f < m.mNumFaces; ++f) {
            const aiFace& face = m.mFaces[f];
            if (face.mNumIndices >= 3)
                for (unsigned k = 0; k < face.mNumIndices; ++k) out.put(face.mIndices[k]);
        }
    }
}

// The importer the extension names. When several claim it ("xml", "gltf"), the first that recognises
// the content, else the first: never one of another extension, as Assimp's own fallback would pick.
Assimp::BaseImporter* choose(const Assimp::Importer& assimp, const ChildTask& task) {
    Assimp::BaseImporter* first = nullptr;
    for (std::size_t i : task.importers) {
        Assimp::BaseImporter* imp = assimp.GetImporter(i);
        if (!imp) continue;
        if (task.importers.size() == 1) return imp;
        if (!first) first = imp;
        try {
            if (imp->CanRead(task.path, assimp.GetIOHandler(), true)) return imp;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception&) {
        }
    }
    return first;
}

void import_and_write(const ChildTask& task, StreamWriter& w) {
    Assimp::Importer assimp;
    // Geometry as the file holds it: no stand-in skeleton meshes for files without any, AC3D's
    // subdivision surfaces as their control polygons. COLLADA's name attributes, not its ids, for names.
    assimp.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    assimp.SetPropertyBool(AI_CONFIG_IMPORT_AC_EVAL_SUBDIVISION, false);
    assimp.SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_USE_COLLADA_NAMES, true);
    Assimp::BaseImporter* imp = choose(assimp, task);
    if (!imp) {
        w.failure(Kind::refused, "this Assimp has no importer for the file's extension");
        return;
    }
    // No post-processing at all: the scene as the importer built it. The scene is never freed, the
    // process ends right after it is written out.
    const aiScene* scene = nullptr;
    try {
        scene = imp->ReadFile(&assimp, task.path, assimp.GetIOHandler());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        // ReadFile turns what the format's reader throws into its error text; its set-up may still throw.
        w.failure(Kind::refused, e.what());
        return;
    }
    if (!scene) {
        if (const std::exception_ptr e = imp->GetException()) {
            try {
                std::rethrow_exception(e);
            } catch (const std::bad_alloc&) {
                out_of_memory();
            } catch (...) {
            }
        }
        const std::string& why = imp->GetErrorText();
        w.failure(Kind::refused, why.empty() ? "Assimp could not read the file and gave no reason" : why);
        return;
    }
    write_scene(*scene, w);
}

}  // namespace

void run_child(const ChildTask& task) {
    prepare(task);
    fault_for_tests();
    try {
        FdSink sink(task.out_fd);
        StreamWriter w(sink);
        import_and_write(task, w);
        sink.flush();
    } catch (const std::bad_alloc&) {
        out_of_memory();
    } catch (...) {
        ::_exit(kExitNoResult);
    }
    ::_exit(0);
}

}  // namespace torvel::importer::detail
