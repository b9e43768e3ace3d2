// Echo mode (/E) shows what the same run without /E does: the same lines,
// the same summary, the same exit status, apart from its own "This is TEST
// Mode" line and the "(delete test) " marks of the delete modes; and it
// changes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

struct EchoCase {
    const char *what; // the fault the row guards
    std::function<void(const Sandbox &)> setup;
    Lines args;
    bool twins = false; // names that differ only in case, in one directory
};

// What a run printed, with echo mode's own marks taken out.
Lines shown(const RunResult &r) {
    Lines out;
    for (std::string line : lines(r.out)) {
        if (line == "This is TEST Mode")
            continue;
        const std::string mark = "(delete test) ";
        if (line.rfind(mark, 0) == 0)
            line = "  " + line.substr(mark.size());
        out.push_back(line);
    }
    return out;
}

// Every entry below the drives, with the contents of each file.
Lines snapshot(const Sandbox &box) {
    Lines all;
    for (char d : {'d', 'e'}) {
        for (const std::string &rel : tree(box.native(d))) {
            std::string line = std::string(1, d) + ":" + rel;
            if (rel.back() != '/')
                line += " = " + box.read(d, rel);
            all.push_back(line);
        }
    }
    return all;
}

void files(const Sandbox &box, char drive, const std::string &dir, const Lines &names) {
    for (const std::string &n : names)
        box.write(drive, dir + "/" + n, n + " in " + dir);
}

