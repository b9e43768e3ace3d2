// End-to-end harness: runs a build of mox32 in a throw-away directory tree
// with an environment built from scratch, so a test sees exactly what a user
// would and nothing on the machine running the tests can leak in or be hurt.
//
// The build is the Linux one made with these tests, or the one MOX32_E2E_BIN
// names: a native binary runs as it is, a Win32 mox32.exe runs under Wine
// through wine/run.sh, which maps the sandbox's drives into a Wine prefix of
// its own and converts the program's text so that both builds read and
// write the same bytes (see suite_build).
//
// Layout of a sandbox (all below root()):
//   d/  e/     the directories of drives D and E (MOX32_DRIVES maps them;
//              drive C is left alone, as Wine keeps it for itself)
//   home/      HOME
//   data/      XDG_DATA_HOME (the trash lives below it)
//   tmp/       TEMP and TMPDIR
//   stdout.txt standard output of the last run with stdout_to_file
//
// Set-up failures (a file that cannot be written, a program that cannot be
// started) throw std::runtime_error, which GoogleTest reports as a failure of
// the test that caused it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A build of mox32 that a run can start.
struct Build {
    std::string path;    // the Linux binary, or a Win32 mox32.exe
    bool win32 = false;  // run under Wine through wine/run.sh
};

// The build the suite tests: MOX32_E2E_BIN when it is set (a name ending in
// ".exe" is a Win32 build), else the Linux build made with the tests.
const Build &suite_build();
// The Linux build made with the tests.
const Build &linux_build();
// The Win32 build for the checks that compare both builds: MOX32_E2E_EXE,
// else the suite's build when it is one, else the cross-build beside this
// build tree. Null when it is missing or cannot run here, with why in *why.
const Build *win32_build(std::string *why);

// Why a Win32 program at path cannot run here, or "" when it can.
std::string why_win32_cannot_run(const std::string &path);

// Skips the rest of a test on the Win32 build, with why it is Linux's alone.
#define SKIP_ON_WIN32(reason)                                  \
    do {                                                       \
        if (suite_build().win32)                               \
            GTEST_SKIP() << "Linux only: " << (reason);        \
    } while (0)

// Skips the rest of a test on every build but the Win32 one.
#define SKIP_UNLESS_WIN32(reason)                              \
    do {                                                       \
        if (!suite_build().win32)                              \
            GTEST_SKIP() << "Win32 only: " << (reason);        \
    } while (0)

struct RunResult {
    int status = -1;  // exit code 0..255; 128 + signal when killed; -1 on timeout
    std::string out;  // standard output (run_pty: the terminal transcript, see there)
    std::string err;  // standard error
    bool timed_out = false;
};

struct RunOptions {
    // The build to start; null: suite_build().
    const Build *build = nullptr;
    // Native directory to run in; empty: the sandbox's drive D directory.
    std::string cwd;
    // Text piped to standard input; nullopt: standard input is /dev/null.
    std::optional<std::string> input;
    // Standard input closed entirely (overrides input).
    bool no_stdin = false;
    // Applied in order over the base environment: a value sets or adds the
    // variable, nullopt removes it. An empty string sets it to "".
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    // The whole run, from start to reaping the child.
    int timeout_ms = 20000;
    // Standard output goes to a regular file in the sandbox (so the program
    // sees it redirected), read back into `out` afterwards.
    bool stdout_to_file = false;
    // Program to execute instead of mox32 (the harness's own tests use
    // /bin/sh). argv[0] is "mox32" either way.
    std::string program;
    // Shell commands that set up the process before mox32 replaces it
    // ("umask 077", "ulimit -f 100"), whichever build runs.
    std::string shell_setting;
};

