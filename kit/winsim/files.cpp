// The file services over the machine's drive folders. Read-only is the owner's
// write bit, checked here because root may write anything on the host.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "codepage.h"
#include "machine.h"

namespace fs = std::filesystem;
using win::BOOL;
using win::DWORD;

namespace winsim {
namespace {

// A Windows path taken apart on the host: the folder it lies in and the entry
// in it that matches the last name, if there is one.
struct Located {
    bool folderExists = false;
    fs::path folder;
    std::string givenName;         // UTF-8, as spelled by the caller
    std::optional<fs::path> path;  // the existing entry
};

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::optional<fs::path> MatchingEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::symlink_status(folder / name, error).type() != fs::file_type::not_found && !error)
        return folder / name;
    std::u16string wanted = FoldedName(Utf8ToUtf16(name));
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (FoldedName(Utf8ToUtf16(it->path().filename().string())) == wanted) return it->path();
    return std::nullopt;
}

Located Locate(const char* windowsPath) {
    Located located;
    std::string path = windowsPath == nullptr ? std::string() : windowsPath;
    while (path.size() > 1 && IsSeparator(path.back()) && path[path.size() - 2] != ':')
        path.pop_back();
    size_t cut = path.find_last_of("\\/");
    std::string folderPart;
    std::string name;
    if (cut != std::string::npos) {
        folderPart = path.substr(0, cut + 1);
        name = path.substr(cut + 1);
    } else if (path.size() >= 2 && path[1] == ':') {
        folderPart = path.substr(0, 2);
        name = path.substr(2);
    } else {
        folderPart = ".";
        name = path;
    }
    located.folder = HostPath(folderPart);
    std::error_code error;
    located.folderExists = !located.folder.empty() && fs::is_directory(located.folder, error);
    located.givenName = Cp1251ToUtf8(name);
    if (located.folderExists && !name.empty() && name != "." && name != "..")
        located.path = MatchingEntry(located.folder, located.givenName);
    return located;
}

bool IsFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool IsReadOnly(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

BOOL Fail(DWORD code) {
    SetLastErrorCode(code);
    return 0;
}

DWORD ErrnoCode(int error) {
    switch (error) {
    case ENOENT: return win::ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return win::ERROR_PATH_NOT_FOUND;
    case ENOMEM: return win::ERROR_NOT_ENOUGH_MEMORY;
    default: return win::ERROR_ACCESS_DENIED;
    }
}

// Copies the bytes and the permission bits; errno is left for the caller.
bool CopyContent(const fs::path& from, const fs::path& to) {
    int in = ::open(from.c_str(), O_RDONLY);
    if (in < 0) return false;
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        ::close(in);
        return false;
    }
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) ok = false;
            else done += put;
        }
        if (!ok) break;
    }
    int saved = errno;
    ok = ::fchmod(out, info.st_mode & 07777) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    errno = saved;
    return ok;
}

// A source that must exist as a file: 0 when it does, else the error code.
DWORD SourceProblem(const Located& source) {
    if (!source.folderExists) return win::ERROR_PATH_NOT_FOUND;
    if (!source.path) return win::ERROR_FILE_NOT_FOUND;
    return 0;
}

// ---- searches ----

bool WildcardMatch(const std::u16string& pattern, size_t p, const std::u16string& name, size_t n) {
    while (p < pattern.size()) {
        if (pattern[p] == u'*') {
            for (size_t k = n; k <= name.size(); ++k)
                if (WildcardMatch(pattern, p + 1, name, k)) return true;
            return false;
        }
        if (n >= name.size() || (pattern[p] != u'?' && pattern[p] != name[n])) return false;
        ++p;
        ++n;
    }
    return n == name.size();
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    std::u16string p = FoldedName(Utf8ToUtf16(pattern));
    std::u16string n = FoldedName(Utf8ToUtf16(name));
    // "*.*" asks for every name, dotted or not.
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, u".*") == 0 &&
        n.find(u'.') == std::u16string::npos && WildcardMatch(p.substr(0, p.size() - 2), 0, n, 0))
        return true;
    return WildcardMatch(p, 0, n, 0);
}

struct Search {
    std::vector<win::WIN32_FIND_DATAA> found;
    size_t next = 0;
};

std::set<const Search*>& OpenSearches() {
    static std::set<const Search*> searches;
    return searches;
}

win::FILETIME FileTime(const struct timespec& time) {
    constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
    std::uint64_t ticks = kEpochDifference + static_cast<std::uint64_t>(time.tv_sec) * 10000000ULL +
                          static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

win::WIN32_FIND_DATAA FindData(const fs::path& path, const std::string& name) {
    win::WIN32_FIND_DATAA data{};
    struct stat info {};
    ::stat(path.c_str(), &info);
    if (S_ISDIR(info.st_mode)) data.dwFileAttributes = win::FILE_ATTRIBUTE_DIRECTORY;
    else if ((info.st_mode & S_IWUSR) == 0) data.dwFileAttributes = win::FILE_ATTRIBUTE_READONLY;
    else data.dwFileAttributes = win::FILE_ATTRIBUTE_ARCHIVE;
    if (!S_ISDIR(info.st_mode)) {
        auto size = static_cast<std::uint64_t>(info.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
    }
    data.ftCreationTime = FileTime(info.st_ctim);
    data.ftLastAccessTime = FileTime(info.st_atim);
    data.ftLastWriteTime = FileTime(info.st_mtim);
    std::string windowsName = Utf8ToCp1251(name);
    std::size_t length = std::min(windowsName.size(), std::size_t{win::MAX_PATH - 1});
    std::memcpy(data.cFileName, windowsName.data(), length);
    return data;
}

}  // namespace
}  // namespace winsim

