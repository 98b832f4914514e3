// Version resources of the simulated machine, read from the fixture DLLs that
// the build makes from tests/fixtures/*.rc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"
#include "test_machine.h"
#include "winapi.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

const char* const kFileVersion = "\\StringFileInfo\\040904E4\\FileVersion";

std::vector<BYTE> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<BYTE>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

WORD Word(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}
DWORD Dword(const BYTE* p) {
    return Word(p) | (static_cast<DWORD>(Word(p + 2)) << 16);
}

class Version : public ::testing::Test {
protected:
    // Copies a fixture DLL to C:\BDE\<name> and returns its Windows path.
    std::string Install(const std::string& fixture, const std::string& name = "") {
        const std::string target = name.empty() ? fixture : name;
        fs::copy_file(fs::path(FIXTURE_DIR) / fixture, machine_.OnDriveC("BDE/" + target),
                      fs::copy_options::overwrite_existing);
        return "C:\\BDE\\" + target;
    }
    fs::path HostFile(const std::string& name) { return machine_.OnDriveC("BDE/" + name); }

    // The whole block, read with the size the service asks for.
    std::vector<BYTE> Block(const std::string& path) {
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
        EXPECT_NE(size, 0u) << path << " error " << GetLastError();
        std::vector<BYTE> block(size, 0xCC);
        EXPECT_NE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()), 0) << path;
        return block;
    }

    TestMachine machine_;
};

struct Query {
    void* value = nullptr;
    UINT length = 0;
    BOOL found = 0;
};

Query Ask(std::vector<BYTE>& block, const std::string& subBlock) {
    Query q;
    q.found = VerQueryValueA(block.data(), subBlock.c_str(), &q.value, &q.length);
    return q;
}

// ---------------------------------------------------------------------------

struct StringCase {
    const char* fixture;
    const char* subBlock;
    std::string expected;  // without the NUL the length counts
};

TEST_F(Version, StringValuesComeBackAsAnsiInTheSpareRoom) {
    const StringCase cases[] = {
        {"bde5.dll", kFileVersion, "5.2.0.2"},
        {"bde5_64.dll", kFileVersion, "5.2.0.2"},
        {"bde5.dll", "\\StringFileInfo\\040904E4\\CompanyName", "Fixture Works"},
        {"ver451.dll", kFileVersion, "4.51"},
        {"russian.dll", "\\StringFileInfo\\041904E3\\FileVersion", "5.1.0.4"},
        {"mismatch.dll", kFileVersion, "5.2.0.2"},
        {"notrans.dll", kFileVersion, "5.0.1.0"},
        {"notrans_ru.dll", "\\StringFileInfo\\041904E4\\FileVersion", "5.0.2.0"},
        {"emptyver.dll", kFileVersion, ""},
        {"longver.dll", kFileVersion, "123456789012345678901234567890"},
        {"spacever.dll", kFileVersion, " 5.2.0.2"},
        // Names match without regard to case, and separators are forgiving.
        {"bde5.dll", "\\StringfileInfo\\040904e4\\FILEVERSION", "5.2.0.2"},
        {"bde5_64.dll", "\\StringfileInfo\\040904E4\\FileVersion", "5.2.0.2"},
        {"bde5.dll", "StringFileInfo\\040904E4\\FileVersion", "5.2.0.2"},
        {"bde5.dll", "\\\\StringFileInfo\\\\040904E4\\FileVersion\\", "5.2.0.2"},
    };
    for (const StringCase& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + c.subBlock);
        std::vector<BYTE> block = Block(Install(c.fixture));
        ASSERT_FALSE(block.empty());
        SetLastError(77);
        const Query q = Ask(block, c.subBlock);
        ASSERT_NE(q.found, 0);
        EXPECT_EQ(GetLastError(), 77u);
        ASSERT_EQ(q.length, c.expected.size() + 1);
        EXPECT_EQ(std::string(static_cast<const char*>(q.value), q.length), c.expected + '\0');
        // The copy lies past the resource and its signature, as far in as the
        // UTF-16 text lies in the resource.
        const WORD resourceLength = Word(block.data());
        const BYTE* at = static_cast<const BYTE*>(q.value);
        ASSERT_LE(at + q.length, block.data() + block.size());
        if (c.expected.empty()) continue;
        std::vector<BYTE> wide;
        for (char ch : c.expected) wide.insert(wide.end(), {static_cast<BYTE>(ch), 0});
        const auto utf16 =
            std::search(block.begin(), block.begin() + resourceLength, wide.begin(), wide.end());
        ASSERT_NE(utf16, block.begin() + resourceLength);
        EXPECT_EQ(at - block.data(), resourceLength + 4 + (utf16 - block.begin()));
    }
}

