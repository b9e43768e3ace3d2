// A run ended by a signal leaves none of its temporary files behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// Ended by a signal while it captured a list from standard input, a run
// left its temporary list file behind for good. The list here is a pipe
// that stays open, so the run waits in the capture when the signal comes.
TEST(Destination, SignalLeavesNoTemporaryFile) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Sandbox box;
        box.write('c', "S/a.txt", "a");
        const std::string fifo = box.root() + "/list.fifo";
        ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
        const std::string tmp = box.root() + "/tmp";
        // The helper holds the pipe open, waits for the temporary file,
        // gives the run a moment to settle in its read, signals it and
        // keeps the pipe open until it is gone.
        std::string script =
            "( exec 3>\"$1\"; while ! ls \"$2\"/_MOX_* >/dev/null 2>&1; do sleep 0.01; done;"
            " sleep 0.2; kill -" + std::to_string(sig) + " $$;"
            " while kill -0 $$ 2>/dev/null; do sleep 0.01; done ) >/dev/null 2>&1 &"
            " exec \"$0\" @ 'D:\\OUT' <\"$1\"";
        RunOptions o;
        o.program = "/bin/sh";
        o.timeout_ms = 10000;
        RunResult r = box.run({"-c", script, MOX32_BIN, fifo, tmp}, o);
        EXPECT_EQ(128 + sig, r.status) << "signal " << sig << "\n" << r.out << r.err;
        EXPECT_EQ(Lines{}, tree(tmp)) << "signal " << sig;
    }
}

} // namespace