namespace win {

using namespace winsim;

BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    DWORD code = 0;
    if (InjectedFailure("CopyFileA", code)) return Fail(code);
    Located source = Locate(existingFileName);
    if (DWORD problem = SourceProblem(source)) return Fail(problem);
    if (IsFolder(*source.path)) return Fail(ERROR_ACCESS_DENIED);
    if (HeldOpen(*source.path)) return Fail(ERROR_SHARING_VIOLATION);
    Located target = Locate(newFileName);
    if (!target.folderExists) return Fail(ERROR_PATH_NOT_FOUND);
    if (target.givenName.empty()) return Fail(ERROR_ACCESS_DENIED);
    if (target.path) {
        if (failIfExists) return Fail(ERROR_FILE_EXISTS);
        if (IsFolder(*target.path) || IsReadOnly(*target.path)) return Fail(ERROR_ACCESS_DENIED);
        if (HeldOpen(*target.path)) return Fail(ERROR_SHARING_VIOLATION);
    }
    fs::path to = target.path ? *target.path : target.folder / target.givenName;
    std::error_code error;
    if (target.path && fs::equivalent(*source.path, to, error))
        return Fail(ERROR_SHARING_VIOLATION);  // a file can't be copied onto itself
    if (!CopyContent(*source.path, to)) return Fail(ErrnoCode(errno));
    return 1;
}

BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
    DWORD code = 0;
    if (InjectedFailure("MoveFileA", code)) return Fail(code);
    Located source = Locate(existingFileName);
    if (DWORD problem = SourceProblem(source)) return Fail(problem);
    if (HeldOpen(*source.path)) return Fail(ERROR_SHARING_VIOLATION);
    Located target = Locate(newFileName);
    if (!target.folderExists) return Fail(ERROR_PATH_NOT_FOUND);
    if (target.givenName.empty()) return Fail(ERROR_ACCESS_DENIED);
    bool sameEntry = target.path && target.path->parent_path() == source.path->parent_path() &&
                     target.path->filename() == source.path->filename();
    if (target.path && !sameEntry) return Fail(ERROR_ALREADY_EXISTS);
    fs::path to = target.folder / target.givenName;
    if (::rename(source.path->c_str(), to.c_str()) == 0) return 1;
    if (errno != EXDEV || IsFolder(*source.path)) return Fail(ErrnoCode(errno));
    // Another host file system: copy, then remove the original, as MoveFile
    // does between volumes.
    if (!CopyContent(*source.path, to)) {
        DWORD failure = ErrnoCode(errno);
        ::unlink(to.c_str());
        return Fail(failure);
    }
    if (::unlink(source.path->c_str()) != 0) return Fail(ErrnoCode(errno));
    return 1;
}

BOOL DeleteFileA(LPCSTR fileName) {
    DWORD code = 0;
    if (InjectedFailure("DeleteFileA", code)) return Fail(code);
    Located file = Locate(fileName);
    if (DWORD problem = SourceProblem(file)) return Fail(problem);
    if (IsFolder(*file.path)) return Fail(ERROR_ACCESS_DENIED);
    if (HeldOpen(*file.path)) return Fail(ERROR_SHARING_VIOLATION);
    if (IsReadOnly(*file.path)) return Fail(ERROR_ACCESS_DENIED);
    if (::unlink(file.path->c_str()) != 0) return Fail(ErrnoCode(errno));
    return 1;
}

HANDLE FindFirstFileA(LPCSTR fileName, WIN32_FIND_DATAA* findData) {
    DWORD code = 0;
    if (InjectedFailure("FindFirstFileA", code)) {
        SetLastErrorCode(code);
        return INVALID_HANDLE_VALUE;
    }
    Located where = Locate(fileName);
    if (!where.folderExists) {
        SetLastErrorCode(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_unique<Search>();
    bool isRoot = where.folder == where.folder.root_path() ||
                  where.folder.filename().string().starts_with("drive_");
    if (!isRoot) {
        for (const char* dot : {".", ".."})
            if (NameMatches(where.givenName, dot))
                search->found.push_back(FindData(where.folder / dot, dot));
    }
    std::error_code error;
    for (fs::directory_iterator it(where.folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (NameMatches(where.givenName, name)) search->found.push_back(FindData(it->path(), name));
    }
    if (search->found.empty()) {
        SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (findData != nullptr) *findData = search->found[0];
    search->next = 1;
    Search* handle = search.release();
    OpenSearches().insert(handle);
    return handle;
}

BOOL FindClose(HANDLE findFile) {
    DWORD code = 0;
    if (InjectedFailure("FindClose", code)) return Fail(code);
    auto* search = static_cast<Search*>(findFile);
    if (OpenSearches().erase(search) == 0) return Fail(ERROR_INVALID_HANDLE);
    delete search;
    return 1;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    DWORD code = 0;
    if (InjectedFailure("GetWindowsDirectoryA", code)) {
        SetLastErrorCode(code);
        return 0;
    }
    std::string folder = WindowsFolder();
    auto length = static_cast<UINT>(folder.size());
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return length;
}

}  // namespace win
