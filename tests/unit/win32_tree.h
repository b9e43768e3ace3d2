// The tree fixture of the Windows build (see tree.h), for runs under Wine
// through tools/wine-run.sh. Each test gets a throw-away directory whose
// c and d directories become drives C and D: the fixture points the
// prefix's drive links (dosdevices/c: and d:) at them, and back at the
// end. The system's files stay where they were, loaded before; TEMP and TMP
// point into the tree for the test's own temporary files. Tests sharing a
// prefix must not run at once (CMake gives them one lock). Outside Wine
// the tests are skipped: a real machine's drives are not ours to move.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <io.h>
#include <string>

#include "platform/platform.h"
#include "runfs/runfs.h"

inline bool under_wine_test(void) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Runs a Unix command line under /bin/sh, as Wine starts Unix programs,
// and waits until it has ended: Wine cannot wait for a Unix process, so the
// script leaves a mark in /tmp (drive Z is the root) when it is done. 1 when
// it ran.
inline bool unix_sh(const std::string &script) {
    static int serial;
    std::string mark = "/tmp/moxsh" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(++serial);
    std::string cmd = "/bin/sh -c \"" + script + "; : > '" + mark + "'\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA("Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::string seen = "Z:" + mark;
    for (int waited = 0; waited < 20000; waited += 5) {
        if (GetFileAttributesA(seen.c_str()) != INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(seen.c_str());
            return true;
        }
        Sleep(5);
    }
    return false;
}

// The Unix path Wine gives a Windows one; "" when it has none.
inline std::string unix_path(const std::string &path) {
    typedef char *(__cdecl * UnixName)(const wchar_t *);
    UnixName fn = (UnixName)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                     "wine_get_unix_file_name");
    std::wstring w = std::filesystem::absolute(path).wstring();
    char *u = fn != nullptr ? fn(w.c_str()) : nullptr;
    if (u == nullptr)
        return "";
    std::string out = u;
    HeapFree(GetProcessHeap(), 0, u);
    return out;
}

class TreeTest : public ::testing::Test {
protected:
    std::string top;  // the temporary directory itself
    std::string c, d; // the directories of drives C and D

    void SetUp() override {
        if (!under_wine_test())
            GTEST_SKIP() << "drives are the machine's own: run under tools/wine-run.sh";
        // The prefix holds drive C's directory: <prefix>/drive_c.
        std::string uc = unix_path("C:\\");
        size_t cut = uc.find("/dosdevices/");
        if (cut == std::string::npos)
            cut = uc.rfind("/drive_c");
        ASSERT_NE(cut, std::string::npos) << uc;
        prefix_ = uc.substr(0, cut);
        // The tree lies in /tmp, reached through drive Z (the root), which
        // stays where it is while C and D move.
        static int serial;
        utop_ = "/tmp/moxtree" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++serial);
        top = "Z:" + windows(utop_);
        for (const char *sub : {"", "\\c", "\\d", "\\tmp"})
            ASSERT_TRUE(CreateDirectoryA((top + sub).c_str(), nullptr)) << top << sub;
        std::string ut = utop_;
        oldCwd = std::filesystem::current_path().string();
        SetCurrentDirectoryA((top + "\\tmp").c_str()); // off C before it moves
        moved_ = true;
        ASSERT_TRUE(relink(ut + "/c", ut + "/d")) << "cannot point drives C and D at " << ut;
        c = "C:";
        d = "D:";
        oldTemp = getenv_or("TEMP");
        oldTmp = getenv_or("TMP");
        std::string tmp = "Z:" + windows(ut) + "\\tmp";
        SetEnvironmentVariableA("TEMP", tmp.c_str());
        SetEnvironmentVariableA("TMP", tmp.c_str());
        cd(c);
        runfs_choose(0); // what an echo run of an earlier test would have done
    }

    void TearDown() override {
        if (!moved_)
            return;
        SetCurrentDirectoryA(top.c_str());
        relink("../drive_c", "../drive_d");
        SetEnvironmentVariableA("TEMP", oldTemp.c_str());
        SetEnvironmentVariableA("TMP", oldTmp.c_str());
        SetCurrentDirectoryA(oldCwd.c_str());
        plat_reload();
        unix_sh("chmod -R u+rwX '" + utop_ + "'; rm -rf '" + utop_ + "'");
    }

    // Works in a directory of the tree from now on ("C:" is C's root).
    void cd(const std::string &native) {
        std::string dir = native.size() == 2 ? native + "\\" : native;
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str())) << native;
        plat_reload();
    }

    // Path of a name relative to drive C's root. Names are UTF-8, as the
    // tests spell them for the posix build; the helpers below read them so.
    std::string at(const std::string &rel) const { return c + "/" + rel; }
    std::filesystem::path wat(const std::string &rel) const {
        return std::filesystem::u8path(at(rel));
    }

    void mkdir(const std::string &rel) { std::filesystem::create_directories(wat(rel)); }

    void file(const std::string &rel, size_t size = 0) {
        std::filesystem::create_directories(wat(rel).parent_path());
        std::ofstream(wat(rel), std::ios::binary) << std::string(size, 'x');
    }

    bool exists(const std::string &rel) const {
        std::error_code ec;
        return std::filesystem::symlink_status(wat(rel), ec).type() !=
               std::filesystem::file_type::not_found;
    }

    // Makes a symbolic link at `path` to `target`. Wine's own call does
    // nothing; the system's ln does.
    static bool symlink(const std::string &target, const std::string &path) {
        std::string t = unix_path(target), p = unix_path(path);
        return !t.empty() && !p.empty() && unix_sh("ln -s '" + t + "' '" + p + "'");
    }

private:
    std::string oldCwd, oldTemp, oldTmp, prefix_, utop_;
    bool moved_ = false;

    static std::string getenv_or(const char *name) {
        const char *v = std::getenv(name);
        return v != nullptr ? v : "";
    }

    static std::string windows(std::string unix) {
        for (char &ch : unix)
            if (ch == '/')
                ch = '\\';
        return unix;
    }

    bool relink(const std::string &cdir, const std::string &ddir) {
        std::string dev = prefix_ + "/dosdevices/";
        return unix_sh("ln -sfn '" + cdir + "' '" + dev + "c:' && ln -sfn '" + ddir + "' '" + dev +
                       "d:'");
    }
};

// Catches what the core prints on one standard stream: the C runtime
// points the system's standard handle at the file too.
class Capture {
public:
    explicit Capture(int fd) : fd_(fd) {
        std::fflush(nullptr);
        // tmpfile() would write into the root of the current drive.
        static int serial;
        name_ = (std::filesystem::temp_directory_path() /
                 ("moxcapture" + std::to_string(GetCurrentProcessId()) + "_" +
                  std::to_string(++serial)))
                    .string();
        std::FILE *f = std::fopen(name_.c_str(), "w+b");
        tmp_ = f;
        saved_ = ::_dup(fd);
        ::_dup2(::_fileno(f), fd);
    }
    ~Capture() { text(); }
    // Everything printed since the start; ends the capture.
    std::string text() {
        if (saved_ >= 0) {
            std::fflush(nullptr);
            ::_dup2(saved_, fd_);
            ::_close(saved_);
            saved_ = -1;
            std::rewind(tmp_);
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, tmp_)) > 0)
                out_.append(buf, n);
            std::fclose(tmp_);
            std::remove(name_.c_str());
        }
        return out_;
    }

private:
    int fd_, saved_ = -1;
    std::FILE *tmp_ = nullptr;
    std::string name_, out_;
};
