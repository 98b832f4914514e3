// Version resources of the simulated machine, read from real PE files (PE32
// and PE32+): only the headers, the resource directory and the version
// resource itself are read, each with a bounded read.
//
// Behaviour taken from the real version.dll (Wine 8.0, probed with
// tests/fixtures/verprobe.c):
// - The size is twice the resource size plus 4; success sets the last error
//   to 0 (GetFileVersionInfoA too). *handle is always set to 0.
// - GetFileVersionInfoA copies min(size, resource size) bytes and writes
//   "FE2X" right after them when 4 more bytes fit.
// - A string value is converted into the spare room at
//   wLength + 4 + (offset of the UTF-16 value in the block). Its length is
//   what the conversion of wValueLength UTF-16 units gives: characters with
//   the NUL for values stored with one. A text node with wValueLength 0
//   (a sub-block such as "\StringFileInfo") succeeds with length 0 and
//   last error 87. Binary values ("\", "\VarFileInfo\Translation") return
//   wValueLength bytes in place.
// - Names match without regard to case; the leading "\" is optional and
//   empty components are skipped ("" is the root). Not found: 0 with last
//   error 1813, *length 0, *buffer untouched. Success keeps the last error.
// - Errors: missing file 2, missing folder (or a file in its place) 3,
//   unknown drive 2, a folder 5, held 32, wildcards in the name 123, "" 161
//   for the size and 3 for the block; not PE, no resources, no version
//   resource, version resource not named 1: 1812.
// - Of several languages of the version resource: neutral, the system
//   language, its primary language with sublanguage 0, US English, else the
//   first one listed.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "codepage.h"
#include "machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using win::BOOL;
using win::BYTE;
using win::DWORD;
using win::UINT;
using win::WORD;

namespace {

constexpr WORD kVersionType = 16;  // RT_VERSION
constexpr WORD kVersionName = 1;   // VS_VERSION_INFO
constexpr DWORD kResourceDirectoryIndex = 2;
constexpr DWORD kMaxSections = 96;
// No honest version resource comes near this; a larger size is a broken file.
constexpr DWORD kMaxResourceSize = 1u << 20;
constexpr char kSpareSignature[4] = {'F', 'E', '2', 'X'};

// An opened file with bounded reads at given offsets.
struct PeFile {
    std::ifstream in;
    std::uint64_t size = 0;
};

bool ReadAt(PeFile& file, std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > file.size || length > file.size - offset) return false;
    file.in.clear();
    file.in.seekg(static_cast<std::streamoff>(offset));
    file.in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
    return file.in.gcount() == static_cast<std::streamsize>(length);
}

