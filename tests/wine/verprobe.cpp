// What the version services give for files and sub-blocks, as plain text, so
// that the simulated machine (verprobe_sim) and the real services under Wine
// (verprobe_real) can be compared line by line.
//
//   verprobe --file PATH [SUB-BLOCK...] [--file PATH [SUB-BLOCK...]]...
//
// Paths and sub-blocks are Windows-1251, as the kit passes them.
#include "winapi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr win::DWORD kErrorMarker = 12345;
constexpr win::DWORD kHandleMarker = 0xDEADBEEF;
constexpr win::UINT kLengthMarker = 0xDEADBEEF;
// Room given to GetFileVersionInfoA when the size query failed.
constexpr win::DWORD kFallbackSize = 64;
constexpr unsigned char kFill = 0xCC;

void PrintHex(const char* label, const unsigned char* bytes, std::size_t count)
{
    std::printf("%s %zu", label, count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 32 == 0)
            std::printf("\n ");
        std::printf(" %02x", bytes[i]);
    }
    std::printf("\n");
}

void PrintQuery(const unsigned char* block, win::DWORD size, const std::string& subBlock)
{
    PrintHex("query", reinterpret_cast<const unsigned char*>(subBlock.data()), subBlock.size());
    void* buffer = nullptr;
    win::UINT length = kLengthMarker;
    win::SetLastError(kErrorMarker);
    const win::BOOL found = win::VerQueryValueA(block, subBlock.c_str(), &buffer, &length);
    const win::DWORD error = win::GetLastError();
    std::printf("found %d length %x error %lu\n", found, length, static_cast<unsigned long>(error));
    if (buffer == nullptr) {
        std::printf("buffer untouched\n");
        return;
    }
    const auto* value = static_cast<const unsigned char*>(buffer);
    if (value < block || value > block + size) {
        std::printf("buffer outside the block\n");
        return;
    }
    const std::size_t offset = static_cast<std::size_t>(value - block);
    std::printf("buffer at %zu\n", offset);
    if (found && length != kLengthMarker && length <= size - offset)
        PrintHex("value", value, length);
}

void ProbeFile(const std::string& path, const std::vector<std::string>& subBlocks)
{
    PrintHex("file", reinterpret_cast<const unsigned char*>(path.data()), path.size());
    win::DWORD handle = kHandleMarker;
    win::SetLastError(kErrorMarker);
    const win::DWORD size = win::GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::printf("size %lu handle %lx error %lu\n", static_cast<unsigned long>(size),
                static_cast<unsigned long>(handle), static_cast<unsigned long>(win::GetLastError()));

    const win::DWORD room = size != 0 ? size : kFallbackSize;
    std::vector<unsigned char> block(room, kFill);
    win::SetLastError(kErrorMarker);
    const win::BOOL read = win::GetFileVersionInfoA(path.c_str(), 0, room, block.data());
    std::printf("read %d error %lu\n", read, static_cast<unsigned long>(win::GetLastError()));
    if (!read)
        return;
    PrintHex("block", block.data(), block.size());
    for (const std::string& subBlock : subBlocks)
        PrintQuery(block.data(), room, subBlock);
    // The text values converted by the queries lie in the block's spare room.
    PrintHex("after", block.data(), block.size());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string path;
    std::vector<std::string> subBlocks;
    bool open = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
            if (open)
                ProbeFile(path, subBlocks);
            path = argv[++i];
            subBlocks.clear();
            open = true;
        } else if (open) {
            subBlocks.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "usage: verprobe --file PATH [SUB-BLOCK...]...\n");
            return 2;
        }
    }
    if (open)
        ProbeFile(path, subBlocks);
    std::fflush(stdout);
    return 0;
}