// The echo run used to answer every look from the disk as it was: a
// counter or a backup gave the same number to every file, a name a rename
// took was still free, a directory emptied by a move or a delete was
// always removed, a file deleted once was found again, a directory renamed
// to another case was walked under its old name, a listed directory spelled
// with a final separator was found not emptied, twin directories were
// taken for one. Each row runs the same
// command line with and without /E, on two fresh copies of one tree.
TEST(Echo, PredictsTheRealRun) {
    const EchoCase cases[] = {
        {"a rename counter gives each file the next free number",
         [](const Sandbox &b) { files(b, 'd', "P", {"a.jpg", "b.jpg", "c.jpg"}); },
         {"=trip_$03N.$E", "D:\\P\\*.jpg"}},
        {"a counter skips a number an earlier rename of the run took",
         [](const Sandbox &b) { files(b, 'd', "P", {"a.jpg", "b.jpg", "c.jpg", "trip_001.jpg"}); },
         {"=trip_$03N.$E", "D:\\P\\*.jpg"}},
        {"two files renamed to one literal name: the second finds it taken",
         [](const Sandbox &b) { files(b, 'd', "S", {"A.TXT", "B.TXT"}); },
         {"=SAME.TXT", "D:\\S\\*.TXT"}},
        {"a backup name the run gave out is taken for a later file (/G /U /B)",
         [](const Sandbox &b) {
             b.write('d', "S/X/A.TXT", "1");
             b.write('d', "S/Y/A.TXT", "22");
             b.write('d', "S/Z/A(000).TXT", "0");
             set_mtime(b.native('d', "S/X/A.TXT"), T0 + 20);
             set_mtime(b.native('d', "S/Y/A.TXT"), T0 + 40);
             set_mtime(b.native('d', "S/Z/A(000).TXT"), T0);
         },
         {"/G", "/U", "/B", "D:\\S", "E:\\OUT"}},
        {"/B twice on one name: the second backup takes the next number",
         [](const Sandbox &b) {
             b.write('d', "S/A.TXT", "new");
             b.write('e', "OUT/A.TXT", "old");
             b.write_text('d', "L.LST", "D:\\S\\A.TXT\nD:\\S\\A.TXT\n");
         },
         {"/B", "@D:\\L.LST", "E:\\OUT"}},
        {"gathering two files of one name keeps both (/G)",
         [](const Sandbox &b) {
             b.write('d', "S/X/A.TXT", "1");
             b.write('d', "S/Y/A.TXT", "22");
         },
         {"/G", "D:\\S", "E:\\OUT"}},
        {"a move that leaves a file behind removes no directory (/M /N)",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT"});
             files(b, 'd', "S/SUB", {"B.TXT", "C.TXT"});
             b.write('e', "OUT/A.TXT", "old");
         },
         {"/M", "/N", "D:\\S", "E:\\OUT"}},
        {"a tree moved into its own subdirectory",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT"});
             files(b, 'd', "S/SUB", {"B.TXT"});
         },
         {"/M", "/S", "D:\\S", "D:\\S\\OUT"}},
        {"/DEL against a reference that holds only some counterparts",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"a", "b"});
             files(b, 'd', "S/X", {"a", "b"});
             b.write('e', "REF/a", "a");
             b.mkdir('e', "REF/X");
         },
         {"/DEL", "/S", "/O", "/Y", "D:\\S", "E:\\REF"}},
        {"/DEL against a reference that holds every counterpart",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"a", "b"});
             files(b, 'd', "S/X", {"a", "b"});
             files(b, 'e', "REF", {"a", "b"});
             files(b, 'e', "REF/X", {"a", "b"});
         },
         {"/DEL", "/S", "/O", "/Y", "D:\\S", "E:\\REF"}},
        {"a list naming a file twice and its directory (/DEL)",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT"});
             b.write_text('d', "L.LST", "D:\\S\\A.TXT\nD:\\S\\A.TXT\nD:\\S\n");
         },
         {"/DEL", "@D:\\L.LST"}},
        {"a list naming a file twice (/DEL!)",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT"});
             b.write_text('d', "L.LST", "D:\\S\\A.TXT\nD:\\S\\A.TXT\n");
         },
         {"/DEL!", "@D:\\L.LST"}},
        {"three files of one name into one trash (/DEL! /G)",
         [](const Sandbox &b) {
             b.write('d', "S/A.TXT", "0");
             b.write('d', "S/X/A.TXT", "1");
             b.write('d', "S/Y/A.TXT", "2");
         },
         {"/DEL!", "/G", "/Y", "D:\\S"}},
        {"an upper-case rename refused where the name is taken (/L+)",
         [](const Sandbox &b) {
             b.write('d', "X/README.TXT", "upper");
             b.write('d', "X/readme.txt", "lower");
             b.write('d', "X/other.txt", "other");
         },
         {"/L+", "/Y", "D:\\X"}},
        {"directories renamed in place are walked under their new names (/S /L)",
         [](const Sandbox &b) {
             b.write('d', "A/SUB/DEEP/F.TXT", "f");
             b.write('d', "A/SUB/G.TXT", "g");
         },
         {"/S", "/L", "/Y", "D:\\A"}},
        {"destination directories made in lower case (/S /L)",
         [](const Sandbox &b) { b.write('d', "S/SUB/A.TXT", "a"); },
         {"/S", "/L", "D:\\S", "E:\\OUT"}},
        {"a copy into a new subdirectory of itself",
         [](const Sandbox &b) {
             b.write('d', "A/F.TXT", "f");
             b.write('d', "A/SUB/G.TXT", "g");
         },
         {"/S", "D:\\A", "D:\\A\\NEW"}},
        {"a directory where a file is to go fails the copy, in either mode",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT", "B.TXT"});
             b.mkdir('e', "OUT/A.TXT");
         },
         {"D:\\S\\*.TXT", "E:\\OUT"}},
        {"an append under a new name first copies the old file aside (/I /B)",
         [](const Sandbox &b) {
             b.write('d', "S/A.TXT", "add");
             b.write('e', "OUT/NEW.TXT", "base");
         },
         {"/I", "/B", "=NEW.TXT", "D:\\S\\A.TXT", "E:\\OUT"}},
        {"a listed directory spelled with a final separator is emptied and removed (/DEL)",
         [](const Sandbox &b) {
             files(b, 'd', "S", {"A.TXT"});
             b.write_text('d', "L.LST", "D:\\S\\\n");
         },
         {"/DEL", "@D:\\L.LST"}},
        {"twin directories are two directories (/DEL /S)",
         [](const Sandbox &b) {
             files(b, 'd', "A/SUB", {"X.TXT"});
             files(b, 'd', "A/sub", {"X.TXT", "Y.TXT"});
         },
         {"/DEL", "/S", "/Y", "D:\\A"}, true},
        {"twin directories are two directories (/M /S)",
         [](const Sandbox &b) {
             files(b, 'd', "A/SUB", {"X.TXT"});
             files(b, 'd', "A/sub", {"X.TXT", "Y.TXT"});
         },
         {"/M", "/S", "D:\\A", "E:\\OUT"}, true},
    };
    for (const EchoCase &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.twins && suite_build().win32)
            continue;
        Sandbox real, echo;
        c.setup(real);
        c.setup(echo);
        Lines before = snapshot(echo);
        Lines echoargs = {"/E"};
        echoargs.insert(echoargs.end(), c.args.begin(), c.args.end());
        RunResult r = real.run(c.args);
        RunResult e = echo.run(echoargs);
        EXPECT_EQ(shown(r), shown(e)) << "real run:\n" << r.out << "echo run:\n" << e.out;
        EXPECT_EQ(r.status, e.status);
        EXPECT_EQ(r.err, e.err);
        EXPECT_EQ(before, snapshot(echo)) << "the echo run changed the tree";
    }
}

} // namespace
