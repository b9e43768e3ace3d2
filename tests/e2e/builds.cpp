// Which build a run starts, and what a Win32 build needs to run under Wine
// as the Linux build runs: the runner script, its prefix, its converter.
#include "harness.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "process.h"

#ifndef MOX32_BIN
#error "MOX32_BIN must name the Linux build of mox32"
#endif
#ifndef MOX32_WIN32_EXE
#error "MOX32_WIN32_EXE must name where the Win32 build is made"
#endif
#ifndef MOX32_WINE_RUNNER
#error "MOX32_WINE_RUNNER must name wine/run.sh"
#endif
#ifndef MOX32_TEXTCONV
#error "MOX32_TEXTCONV must name the mox32-textconv program"
#endif
#ifndef MOX32_WINE_DIR
#error "MOX32_WINE_DIR must name the directory of this build tree's Wine prefixes"
#endif

using namespace harness_detail;

namespace {

bool names_exe(const std::string &path) {
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".exe";
}

// A path from the environment, made absolute: runs start in the sandbox.
Build build_at(const std::string &path) {
    std::string full = path;
    if (char *real = ::realpath(path.c_str(), nullptr)) {
        full = real;
        std::free(real);
    }
    return {full, names_exe(path)};
}

std::string env_or(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : fallback;
}

// Runs the runner with its own arguments (not a build): --start.
RunResult run_runner(const std::vector<std::string> &args, int timeout_ms) {
    Launch l;
    l.program = MOX32_WINE_RUNNER;
    l.argv = {"run.sh"};
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    EnvList env = {{"PATH", "/usr/local/bin:/usr/bin:/bin"}};
    add_wine_env(env);
    l.env = build_env(env, {});
    l.cwd = "/";
    PipedSetup s;
    s.timeout_ms = timeout_ms;
    return run_piped(l, s);
}

} // namespace

const Build &linux_build() {
    static const Build build{MOX32_BIN, false};
    return build;
}

const Build &suite_build() {
    static const Build build = [] {
        std::string path = env_or("MOX32_E2E_BIN", "");
        return path.empty() ? linux_build() : build_at(path);
    }();
    return build;
}

const Build *win32_build(std::string *why) {
    static const Build build = [] {
        std::string fallback = suite_build().win32 ? suite_build().path : MOX32_WIN32_EXE;
        return build_at(env_or("MOX32_E2E_EXE", fallback));
    }();
    *why = build.win32 ? why_win32_cannot_run(build.path) : "MOX32_E2E_EXE names no .exe: " + build.path;
    return why->empty() ? &build : nullptr;
}

std::string why_win32_cannot_run(const std::string &path) {
    if (path.empty() || ::access(path.c_str(), R_OK) != 0)
        return "no Win32 build at " + path;
    if (::access("/usr/bin/wine", X_OK) != 0 && ::access("/usr/local/bin/wine", X_OK) != 0)
        return "wine is not installed";
    return "";
}

namespace harness_detail {

std::string wine_runner() { return MOX32_WINE_RUNNER; }

void add_wine_env(EnvList &env) {
    env.emplace_back("MOX32_TEXTCONV", MOX32_TEXTCONV);
    env.emplace_back("MOX32_WINE_DIR", MOX32_WINE_DIR);
}

void prepare_wine() {
    // The first run of a suite may make the template prefix (wineboot takes
    // seconds); later ones find it ready. That is done here, outside the
    // time a test gives its run.
    static const std::string failure = [] {
        RunResult r = run_runner({"--start"}, 300000);
        return r.status == 0 ? std::string() : "wine/run.sh --start failed: " + r.err;
    }();
    if (!failure.empty())
        throw std::runtime_error("e2e harness: " + failure);
}

std::string to_cp932(const std::string &text) {
    Launch l;
    l.program = MOX32_TEXTCONV;
    l.argv = {"mox32-textconv", "--to-cp932"};
    l.cwd = "/";
    PipedSetup s;
    s.input = text;
    RunResult r = run_piped(l, s);
    if (r.status != 0)
        throw std::runtime_error("e2e harness: mox32-textconv --to-cp932 failed: " + r.err);
    return r.out;
}

} // namespace harness_detail
