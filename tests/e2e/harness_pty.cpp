// Runs on a pseudo-terminal: the dialogue of a test with a program that
// asks for keys.
#include "harness.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "process.h"

using namespace harness_detail;

namespace {

// The terminal transcript, with "\r\n" read as "\n" even when the pair is
// split between two reads.
class Transcript {
public:
    void append(const std::string &raw) {
        for (char c : raw) {
            if (pending_cr_) {
                pending_cr_ = false;
                if (c == '\n') {
                    text_ += '\n';
                    continue;
                }
                text_ += '\r';
            }
            if (c == '\r')
                pending_cr_ = true;
            else
                text_ += c;
        }
    }
    std::string finish() {
        if (pending_cr_)
            text_ += '\r';
        pending_cr_ = false;
        return text_;
    }
    const std::string &text() const { return text_; }

private:
    std::string text_;
    bool pending_cr_ = false;
};

// What Wine's console wrote to the terminal, as the program wrote it. Wine
// draws: it hides the cursor before each write of the program and shows it
// after, erases to the end of the line, moves the cursor forward over the
// blanks that end a prompt instead of writing them, ends lines with
// "\r\r\n", and starts a new line of its own when one reaches the 80th
// column (counting every character as one). Such a break is told from the
// program's line end by what follows: more text in the same write, or a
// line end in the next write, shows it was Wine's. Other escape sequences
// stay, to be seen.
class WineScreen {
public:
    // The plain text of the next bytes of the transcript; a sequence or a
    // line end cut between two reads is finished by the next.
    std::string plain(const std::string &raw) {
        std::string out;
        for (char c : raw) {
            if (!esc_.empty())
                escape(c, out);
            else if (c == '\x1b')
                esc_ = c;
            else if (c == '\r')
                crs_++;
            else if (c == '\n')
                line_end(out);
            else
                text(std::string(1, c), (static_cast<unsigned char>(c) & 0xc0) != 0x80, out);
        }
        return out;
    }

    // What is still held back once the terminal has closed.
    std::string finish() {
        std::string out(held_ ? "\n" : "");
        out.append(static_cast<size_t>(crs_), '\r');
        return out + esc_;
    }

private:
    static constexpr int COLUMNS = 80;

    void escape(char c, std::string &out) {
        esc_ += c;
        if (esc_.size() == 2 ? c == '[' : (c < 0x40 || c > 0x7e))
            return;  // ESC [ parameters ... final byte; ESC and another ends at once
        std::string seq;
        seq.swap(esc_);
        if (seq == "\x1b[?25h") {
            write_ended_ = true;
        } else if (seq.size() > 2 && c == 'C') {
            int n = std::atoi(seq.c_str() + 2);
            n = n > 0 ? n : 1;
            text(std::string(static_cast<size_t>(n), ' '), n, out);
        } else if (seq != "\x1b[?25l" && seq != "\x1b[K") {
            text(seq, 0, out);
        }
    }

    // A line end held back at the 80th column turns out to be the
    // program's when the next write goes on with text, Wine's when text
    // follows in the same write.
    void settle(bool program_ended_line, std::string &out) {
        if (held_ && program_ended_line)
            out += '\n';
        held_ = false;
    }

    void line_end(std::string &out) {
        crs_ = 0;
        if (held_) {
            settle(!write_ended_, out);
            out += '\n';
        } else if (column_ == COLUMNS) {
            held_ = true;
            write_ended_ = false;
        } else {
            out += '\n';
        }
        column_ = 0;
    }

    void text(const std::string &s, int columns, std::string &out) {
        settle(write_ended_, out);
        if (crs_ > 0) {
            out.append(static_cast<size_t>(crs_), '\r');
            crs_ = 0;
            column_ = 0;
        }
        out += s;
        column_ += columns;
    }

    std::string esc_;
    int crs_ = 0;
    int column_ = 0;
    bool held_ = false;         // a line end at the 80th column, not yet told
    bool write_ended_ = false;  // the program's write ended since it came
};

// The conversation with a child on a pseudo-terminal.
class PtyDialogue {
public:
    PtyDialogue(int master, const Deadline &deadline, bool wine)
        : master_(master), deadline_(deadline), wine_(wine) {}

    // Reads whatever arrives within ms (0: what is there now). False once the
    // child has closed the terminal.
    bool pump(int ms) {
        if (eof_)
            return false;
        pollfd p{master_, POLLIN, 0};
        if (poll_for(&p, 1, ms) && p.revents) {
            std::string chunk;
            if (!read_some(master_, chunk))
                eof_ = true;
            transcript_.append(wine_ ? screen_.plain(chunk) : chunk);
        }
        return !eof_;
    }