WORD Word(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

DWORD Dword(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
           (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

bool HasInvalidCharacters(const std::string& name) {
    return name.find_first_of("*?\"<>|") != std::string::npos;
}

// Opens the file the way LoadLibraryEx would find it, or says which error
// the real service reports.
std::optional<PeFile> OpenFile(const char* fileName, DWORD& error, bool forSize) {
    if (fileName == nullptr) {
        error = win::ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    if (*fileName == '\0') {
        error = forSize ? win::ERROR_BAD_PATHNAME : win::ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    if (HasInvalidCharacters(fileName)) {
        error = win::ERROR_INVALID_NAME;
        return std::nullopt;
    }
    const fs::path host = winsim::HostPath(fileName);
    if (host.empty()) {
        error = win::ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(host, ec);
    if (!fs::exists(status)) {
        error = fs::is_directory(host.parent_path(), ec) ? win::ERROR_FILE_NOT_FOUND
                                                         : win::ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        error = win::ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    if (winsim::HeldOpen(host)) {
        error = win::ERROR_SHARING_VIOLATION;
        return std::nullopt;
    }
    PeFile file;
    file.in.open(host, std::ios::binary);
    const std::uintmax_t size = fs::file_size(host, ec);
    if (!file.in || ec) {
        error = win::ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    file.size = size;
    return file;
}

struct Section {
    DWORD virtualAddress;
    DWORD rawSize;
    DWORD rawOffset;
};

struct PeLayout {
    std::vector<Section> sections;
    DWORD resourceRva = 0;
    DWORD resourceSize = 0;
};

// The file offset of an RVA range that lies wholly in one section's data.
std::optional<std::uint64_t> FileOffset(const PeLayout& layout, DWORD rva, DWORD length) {
    for (const Section& s : layout.sections) {
        if (rva < s.virtualAddress) continue;
        const std::uint64_t into = rva - s.virtualAddress;
        if (into + length <= s.rawSize) return s.rawOffset + into;
    }
    return std::nullopt;
}

std::optional<PeLayout> ReadLayout(PeFile& file) {
    BYTE dos[64];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const DWORD peOffset = Dword(dos + 0x3C);

    BYTE header[24];
    if (!ReadAt(file, peOffset, header, sizeof header) || std::memcmp(header, "PE\0\0", 4) != 0)
        return std::nullopt;
    const WORD sectionCount = Word(header + 6);
    const WORD optionalSize = Word(header + 20);
    if (sectionCount > kMaxSections) return std::nullopt;

    std::vector<BYTE> optionalHeader(optionalSize);
    if (!ReadAt(file, std::uint64_t{peOffset} + 24, optionalHeader.data(), optionalHeader.size()) ||
        optionalSize < 2)
        return std::nullopt;
    // Where NumberOfRvaAndSizes lies: PE32 and PE32+ differ in the fields before it.
    const WORD magic = Word(optionalHeader.data());
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    const std::size_t countAt = magic == 0x10B ? 92 : 108;
    if (optionalSize < countAt + 4) return std::nullopt;
    const DWORD directoryCount = Dword(optionalHeader.data() + countAt);
    const std::size_t resourceAt = countAt + 4 + 8 * kResourceDirectoryIndex;

    PeLayout layout;
    if (directoryCount > kResourceDirectoryIndex && optionalSize >= resourceAt + 8) {
        layout.resourceRva = Dword(optionalHeader.data() + resourceAt);
        layout.resourceSize = Dword(optionalHeader.data() + resourceAt + 4);
    }

    std::vector<BYTE> table(std::size_t{sectionCount} * 40);
    if (!ReadAt(file, std::uint64_t{peOffset} + 24 + optionalSize, table.data(), table.size()))
        return std::nullopt;
    for (WORD i = 0; i < sectionCount; ++i) {
        const BYTE* s = table.data() + std::size_t{i} * 40;
        layout.sections.push_back({Dword(s + 12), Dword(s + 16), Dword(s + 20)});
    }
    return layout;
}

struct DirectoryEntry {
    DWORD id;
    DWORD offset;  // from the start of the resource section; high bit: a sub-directory
    bool named;
};

constexpr DWORD kSubdirectory = 0x80000000u;

// The entries of the resource directory at the given offset into the
// resource section.
std::optional<std::vector<DirectoryEntry>> ReadDirectory(PeFile& file, const PeLayout& layout,
                                                         DWORD offset) {
    if (offset > layout.resourceSize || layout.resourceSize - offset < 16) return std::nullopt;
    const auto at = FileOffset(layout, layout.resourceRva + offset, 16);
    BYTE header[16];
    if (!at || !ReadAt(file, *at, header, sizeof header)) return std::nullopt;
    const DWORD count = DWORD{Word(header + 12)} + Word(header + 14);
    const DWORD bytes = count * 8;
    if (layout.resourceSize - offset - 16 < bytes) return std::nullopt;
    const auto entriesAt = FileOffset(layout, layout.resourceRva + offset + 16, bytes);
    std::vector<BYTE> raw(bytes);
    if (!entriesAt || !ReadAt(file, *entriesAt, raw.data(), raw.size())) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    for (DWORD i = 0; i < count; ++i) {
        const DWORD name = Dword(raw.data() + i * 8);
        entries.push_back(
            {name & 0xFFFF, Dword(raw.data() + i * 8 + 4), (name & kSubdirectory) != 0});
    }
    return entries;
}

std::optional<DirectoryEntry> EntryWithId(const std::vector<DirectoryEntry>& entries, DWORD id) {
    for (const DirectoryEntry& e : entries)
        if (!e.named && e.id == id) return e;
    return std::nullopt;
}

std::optional<std::vector<DirectoryEntry>> SubDirectory(
    PeFile& file, const PeLayout& layout, const std::optional<DirectoryEntry>& entry) {
    if (!entry || (entry->offset & kSubdirectory) == 0) return std::nullopt;
    return ReadDirectory(file, layout, entry->offset & ~kSubdirectory);
}

std::optional<DirectoryEntry> PickLanguage(const std::vector<DirectoryEntry>& languages) {
    if (languages.empty()) return std::nullopt;
    const DWORD system = winsim::SystemLanguage() & 0xFFFF;
    for (DWORD wanted : {DWORD{0}, system, system & 0x3FF, DWORD{0x0409}})
        if (auto found = EntryWithId(languages, wanted)) return found;
    return languages.front();
}

struct ResourceData {
    std::uint64_t fileOffset;
    DWORD size;
};

// Where the version resource lies in the file.
std::optional<ResourceData> FindVersionResource(PeFile& file) {
    const std::optional<PeLayout> layout = ReadLayout(file);
    if (!layout || layout->resourceRva == 0 || layout->resourceSize == 0 ||
        layout->resourceRva > 0xFFFFFFFFu - layout->resourceSize)
        return std::nullopt;
    const auto types = ReadDirectory(file, *layout, 0);
    if (!types) return std::nullopt;
    const auto names = SubDirectory(file, *layout, EntryWithId(*types, kVersionType));
    if (!names) return std::nullopt;
    const auto languages = SubDirectory(file, *layout, EntryWithId(*names, kVersionName));
    if (!languages) return std::nullopt;
    const std::optional<DirectoryEntry> language = PickLanguage(*languages);
    if (!language || (language->offset & kSubdirectory) != 0 ||
        language->offset > layout->resourceSize || layout->resourceSize - language->offset < 16)
        return std::nullopt;

    const auto entryAt = FileOffset(*layout, layout->resourceRva + language->offset, 16);
    BYTE entry[16];
    if (!entryAt || !ReadAt(file, *entryAt, entry, sizeof entry)) return std::nullopt;
    const DWORD dataRva = Dword(entry);
    const DWORD dataSize = Dword(entry + 4);
    if (dataSize > kMaxResourceSize) return std::nullopt;
    const auto dataAt = FileOffset(*layout, dataRva, dataSize);
    if (!dataAt || *dataAt + dataSize > file.size) return std::nullopt;
    return ResourceData{*dataAt, dataSize};
}

std::optional<ResourceData> LocateVersion(PeFile& file, DWORD& error) {
    std::optional<ResourceData> data = FindVersionResource(file);
    if (!data) error = win::ERROR_RESOURCE_DATA_NOT_FOUND;
    return data;
}

// Blocks filled by GetFileVersionInfoA and the sizes their callers gave, so
// that a conversion never writes past a block read short.
std::mutex filledBlocksLock;
std::map<const void*, DWORD> filledBlocks;

void RememberBlock(const void* block, DWORD size) {
    std::lock_guard<std::mutex> guard(filledBlocksLock);
    filledBlocks[block] = size;
}

std::optional<DWORD> KnownBlockSize(const void* block) {
    std::lock_guard<std::mutex> guard(filledBlocksLock);
    auto found = filledBlocks.find(block);
    if (found == filledBlocks.end()) return std::nullopt;
    return found->second;
}

// One node of the VS_VERSIONINFO tree, as offsets into the block.
struct Node {
    DWORD start;
    DWORD end;
    WORD valueLength;
    WORD type;  // 1: text (UTF-16 units), 0: binary (bytes)
    std::u16string key;
    DWORD valueStart;
    DWORD childrenStart;
};

DWORD Align4(DWORD offset) {
    return (offset + 3) & ~DWORD{3};
}

std::optional<Node> ReadNode(const BYTE* block, DWORD start, DWORD limit) {
    if (start > limit || limit - start < 6) return std::nullopt;
    Node node{};
    node.start = start;
    const WORD length = Word(block + start);
    if (length < 6 || length > limit - start) return std::nullopt;
    node.end = start + length;
    node.valueLength = Word(block + start + 2);
    node.type = Word(block + start + 4);
    DWORD at = start + 6;
    for (;; at += 2) {
        if (at + 2 > node.end) return std::nullopt;
        const char16_t unit = Word(block + at);
        if (unit == 0) break;
        node.key += unit;
    }
    node.valueStart = std::min(Align4(at + 2), node.end);
    const DWORD valueBytes = node.type == 1 ? DWORD{node.valueLength} * 2 : node.valueLength;
    node.childrenStart = std::min(Align4(node.valueStart + valueBytes), node.end);
    return node;
}

std::optional<Node> FindChild(const BYTE* block, const Node& parent, const std::u16string& key) {
    const std::u16string wanted = winsim::FoldedName(key);
    DWORD at = parent.childrenStart;
    while (at < parent.end) {
        const std::optional<Node> child = ReadNode(block, at, parent.end);
        if (!child) return std::nullopt;
        if (winsim::FoldedName(child->key) == wanted) return child;
        at = Align4(child->end);
    }
    return std::nullopt;
}

std::vector<std::u16string> PathComponents(const std::string& subBlock) {
    std::vector<std::u16string> parts;
    std::size_t pos = 0;
    while (pos <= subBlock.size()) {
        std::size_t end = subBlock.find('\\', pos);
        if (end == std::string::npos) end = subBlock.size();
        if (end > pos) parts.push_back(winsim::Cp1251ToUtf16(subBlock.substr(pos, end - pos)));
        pos = end + 1;
    }
    return parts;
}

BOOL NotFound(UINT* length) {
    if (length != nullptr) *length = 0;
    winsim::SetLastErrorCode(win::ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL Failed(DWORD code) {
    winsim::SetLastErrorCode(code);
    return 0;
}

// A text value converted to the machine's ANSI code page in the block's
// spare room.
BOOL ReturnText(BYTE* block, DWORD blockLength, const Node& node, void** buffer, UINT* length) {
    const DWORD units = std::min<DWORD>(node.valueLength, (node.end - node.valueStart) / 2);
    BYTE* text = block + blockLength + 4 + node.valueStart;
    if (units == 0) {
        *buffer = text;
        if (length != nullptr) *length = 0;
        winsim::SetLastErrorCode(win::ERROR_INVALID_PARAMETER);
        return 1;
    }
    std::u16string wide;
    for (DWORD i = 0; i < units; ++i)
        wide += static_cast<char16_t>(Word(block + node.valueStart + 2 * i));
    const std::string ansi = winsim::Utf16ToCodePage(wide, winsim::AnsiCodePage());

    const DWORD needed = blockLength + 4 + node.valueStart + static_cast<DWORD>(ansi.size());
    if (const std::optional<DWORD> known = KnownBlockSize(block)) {
        if (needed > *known) return Failed(win::ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(text, ansi.data(), ansi.size());
    } else {
        // A block we didn't fill: only one that carries the signature of the
        // spare room is written to.
        if (std::memcmp(block + blockLength, kSpareSignature, 4) != 0)
            return Failed(win::ERROR_INVALID_PARAMETER);
        std::memcpy(text, ansi.data(), ansi.size());
    }
    *buffer = text;
    if (length != nullptr) *length = static_cast<UINT>(ansi.size());
    return 1;
}

}  // namespace

namespace win {

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle) {
    if (handle != nullptr) *handle = 0;
    DWORD error = 0;
    if (winsim::InjectedFailure("GetFileVersionInfoSizeA", error)) return Failed(error);
    std::optional<PeFile> file = OpenFile(fileName, error, true);
    if (!file) return Failed(error);
    const std::optional<ResourceData> data = LocateVersion(*file, error);
    if (!data) return Failed(error);
    winsim::SetLastErrorCode(ERROR_SUCCESS);
    return data->size * 2 + 4;
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD /*handle*/, DWORD size, void* data) {
    DWORD error = 0;
    if (winsim::InjectedFailure("GetFileVersionInfoA", error)) return Failed(error);
    if (data == nullptr && size != 0) return Failed(ERROR_INVALID_PARAMETER);
    std::optional<PeFile> file = OpenFile(fileName, error, false);
    if (!file) return Failed(error);
    const std::optional<ResourceData> resource = LocateVersion(*file, error);
    if (!resource) return Failed(error);

    const DWORD copied = std::min(size, resource->size);
    std::vector<BYTE> bytes(copied);
    if (!ReadAt(*file, resource->fileOffset, bytes.data(), bytes.size()))
        return Failed(ERROR_RESOURCE_DATA_NOT_FOUND);
    BYTE* block = static_cast<BYTE*>(data);
    if (copied > 0) std::memcpy(block, bytes.data(), copied);
    if (size >= resource->size && size - resource->size >= 4)
        std::memcpy(block + resource->size, kSpareSignature, 4);
    if (block != nullptr) RememberBlock(block, size);
    winsim::SetLastErrorCode(ERROR_SUCCESS);
    return 1;
}

BOOL VerQueryValueA(const void* block, LPCSTR subBlock, void** buffer, UINT* length) {
    DWORD error = 0;
    if (winsim::InjectedFailure("VerQueryValueA", error)) {
        if (length != nullptr) *length = 0;
        return Failed(error);
    }
    if (block == nullptr || subBlock == nullptr || buffer == nullptr)
        return Failed(ERROR_INVALID_PARAMETER);
    BYTE* bytes = static_cast<BYTE*>(const_cast<void*>(block));

    // The tree lies within wLength, and within what was filled when we know it.
    const std::optional<DWORD> known = KnownBlockSize(block);
    if (known && *known < 6) return NotFound(length);
    DWORD limit = Word(bytes);
    if (known) limit = std::min(limit, *known);
    std::optional<Node> node = ReadNode(bytes, 0, limit);
    if (!node) return NotFound(length);
    const DWORD blockLength = node->end;
    for (const std::u16string& part : PathComponents(subBlock)) {
        node = FindChild(bytes, *node, part);
        if (!node) return NotFound(length);
    }

    if (node->type == 1) return ReturnText(bytes, blockLength, *node, buffer, length);
    *buffer = bytes + node->valueStart;
    if (length != nullptr)
        *length = std::min<DWORD>(node->valueLength, node->end - node->valueStart);
    return 1;
}

}  // namespace win
