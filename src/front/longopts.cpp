#include "front/longopts.h"

#include <cstring>

#include "base/param.h"

namespace {

int setnull(const char *) {
    opt_null = 1;
    return -1;
}

} // namespace

// --help and --version are read where the first argument is (they print
// and end the run); their entries give them their line in the usage text.
const LongOpt longopts[] = {
    {"null", nullptr, 0, setnull, "list entries end with NUL, as find -print0 writes them"},
    {"help", nullptr, 1, nullptr, "this text on standard output"},
    {"version", nullptr, 1, nullptr, "the version line"},
    {nullptr, nullptr, 0, nullptr, nullptr},
};

const LongOpt *findlongopt(const char *arg) {
    if (arg[0] != '-' || arg[1] != '-')
        return nullptr;
    const char *name = arg + 2;
    size_t len = std::strcspn(name, "=");
    for (const LongOpt *o = longopts; o->name != nullptr; o++)
        if (std::strlen(o->name) == len && std::strncmp(o->name, name, len) == 0)
            return o;
    return nullptr;
}

int takelongopt(const char *arg) {
    const LongOpt *o = findlongopt(arg);
    if (o == nullptr || o->first)
        return 2; // under the name that is not known here
    const char *eq = std::strchr(arg, '=');
    if (eq != nullptr && o->value == nullptr)
        return (int)(eq - arg);
    if (eq == nullptr && o->value != nullptr)
        return (int)std::strlen(arg);
    int r = o->set(eq != nullptr ? eq + 1 : nullptr);
    return r < 0 ? 0 : (int)(eq - arg) + 1 + r;
}