TEST_F(Version, TextsAreConvertedToTheSystemCodePage) {
    struct {
        const char* language;
        std::string expected;
    } const cases[] = {
        {"0419", "Ресурсы БД"},  // Windows-1251 bytes: the source is compiled for it
        {"0409", "??????? ??"},  // nothing Cyrillic in Windows-1252
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        machine_.SetSystemLanguage(c.language);
        std::vector<BYTE> block = Block(Install("russian.dll"));
        const Query q = Ask(block, "\\StringFileInfo\\041904E3\\FileDescription");
        ASSERT_NE(q.found, 0);
        ASSERT_EQ(q.length, c.expected.size() + 1);
        EXPECT_EQ(std::string(static_cast<const char*>(q.value)), c.expected);
    }
}

TEST_F(Version, TranslationTableIsReturnedAsStored) {
    struct {
        const char* fixture;
        std::vector<BYTE> expected;
    } const cases[] = {
        {"bde5.dll", {0x09, 0x04, 0xE4, 0x04}},
        {"bde5_64.dll", {0x09, 0x04, 0xE4, 0x04}},
        {"russian.dll", {0x19, 0x04, 0xE3, 0x04}},
        {"mismatch.dll", {0x09, 0x04, 0xB0, 0x04}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        std::vector<BYTE> block = Block(Install(c.fixture));
        for (const char* name : {"\\VarFileInfo\\Translation", "\\varfileinfo\\TRANSLATION"}) {
            const Query q = Ask(block, name);
            ASSERT_NE(q.found, 0) << name;
            ASSERT_EQ(q.length, 4u);
            const BYTE* value = static_cast<const BYTE*>(q.value);
            EXPECT_EQ(std::vector<BYTE>(value, value + 4), c.expected);
            // Binary values are not copied: they point into the resource itself.
            EXPECT_LT(value + 4, block.data() + Word(block.data()) + 1);
        }
    }
}

TEST_F(Version, FixedFileInfoIsTheRoot) {
    struct {
        const char* fixture;
        DWORD versionMS, versionLS;
    } const cases[] = {
        {"bde5.dll", 0x00050002, 0x00000002},
        {"bde5_64.dll", 0x00050002, 0x00000002},
        {"ver451.dll", 0x00040033, 0x00000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        std::vector<BYTE> block = Block(Install(c.fixture));
        for (const char* root : {"\\", ""}) {
            const Query q = Ask(block, root);
            ASSERT_NE(q.found, 0);
            ASSERT_EQ(q.length, 52u);
            const BYTE* info = static_cast<const BYTE*>(q.value);
            EXPECT_EQ(Dword(info), 0xFEEF04BDu);
            EXPECT_EQ(Dword(info + 8), c.versionMS);
            EXPECT_EQ(Dword(info + 12), c.versionLS);
        }
    }
}

TEST_F(Version, MissingValuesAreNotFound) {
    const struct {
        const char* fixture;
        const char* subBlock;
    } cases[] = {
        {"mismatch.dll", "\\StringFileInfo\\040904B0\\FileVersion"},
        {"notrans.dll", "\\VarFileInfo\\Translation"},
        {"notrans.dll", "\\VarFileInfo"},
        {"notrans_ru.dll", kFileVersion},
        {"russian.dll", kFileVersion},
        {"bde5.dll", "\\StringFileInfo\\040904E4\\ProductName"},
        {"bde5.dll", "\\StringFileInfo\\040904E4\\FileVers"},
        {"bde5.dll", "\\StringFileInfo\\040904E4\\FileVersionX"},
        {"bde5.dll", "\\StringFileInfo\\040904E4\\FileVersion\\More"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + c.subBlock);
        std::vector<BYTE> block = Block(Install(c.fixture));
        int untouched = 0;
        void* value = &untouched;
        UINT length = 99;
        EXPECT_EQ(VerQueryValueA(block.data(), c.subBlock, &value, &length), 0);
        EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(value, &untouched);
    }
}

TEST_F(Version, SubBlockWithoutTextSucceedsEmptyWithError87) {
    std::vector<BYTE> block = Block(Install("bde5.dll"));
    for (const char* sub : {"\\StringFileInfo", "\\StringFileInfo\\040904E4", "\\VarFileInfo"}) {
        SetLastError(0);
        const Query q = Ask(block, sub);
        EXPECT_NE(q.found, 0) << sub;
        EXPECT_EQ(q.length, 0u) << sub;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << sub;
    }
}

TEST_F(Version, TheSystemLanguagePicksAmongVersionResources) {
    const struct {
        const char* fixture;
        const char* system;
        std::vector<BYTE> translation;
        std::string version;
    } cases[] = {
        {"langs.dll", "0419", {0x19, 0x04, 0xE3, 0x04}, "1.0.0.25"},
        {"langs.dll", "0409", {0x09, 0x04, 0xE4, 0x04}, "1.0.0.9"},
        {"langs.dll", "0407", {0x07, 0x04, 0xE4, 0x04}, "1.0.0.7"},
        // Not listed: US English rather than the first one listed.
        {"langs.dll", "0410", {0x09, 0x04, 0xE4, 0x04}, "1.0.0.9"},
        {"langs.dll", "0819", {0x09, 0x04, 0xE4, 0x04}, "1.0.0.9"},
        // Neither listed nor English: the one there is.
        {"russian.dll", "0409", {0x19, 0x04, 0xE3, 0x04}, "5.1.0.4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " on " + c.system);
        machine_.SetSystemLanguage(c.system);
        std::vector<BYTE> block = Block(Install(c.fixture));
        const Query translation = Ask(block, "\\VarFileInfo\\Translation");
        ASSERT_EQ(translation.length, 4u);
        const BYTE* t = static_cast<const BYTE*>(translation.value);
        ASSERT_EQ(std::vector<BYTE>(t, t + 4), c.translation);
        char name[64];
        std::snprintf(name, sizeof name, "\\StringFileInfo\\%02X%02X%02X%02X\\FileVersion", t[1],
                      t[0], t[3], t[2]);
        const Query version = Ask(block, name);
        ASSERT_NE(version.found, 0) << name;
        EXPECT_EQ(std::string(static_cast<const char*>(version.value)), c.version);
    }
}

// ---------------------------------------------------------------------------

struct ErrorCase {
    const char* what;
    std::string path;
    DWORD sizeError;
    DWORD blockError;
};

TEST_F(Version, ErrorCodesOfBothReads) {
    Install("bde5.dll");
    Install("nores.dll");
    Install("nores_64.dll");
    Install("strings.dll");
    Install("othername.dll");
    std::ofstream(HostFile("readme.txt")) << "not a program\r\n";
    WriteBytes(HostFile("mzonly.dll"), {'M', 'Z'});
    WriteBytes(HostFile("empty.dll"), {});
    std::vector<BYTE> head = FileBytes(fs::path(FIXTURE_DIR) / "bde5.dll");
    head.resize(600);
    WriteBytes(HostFile("cut.dll"), head);

    const ErrorCase cases[] = {
        {"missing file", "C:\\BDE\\missing.dll", 2, 2},
        {"missing folder", "C:\\NoSuchDir\\bde5.dll", 3, 3},
        {"file in place of a folder", "C:\\BDE\\bde5.dll\\x.dll", 3, 3},
        {"unknown drive", "Q:\\bde5.dll", 2, 2},
        {"a folder", "C:\\BDE", 5, 5},
        {"wildcard", "C:\\BDE\\*.dll", 123, 123},
        {"empty name", "", 161, 3},
        {"no resources", "C:\\BDE\\nores.dll", 1812, 1812},
        {"no resources, PE32+", "C:\\BDE\\nores_64.dll", 1812, 1812},
        {"no version resource", "C:\\BDE\\strings.dll", 1812, 1812},
        {"version resource not named 1", "C:\\BDE\\othername.dll", 1812, 1812},
        {"text file", "C:\\BDE\\readme.txt", 1812, 1812},
        {"MZ alone", "C:\\BDE\\mzonly.dll", 1812, 1812},
        {"empty file", "C:\\BDE\\empty.dll", 1812, 1812},
        {"cut short", "C:\\BDE\\cut.dll", 1812, 1812},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD handle = 0xDEAD;
        SetLastError(0);
        EXPECT_EQ(GetFileVersionInfoSizeA(c.path.c_str(), &handle), 0u);
        EXPECT_EQ(GetLastError(), c.sizeError);
        EXPECT_EQ(handle, 0u);

        std::vector<BYTE> block(64, 0xCC);
        SetLastError(0);
        EXPECT_EQ(GetFileVersionInfoA(c.path.c_str(), 0, 64, block.data()), 0);
        EXPECT_EQ(GetLastError(), c.blockError);
        EXPECT_EQ(block, std::vector<BYTE>(64, 0xCC));
    }
}

TEST_F(Version, HeldFileCannotBeRead) {
    const std::string held = Install("bde5.dll");
    const std::string other = Install("bde5.dll", "other.dll");
    machine_.Write("held_files", "c:\\bde\\BDE5.DLL\n");
    std::vector<BYTE> block(700);
    EXPECT_EQ(GetFileVersionInfoSizeA(held.c_str(), nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(GetFileVersionInfoA(held.c_str(), 0, 700, block.data()), 0);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_NE(GetFileVersionInfoSizeA(other.c_str(), nullptr), 0u);
}

TEST_F(Version, InjectedFailuresComeFirst) {
    const std::string path = Install("bde5.dll");
    std::vector<BYTE> block = Block(path);
    machine_.Write("failures",
                   "GetFileVersionInfoSizeA 5\nGetFileVersionInfoA 8\nVerQueryValueA 14\n");

    DWORD handle = 0xDEAD;
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u);
    EXPECT_EQ(GetLastError(), 5u);
    std::vector<BYTE> fresh(block.size(), 0xCC);
    EXPECT_EQ(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(fresh.size()), fresh.data()),
              0);
    EXPECT_EQ(GetLastError(), 8u);
    EXPECT_EQ(fresh, std::vector<BYTE>(block.size(), 0xCC));
    EXPECT_EQ(Ask(block, kFileVersion).found, 0);
    EXPECT_EQ(GetLastError(), 14u);
}

// ---------------------------------------------------------------------------

TEST_F(Version, SizeIsTwiceTheResourceAndFour) {
    for (const char* fixture : {"bde5.dll", "bde5_64.dll", "ver451.dll", "russian.dll",
                                "notrans.dll", "emptyver.dll", "longver.dll", "langs.dll"}) {
        SCOPED_TRACE(fixture);
        const std::string path = Install(fixture);
        DWORD handle = 0xDEAD;
        SetLastError(77);
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_EQ(handle, 0u);
        std::vector<BYTE> block(size + 16, 0xCC);
        SetLastError(77);
        ASSERT_NE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()), 0);
        EXPECT_EQ(GetLastError(), 0u);

        const WORD length = Word(block.data());
        EXPECT_EQ(size, 2u * length + 4);
        // The resource as the file holds it, then the signature, then room.
        const std::vector<BYTE> file = FileBytes(fs::path(FIXTURE_DIR) / fixture);
        const std::vector<BYTE> resource(block.begin(), block.begin() + length);
        EXPECT_NE(std::search(file.begin(), file.end(), resource.begin(), resource.end()),
                  file.end());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + length, 4), "FE2X");
        EXPECT_EQ(std::vector<BYTE>(block.begin() + length + 4, block.end()),
                  std::vector<BYTE>(block.size() - length - 4, 0xCC));
    }
}

