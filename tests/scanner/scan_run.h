// Runs the built kestrafin-scan as a user would and splits what it writes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"

namespace kestrafin::testing {

struct ScanRun {
    std::string out;
    std::string err;
    int status = -1;
};

// The scanner to start, as user "nobody" when `ordinary` is set and the
// tests run as root: then a copy in a folder anyone may enter, made once,
// since a build inside root's home (a checkout in /root) is out of nobody's
// reach. Called before fork().
inline const char* scanner_to_run(bool ordinary) {
    if (!ordinary || geteuid() != 0) return KESTRAFIN_SCAN;
    static const TempFolder folder;
    static const std::string copy = [] {
        const std::string path = folder / "kestrafin-scan";
        chmod(folder.path().c_str(), 0755);
        std::filesystem::copy_file(KESTRAFIN_SCAN, path);
        chmod(path.c_str(), 0755);
        return path;
    }();
    return copy.c_str();
}

// Becomes user "nobody" in a child that is to start the scanner, when
// `ordinary` is set and the tests run as root; exits the child when it cannot.
inline void become_ordinary_child(bool ordinary) {
    if (ordinary && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
}

// Runs the scanner with `arguments`; as user "nobody" when `ordinary` is set
// and the tests run as root.
inline ScanRun run_scanner(const std::vector<std::string>& arguments, bool ordinary = false) {
    TempFolder capture;
    const std::string out = capture / "out", err = capture / "err";
    const char* scanner = scanner_to_run(ordinary);
    const pid_t child = fork();
    if (child == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
        become_ordinary_child(ordinary);
        std::vector<char*> argv{const_cast<char*>(scanner)};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(scanner, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {read_bytes(out), read_bytes(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// `text` cut at each `end`; the text must end with one.
inline std::vector<std::string> split_at(const std::string& text, char end) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at = text.find(end); at != std::string::npos; at = text.find(end, from)) {
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    if (from != text.size()) ADD_FAILURE() << "output does not end with its terminator";
    return parts;
}

// What `command` writes to standard output, and whether it exited with 0.
inline std::pair<std::string, bool> command_output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    if (pipe == nullptr) return {output, false};
    char block[65536];
    std::size_t got = 0;
    while ((got = fread(block, 1, sizeof block, pipe)) > 0) output.append(block, got);
    return {output, pclose(pipe) == 0};
}

}  // namespace kestrafin::testing
