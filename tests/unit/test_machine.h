// A fresh simulated machine for one test: a temporary directory that the
// simulated services use, with helpers to set it up and read it back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "machine.h"

// UTF-8 text written in the source, whatever the execution character set.
inline std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// One line of boxes.log.
struct LoggedBox {
    std::string caption;  // UTF-8
    std::string text;     // UTF-8
    int style = -1;
    std::string answer;
};

// Reads the fields of one boxes.log line (the JSON the machine writes).
inline LoggedBox ParseBox(const std::string& line) {
    auto stringField = [&](const std::string& key) {
        std::string value;
        auto at = line.find("\"" + key + "\":\"");
        if (at == std::string::npos) return value;
        for (at += key.size() + 4; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] != '\\') {
                value += line[at];
                continue;
            }
            const char escaped = line[++at];
            if (escaped == 'r') value += '\r';
            else if (escaped == 'n') value += '\n';
            else if (escaped == 't') value += '\t';
            else if (escaped == 'u') {
                value += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
                at += 4;
            } else value += escaped;
        }
        return value;
    };
    LoggedBox box{stringField("caption"), stringField("text"), -1, stringField("answer")};
    const auto style = line.find("\"style\":");
    if (style != std::string::npos) box.style = std::stoi(line.substr(style + 8));
    return box;
}

class TestMachine {
public:
    TestMachine() {
        char pattern[] = "/tmp/velkor-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no directory for the test machine");
        root_ = pattern;
        setenv("WINSIM_MACHINE", root_.c_str(), 1);
        // The test program's own command line unless a test plans one.
        unsetenv("WINSIM_COMMAND_LINE");
        std::filesystem::create_directories(root_ / "drive_c");
        winsim::ReloadMachine();
    }
    ~TestMachine() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        unsetenv("WINSIM_COMMAND_LINE");
        // Nothing read from this machine outlives it.
        winsim::ReloadMachine();
    }
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    const std::filesystem::path& root() const { return root_; }

    // Writes a machine file as given (registry.reg is Windows-1251).
    void Write(const std::string& name, const std::string& content) {
        std::ofstream(root_ / name, std::ios::binary) << content;
        winsim::ReloadMachine();
    }

    // Makes language (four hex digits, "0409") the system language; the
    // registry holds nothing else.
    void SetSystemLanguage(const std::string& language) {
        Write("registry.reg",
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\r\n"
              "\"Default\"=\"" + language + "\"\r\n");
    }

    // A file on drive C:, given relative to its root with "/".
    std::filesystem::path OnDriveC(const std::string& relative) {
        const auto path = root_ / "drive_c" / relative;
        std::filesystem::create_directories(path.parent_path());
        return path;
    }

    // The boxes shown so far.
    std::vector<LoggedBox> Boxes() const {
        std::vector<LoggedBox> boxes;
        std::ifstream log(root_ / "boxes.log");
        for (std::string line; std::getline(log, line);) boxes.push_back(ParseBox(line));
        return boxes;
    }

private:
    std::filesystem::path root_;
};
