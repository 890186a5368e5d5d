#include "elf_exports.h"

#include <elf.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unordered_set>

#include "errors.h"

namespace torvel::host {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------------
// ELF reading. Every offset and size in the file is untrusted: each is checked against the image size
// before it is used, and no buffer larger than the file (or than kMaxTable) is ever allocated.

constexpr std::uint64_t kMaxTable = 64u << 20;

class Image {
public:
    virtual ~Image() = default;
    virtual std::uint64_t size() const = 0;
    // Copies `n` bytes at `offset`; the caller has checked the range.
    virtual void copy(std::uint64_t offset, std::size_t n, void* out) const = 0;
};

class MemoryImage final : public Image {
public:
    explicit MemoryImage(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    void copy(std::uint64_t offset, std::size_t n, void* out) const override {
        if (n) std::memcpy(out, bytes_.data() + offset, n);
    }

private:
    std::span<const unsigned char> bytes_;
};

class FileImage final : public Image {
public:
    FileImage(const fs::path& path, const std::string& name) : name_(name) {
        std::error_code ec;
        const fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) throw HostError(name + ": no such file");
        if (!fs::is_regular_file(st)) throw HostError(name + ": not a regular file");
        size_ = fs::file_size(path, ec);
        if (ec) throw HostError(name + ": cannot read: " + ec.message());
        in_.open(path, std::ios::binary);
        if (!in_) throw HostError(name + ": cannot open for reading");
    }
    std::uint64_t size() const override { return size_; }
    void copy(std::uint64_t offset, std::size_t n, void* out) const override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
        if (!in_ || static_cast<std::size_t>(in_.gcount()) != n) throw HostError(name_ + ": read error");
    }

private:
    std::string name_;
    std::uint64_t size_ = 0;
    mutable std::ifstream in_;
};

bool in_bounds(const Image& img, std::uint64_t offset, std::uint64_t n) {
    return offset <= img.size() && n <= img.size() - offset;
}

template <class T>
T read_struct(const Image& img, std::uint64_t offset, const std::string& name, const char* what) {
    if (!in_bounds(img, offset, sizeof(T)))
        throw HostError(name + ": truncated ELF file (" + what + " at offset " + std::to_string(offset) +
                        " lies beyond the end of the file)");
    T value;
    img.copy(offset, sizeof(T), &value);
    return value;
}

std::vector<char> read_bytes(const Image& img, std::uint64_t offset, std::uint64_t n, const std::string& name,
                             const char* what) {
    if (!in_bounds(img, offset, n))
        throw HostError(name + ": truncated ELF file (" + what + " at offset " + std::to_string(offset) + ", " +
                        std::to_string(n) + " bytes, lies beyond the end of the file)");
    if (n > kMaxTable) throw HostError(name + ": " + what + " is implausibly large (" + std::to_string(n) + " bytes)");
    std::vector<char> bytes(static_cast<std::size_t>(n));
    img.copy(offset, bytes.size(), bytes.data());
    return bytes;
}

std::vector<std::string> list_exports(const Image& img, const std::string& name) {
    // The magic number first, so that a short text file is called what it is rather than truncated.
    unsigned char magic[SELFMAG] = {};
    if (img.size() >= SELFMAG) img.copy(0, SELFMAG, magic);
    if (img.size() < SELFMAG || std::memcmp(magic, ELFMAG, SELFMAG) != 0)
        throw HostError(name + ": not an ELF file (bad magic number)");
    const auto eh = read_struct<Elf64_Ehdr>(img, 0, name, "ELF header");
    if (eh.e_ident[EI_CLASS] != ELFCLASS64) throw HostError(name + ": not a 64-bit ELF file");
    constexpr unsigned char native = std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (eh.e_ident[EI_DATA] != native) throw HostError(name + ": ELF file of the wrong byte order");
    if (eh.e_type != ET_DYN)
        throw HostError(name + ": not an ELF shared object (file type " + std::to_string(eh.e_type) + ")");
    if (eh.e_shoff == 0) throw HostError(name + ": ELF file has no section headers");
    if (eh.e_shentsize != sizeof(Elf64_Shdr))
        throw HostError(name + ": bad ELF section header size " + std::to_string(eh.e_shentsize));

    std::uint64_t count = eh.e_shnum;
    if (count == 0) {  // extended numbering: the real count is in section 0
        count = read_struct<Elf64_Shdr>(img, eh.e_shoff, name, "section header 0").sh_size;
    }
    if (!in_bounds(img, eh.e_shoff, 0) || count > (img.size() - eh.e_shoff) / sizeof(Elf64_Shdr))
        throw HostError(name + ": truncated ELF file (" + std::to_string(count) +
                        " section headers do not fit in the file)");
    std::vector<Elf64_Shdr> sections(static_cast<std::size_t>(count));
    if (!sections.empty()) img.copy(eh.e_shoff, sections.size() * sizeof(Elf64_Shdr), sections.data());

    auto dynsym =
        std::find_if(sections.begin(), sections.end(), [](const Elf64_Shdr& s) { return s.sh_type == SHT_DYNSYM; });
    if (dynsym == sections.end()) return {};  // exports nothing
    if (dynsym->sh_entsize != sizeof(Elf64_Sym))
        throw HostError(name + ": bad dynamic symbol entry size " + std::to_string(dynsym->sh_entsize));
    if (dynsym->sh_link == 0 || dynsym->sh_link >= sections.size())
        throw HostError(name + ": dynamic symbol table links to no string table (section " +
                        std::to_string(dynsym->sh_link) + ")");
    const Elf64_Shdr& strtab = sections[dynsym->sh_link];
    if (strtab.sh_type != SHT_STRTAB)
        throw HostError(name + ": dynamic symbol table links to section " + std::to_string(dynsym->sh_link) +
                        ", which is not a string table");

    const std::vector<char> strings = read_bytes(img, strtab.sh_offset, strtab.sh_size, name, "dynamic string table");
    const std::vector<char> symbytes =
        read_bytes(img, dynsym->sh_offset, dynsym->sh_size, name, "dynamic symbol table");
    const std::size_t nsyms = symbytes.size() / sizeof(Elf64_Sym);

    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 1; i < nsyms; ++i) {  // entry 0 is the reserved null symbol
        Elf64_Sym sym;
        std::memcpy(&sym, symbytes.data() + i * sizeof(Elf64_Sym), sizeof sym);
        const unsigned type = ELF64_ST_TYPE(sym.st_info);
        const unsigned bind = ELF64_ST_BIND(sym.st_info);
        const unsigned vis = ELF64_ST_VISIBILITY(sym.st_other);
        if (type != STT_FUNC || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
        if (sym.st_shndx == SHN_UNDEF || vis == STV_HIDDEN || vis == STV_INTERNAL) continue;
        if (sym.st_name >= strings.size())
            throw HostError(name + ": symbol " + std::to_string(i) + " has a name outside the string table");
        const char* begin = strings.data() + sym.st_name;
        const char* end = static_cast<const char*>(std::memchr(begin, '\0', strings.size() - sym.st_name));
        if (!end) throw HostError(name + ": symbol " + std::to_string(i) + " has an unterminated name");
        std::string s(begin, end);
        if (!s.empty() && seen.insert(s).second) out.push_back(std::move(s));
    }
    return out;
}

}  // namespace

std::vector<std::string> exported_functions(const fs::path& path) {
    const std::string name = path.string();
    FileImage img(path, name);
    return list_exports(img, name);
}

std::vector<std::string> exported_functions(std::span<const unsigned char> image, const std::string& name) {
    MemoryImage img(image);
    return list_exports(img, name);
}

}  // namespace torvel::host