struct PtyStep {
    // Wait until this text appears in the transcript after the previous
    // step's match ...
    std::string expect;
    // ... then type these bytes.
    std::string keys;
    // Type only once the program has taken the terminal out of canonical
    // mode, i.e. is waiting for a single key. Without this, a key typed
    // between the prompt and the switch to raw mode may be echoed by the
    // terminal or discarded by a flushing mode change. Set it to false to
    // type a line to a program that reads lines.
    bool wait_raw = true;
    // Run just before the keys are typed, while the program waits: a change
    // of the file system between what the program looked at and what it
    // does next.
    std::function<void()> act = nullptr;
};

class Sandbox {
public:
    // Makes <system tmp>/mox32-e2e-XXXXXX (symbolic links resolved, so the
    // working directory of a run lies textually inside a drive) with the
    // layout above.
    Sandbox();
    // Removes the tree, first giving back owner permissions where a test
    // took them away.
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    const std::string &root() const { return root_; }

    // Native path of rel ('/'-separated, may be empty) inside the directory
    // of the drive; any letter works, but only D and E are mapped unless a
    // run overrides MOX32_DRIVES.
    std::string native(char drive, const std::string &rel = "") const;
    void mkdir(char drive, const std::string &rel) const;  // like mkdir -p
    // Creates or replaces the file, making parent directories as needed.
    void write(char drive, const std::string &rel, const std::string &content) const;
    // Writes text (UTF-8) as the suite's build reads a text file such as a
    // list: as it is for Linux, in code page 932 for Win32.
    void write_text(char drive, const std::string &rel, const std::string &text) const;
    std::string read(char drive, const std::string &rel) const;  // throws if unreadable
    // Whether the entry exists; a dangling symbolic link exists.
    bool exists(char drive, const std::string &rel) const;

    // Runs the program with the arguments (argv[1] onwards). The child is a
    // session leader without a controlling terminal, so opening /dev/tty
    // fails and the program's prompts find no console.
    RunResult run(const std::vector<std::string> &args, const RunOptions &opt = {}) const;

    // Runs the program on a pseudo-terminal of 80x24 with TERM=dumb added to
    // the environment. Each step waits for its text, within what is left of
    // the timeout, then types its keys; afterwards the transcript is read
    // until the program closes the terminal. If a text never appears, the
    // child is killed and the result is timed_out with the transcript so far.
    // "\r\n" in the transcript reads as "\n"; of a Win32 build, the transcript
    // is what the program wrote, without the escape sequences and the line
    // breaks at the 80th column that Wine adds. `out` holds the transcript and
    // `err` stays empty; with stdout_to_file, `out` holds the file and `err`
    // the transcript (standard error and the console). opt.input and
    // opt.no_stdin must not be set: standard input is the terminal.
    RunResult run_pty(const std::vector<std::string> &args, const std::vector<PtyStep> &steps,
                      const RunOptions &opt = {}) const;

    // LOCPATH directory holding the locale ja_JP.SJIS (Shift_JIS), compiled
    // once per test process into a temporary directory removed at exit; ""
    // when it cannot be made here (no localedef, no ja_JP source). Use with
    // env {{"LOCPATH", dir}, {"LC_ALL", "ja_JP.SJIS"}}.
    static std::string sjis_locpath();

private:
    std::string root_;
};

// The name a build shows for itself (argv[0] after its last separator):
// "mox32" for a Linux build, which the harness starts under
// that name; the file's own name ("mox32.exe") for a Win32 build, which
// Wine starts by its path.
std::string shown_name(const Build &build);
// Output of a run of the build with its own name shown as "mox32", as the
// Linux build shows it: the name replaced where it is followed by a space
// (the repeated command line, the usage, the version line), and the caret
// line under a repeated command line moved left by the difference. Tests
// that compare what both builds print normalise the name this way.
std::string as_mox32(const std::string &out, const Build &build);

// Splits text into lines at "\n". A final "\n" ends the last line rather than
// starting an empty one: lines("a\n\nb\n") is {"a", "", "b"}, lines("") is {}.
std::vector<std::string> lines(const std::string &text);