TEST_F(Version, ShortBlocksAreFilledOnlyAsFarAsGiven) {
    const std::string path = Install("bde5.dll");
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    const DWORD length = (size - 4) / 2;
    const std::vector<BYTE> full = Block(path);

    const struct {
        DWORD given;
        bool signature;
    } cases[] = {{0, false},      {2, false},          {100, false},
                 {length, false}, {length + 3, false}, {length + 4, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        std::vector<BYTE> block(size + 16, 0xCC);
        ASSERT_NE(GetFileVersionInfoA(path.c_str(), 0, c.given, block.data()), 0);
        const DWORD copied = std::min(c.given, length);
        EXPECT_TRUE(std::equal(block.begin(), block.begin() + copied, full.begin()));
        const DWORD written = copied + (c.signature ? 4 : 0);
        EXPECT_EQ(std::vector<BYTE>(block.begin() + written, block.end()),
                  std::vector<BYTE>(block.size() - written, 0xCC));

        // A string query must not write past what the caller said it has.
        void* value = nullptr;
        UINT valueLength = 0;
        VerQueryValueA(block.data(), kFileVersion, &value, &valueLength);
        EXPECT_EQ(std::vector<BYTE>(block.begin() + written, block.end()),
                  std::vector<BYTE>(block.size() - written, 0xCC));
    }
}

// ---------------------------------------------------------------------------

// Offsets of the parts of a fixture that the damage below changes.
struct PeParts {
    DWORD peHeader;
    DWORD sectionCount;   // file offset of NumberOfSections
    DWORD rootDirectory;  // file offset of the resource root directory
    DWORD dataEntry;      // file offset of the version resource's data entry
};

PeParts FindParts(const std::vector<BYTE>& file) {
    PeParts parts{};
    parts.peHeader = Dword(&file[0x3C]);
    parts.sectionCount = parts.peHeader + 6;
    const DWORD optional = parts.peHeader + 24;
    const DWORD optionalSize = Word(&file[parts.peHeader + 20]);
    const DWORD directories = optional + (Word(&file[optional]) == 0x20B ? 112 : 96);
    const DWORD resourceRva = Dword(&file[directories + 16]);
    for (DWORD s = optional + optionalSize;
         s < optional + optionalSize + 40 * Word(&file[parts.sectionCount]); s += 40) {
        if (Dword(&file[s + 12]) != resourceRva) continue;
        parts.rootDirectory = Dword(&file[s + 20]);
    }
    // Type, name and language: the fixtures have one entry at each level.
    DWORD at = parts.rootDirectory;
    for (int level = 0; level < 3; ++level)
        at = parts.rootDirectory + (Dword(&file[at + 16 + 4]) & 0x7FFFFFFF);
    parts.dataEntry = at;
    return parts;
}

TEST_F(Version, DamagedFilesFailWithoutHarm) {
    for (const char* fixture : {"bde5.dll", "bde5_64.dll"}) {
        const std::vector<BYTE> good = FileBytes(fs::path(FIXTURE_DIR) / fixture);
        const PeParts parts = FindParts(good);
        ASSERT_NE(parts.rootDirectory, 0u);
        ASSERT_EQ(Dword(&good[parts.dataEntry + 4]),
                  (GetFileVersionInfoSizeA(Install(fixture).c_str(), nullptr) - 4) / 2)
            << "the data entry was not found in " << fixture;

        const struct {
            const char* what;
            DWORD offset;
            DWORD value;
        } damage[] = {
            {"PE header past the end", 0x3C, 0xFFFFFFF0},
            {"PE header off by one", 0x3C, parts.peHeader + 1},
            {"too many sections", parts.sectionCount, 0xFFFF},
            {"no sections", parts.sectionCount, 0},
            {"huge directory", parts.rootDirectory + 12, 0xFFFFFFFF},
            {"type entry loops to the root", parts.rootDirectory + 20, 0x80000000},
            {"type entry far away", parts.rootDirectory + 20, 0xFFFFFFF0},
            {"resource bigger than the file", parts.dataEntry + 4, 0xFFFFFFF0},
            {"resource outside the sections", parts.dataEntry, 0x7FFFFFF0},
        };
        for (const auto& d : damage) {
            SCOPED_TRACE(std::string(fixture) + ": " + d.what);
            std::vector<BYTE> bad = good;
            std::memcpy(&bad[d.offset], &d.value, 4);
            WriteBytes(HostFile("bad.dll"), bad);
            EXPECT_EQ(GetFileVersionInfoSizeA("C:\\BDE\\bad.dll", nullptr), 0u);
            EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
        }
        for (std::size_t cut : {std::size_t{63}, std::size_t{0x90}, std::size_t{400},
                                std::size_t{parts.rootDirectory + 8},
                                std::size_t{parts.dataEntry + 8}, good.size() - 600}) {
            SCOPED_TRACE(std::string(fixture) + ": cut at " + std::to_string(cut));
            WriteBytes(HostFile("bad.dll"), std::vector<BYTE>(good.begin(), good.begin() + cut));
            EXPECT_EQ(GetFileVersionInfoSizeA("C:\\BDE\\bad.dll", nullptr), 0u);
            EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
        }
    }
}

TEST_F(Version, DamagedBlocksAreNotFound) {
    std::vector<BYTE> block = Block(Install("bde5.dll"));
    const std::vector<BYTE> good = block;
    const struct {
        const char* what;
        std::size_t offset;
        WORD value;
    } damage[] = {
        {"root shorter than its header", 0, 4},
        // 0x5C: the first child, after the root's key and its 52-byte value.
        {"child longer than the root", 0x5C, 0x7FFF},
        {"child shorter than its header", 0x5C, 2},
    };
    for (const auto& d : damage) {
        SCOPED_TRACE(d.what);
        block = good;
        std::memcpy(&block[d.offset], &d.value, 2);
        const Query q = Ask(block, kFileVersion);
        EXPECT_EQ(q.found, 0);
        EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
}

}  // namespace