    // Waits for text at or after `from`; returns the offset just past it, or
    // nullopt when it cannot come any more (time up or terminal closed).
    std::optional<size_t> expect(const std::string &text, size_t from) {
        for (;;) {
            size_t pos = transcript_.text().find(text, from);
            if (pos != std::string::npos)
                return pos + text.size();
            int ms = deadline_.remaining_ms();
            if (ms == 0 || !pump(ms))
                return std::nullopt;
        }
    }

    // Waits until the slave side has left canonical mode: the program is
    // reading single keys. On Linux the master reports the slave's modes.
    bool await_raw() {
        for (;;) {
            termios t;
            if (::tcgetattr(master_, &t) != 0)
                fail_errno("tcgetattr on the pty master");
            if (!(t.c_lflag & ICANON))
                return true;
            int ms = deadline_.remaining_ms();
            if (ms == 0 || !pump(ms < 5 ? ms : 5))
                return false;
        }
    }

    bool type(const std::string &keys) {
        size_t done = 0;
        while (done < keys.size()) {
            int ms = deadline_.remaining_ms();
            if (ms == 0 || eof_)
                return false;
            // Keep reading while writing: a program echoing a long input could
            // otherwise fill the terminal both ways and stall.
            pollfd p{master_, POLLIN | POLLOUT, 0};
            if (!poll_for(&p, 1, ms))
                continue;
            if (p.revents & POLLIN)
                pump(0);
            if (p.revents & POLLOUT) {
                ssize_t n = ::write(master_, keys.data() + done, keys.size() - done);
                if (n > 0)
                    done += static_cast<size_t>(n);
                else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                    return false;
            } else if (p.revents & (POLLHUP | POLLERR)) {
                if (!pump(0))
                    return false;
            }
        }
        return true;
    }

    // Reads until the terminal closes; false when the time ran out first.
    bool drain() {
        for (;;) {
            int ms = deadline_.remaining_ms();
            if (ms == 0)
                return false;
            if (!pump(ms))
                return true;
        }
    }

    std::string transcript() {
        if (wine_)
            transcript_.append(screen_.finish());
        return transcript_.finish();
    }

private:
    int master_;
    const Deadline &deadline_;
    bool wine_;
    WineScreen screen_;
    Transcript transcript_;
    bool eof_ = false;
};

}  // namespace

RunResult Sandbox::run_pty(const std::vector<std::string> &args, const std::vector<PtyStep> &steps,
                           const RunOptions &opt) const {
    if (opt.input || opt.no_stdin)
        throw std::invalid_argument("e2e harness: run_pty takes its input from the steps");
    ignore_sigpipe_once();
    Launch l = make_launch(*this, args, opt, true);
    l.seal();
    Deadline deadline(opt.timeout_ms);

    Pipe report = make_pipe();
    Fd stdout_fd;
    std::string stdout_file = root_ + "/stdout.txt";
    if (opt.stdout_to_file) {
        stdout_fd.reset(::open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!stdout_fd)
            fail_errno("open " + stdout_file);
    }

    int master_raw = -1;
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = 80;
    // forkpty gives the child a new session with the terminal as its
    // controlling terminal and as all three standard streams.
    pid_t pid = ::forkpty(&master_raw, nullptr, nullptr, &ws);
    if (pid < 0)
        fail_errno("forkpty");
    if (pid == 0) {
        int redirect[3] = {-1, stdout_fd.get(), -1};
        child_exec(l, redirect, false, report.wr.get());
    }
    Fd master(master_raw);
    if (::fcntl(master.get(), F_SETFD, FD_CLOEXEC) < 0)
        fail_errno("fcntl FD_CLOEXEC");
    stdout_fd.reset();
    report.wr.reset();
    await_exec(pid, std::move(report.rd), l);
    ChildGuard guard(pid);
    set_nonblocking(master.get());

    const Build &build = opt.build != nullptr ? *opt.build : suite_build();
    PtyDialogue talk(master.get(), deadline, build.win32 && opt.program.empty());
    bool ok = true;
    size_t from = 0;
    for (const PtyStep &step : steps) {
        std::optional<size_t> end = talk.expect(step.expect, from);
        if (!end || (step.wait_raw && !talk.await_raw())) {
            ok = false;
            break;
        }
        if (step.act)
            step.act();
        if (!talk.type(step.keys)) {
            ok = false;
            break;
        }
        from = *end;
    }
    if (ok)
        ok = talk.drain();

    std::optional<int> status;
    if (ok)
        status = reap(pid, deadline);
    else
        kill_and_reap(pid);
    guard.release();

    RunResult res;
    res.timed_out = !status;
    res.status = status ? *status : -1;
    if (opt.stdout_to_file) {
        res.err = talk.transcript();
        res.out = read_file(stdout_file);
    } else {
        res.out = talk.transcript();
    }
    return res;
}

