// The sandbox: its tree, its files, and the environment a run starts with.
#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "process.h"

using namespace harness_detail;

namespace {

std::string g_locale_dir;

void remove_locale_dir() { remove_tree(g_locale_dir); }

std::string build_sjis_locale() {
    std::string localedef;
    for (const char *p : {"/usr/bin/localedef", "/bin/localedef", "/usr/sbin/localedef"}) {
        if (::access(p, X_OK) == 0) {
            localedef = p;
            break;
        }
    }
    if (localedef.empty())
        return "";
    try {
        g_locale_dir = make_temp_dir("mox32-e2e-locale-");
    } catch (const std::runtime_error &) {
        return "";
    }
    std::atexit(remove_locale_dir);

    Launch l;
    l.program = localedef;
    l.argv = {"localedef", "-c", "-i", "ja_JP", "-f", "SHIFT_JIS", g_locale_dir + "/ja_JP.SJIS"};
    l.env = {"PATH=/usr/bin:/bin", "LC_ALL=C"};
    l.cwd = g_locale_dir;
    PipedSetup s;
    s.timeout_ms = 120000;
    RunResult r;
    try {
        r = run_piped(l, s);
    } catch (const std::runtime_error &) {
        return "";
    }
    // localedef reports a warning and status 1 for this charmap (it is not
    // ASCII compatible) even when the locale is complete: trust the result.
    if (r.timed_out || !is_dir(g_locale_dir + "/ja_JP.SJIS") ||
        ::access((g_locale_dir + "/ja_JP.SJIS/LC_CTYPE").c_str(), R_OK) != 0)
        return "";
    return g_locale_dir;
}

}  // namespace

// ---- Sandbox ------------------------------------------------------------------

Sandbox::Sandbox() : root_(make_temp_dir("mox32-e2e-")) {
    for (const char *sub : {"d", "e", "home", "data", "tmp"}) {
        if (::mkdir((root_ + "/" + sub).c_str(), 0777) != 0) {
            int e = errno;
            remove_tree(root_);
            errno = e;
            fail_errno("mkdir " + root_ + "/" + sub);
        }
    }
}

Sandbox::~Sandbox() { remove_tree(root_); }

std::string Sandbox::native(char drive, const std::string &rel) const {
    if (!((drive >= 'a' && drive <= 'z') || (drive >= 'A' && drive <= 'Z')))
        throw std::invalid_argument("e2e harness: not a drive letter");
    std::string path = root_ + "/" + static_cast<char>(drive | 0x20);
    if (!rel.empty())
        path += "/" + rel;
    return path;
}

void Sandbox::mkdir(char drive, const std::string &rel) const {
    std::string path = native(drive, "");
    // The drive directory itself may be new (a letter other than D or E).
    std::string todo = rel;
    for (size_t start = 0;;) {
        if (::mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && is_dir(path)))
            fail_errno("mkdir " + path);
        if (start >= todo.size())
            break;
        size_t slash = todo.find('/', start);
        if (slash == std::string::npos)
            slash = todo.size();
        if (slash > start)
            path += "/" + todo.substr(start, slash - start);
        start = slash + 1;
    }
}

void Sandbox::write(char drive, const std::string &rel, const std::string &content) const {
    size_t slash = rel.rfind('/');
    mkdir(drive, slash == std::string::npos ? "" : rel.substr(0, slash));
    std::string path = native(drive, rel);
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd)
        fail_errno("create " + path);
    write_all_blocking(fd.get(), content, path);
    if (::close(fd.release()) != 0)
        fail_errno("close " + path);
}

void Sandbox::write_text(char drive, const std::string &rel, const std::string &text) const {
    write(drive, rel, suite_build().win32 ? to_cp932(text) : text);
}

std::string Sandbox::read(char drive, const std::string &rel) const { return read_file(native(drive, rel)); }

bool Sandbox::exists(char drive, const std::string &rel) const {
    struct stat st;
    return ::lstat(native(drive, rel).c_str(), &st) == 0;
}

namespace {

// The program and leading arguments that start mox32 or opt.program.
std::vector<std::string> command_of(const RunOptions &opt, const Build &build) {
    if (!opt.program.empty())
        return {opt.program};
    if (build.win32)
        return {wine_runner(), build.path};
    return {build.path};
}

}  // namespace

Launch harness_detail::make_launch(const Sandbox &sb, const std::vector<std::string> &args,
                                   const RunOptions &opt, bool pty) {
    const Build &build = opt.build != nullptr ? *opt.build : suite_build();
    std::vector<std::string> command = command_of(opt, build);
    Launch l;
    l.argv.push_back("mox32");
    if (!opt.shell_setting.empty()) {
        // "$0" is the program: its path, whose last component names it.
        l.argv.insert(l.argv.end(), {"-c", opt.shell_setting + "; exec \"$0\" \"$@\""});
        l.program = "/bin/sh";
        l.argv.insert(l.argv.end(), command.begin(), command.end());
    } else {
        l.program = command[0];
        l.argv.insert(l.argv.end(), command.begin() + 1, command.end());
    }
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    const std::string &root = sb.root();
    EnvList base = {
        {"PATH", "/usr/bin:/bin"},
        {"MOX32_DRIVES", "D=" + root + "/d;E=" + root + "/e"},
        {"TZ", "UTC"},
        {"LC_ALL", "C.UTF-8"},
        {"LANG", "C.UTF-8"},
        {"HOME", root + "/home"},
        {"XDG_DATA_HOME", root + "/data"},
        {"TEMP", root + "/tmp"},
        {"TMPDIR", root + "/tmp"},
    };
    if (pty)
        base.emplace_back("TERM", "dumb");
    if (build.win32 && opt.program.empty()) {
        prepare_wine();
        add_wine_env(base);
    }
    l.env = build_env(std::move(base), opt.env);
    l.cwd = opt.cwd.empty() ? sb.native('d') : opt.cwd;
    return l;
}

RunResult Sandbox::run(const std::vector<std::string> &args, const RunOptions &opt) const {
    Launch l = make_launch(*this, args, opt, false);
    PipedSetup s;
    s.input = opt.input;
    s.no_stdin = opt.no_stdin;
    s.timeout_ms = opt.timeout_ms;
    if (opt.stdout_to_file)
        s.stdout_file = root_ + "/stdout.txt";
    return run_piped(l, s);
}
std::string Sandbox::sjis_locpath() {
    static const std::string dir = build_sjis_locale();
    return dir;
}

std::string shown_name(const Build &build) {
    if (!build.win32)
        return "mox32";
    size_t slash = build.path.rfind('/');
    return slash == std::string::npos ? build.path : build.path.substr(slash + 1);
}

std::string as_mox32(const std::string &out, const Build &build) {
    const std::string name = shown_name(build) + " ";
    const std::string ours = "mox32 ";
    if (name == ours)
        return out;
    size_t shift = name.size() - ours.size();
    std::string result;
    bool caretnext = false;
    for (const std::string &line : lines(out)) {
        std::string l = line;
        bool echoed = l.rfind(name, 0) == 0;
        for (size_t at = l.find(name); at != std::string::npos; at = l.find(name, at + ours.size()))
            l.replace(at, name.size(), ours);
        if (caretnext && l.size() > shift && l.find_first_not_of(' ') >= shift &&
            l.find("^ error") != std::string::npos)
            l.erase(0, shift);
        caretnext = echoed;
        result += l + "\n";
    }
    return result;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            result.push_back(text.substr(start));
            break;
        }
        result.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return result;
}

