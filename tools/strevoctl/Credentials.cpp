// The login options shared by the command groups that talk to cameras with a
// user name and password: the password comes from a file, the environment or
// (visible to other users) the command line, and is never printed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Commands.h"

namespace strevoctl {

bool ReadPasswordFile(const std::string& path, std::string* password) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::getline(in, *password);
    if (!password->empty() && password->back() == '\r')
        password->pop_back();
    return !in.bad();
}

int TakeCredentialOption(const Args& args, size_t* i, Credentials* c, std::string* error) {
    const std::string& a = args[*i];
    if (a != "--user" && a != "--password-file" && a != "--password")
        return 0;
    if (*i + 1 >= args.size()) {
        *error = a + " needs a value";
        return -1;
    }
    const std::string& v = args[++*i];
    if (a == "--user") {
        c->user = v;
        return 1;
    }
    if (c->passwordGiven) {
        *error = "give the password once";
        return -1;
    }
    c->passwordGiven = true;
    if (a == "--password-file")
        c->passwordFile = v;
    else
        c->password = v;
    return 1;
}

bool ResolvePassword(Credentials* c) {
    if (!c->passwordFile.empty()) {
        if (!ReadPasswordFile(c->passwordFile, &c->password)) {
            std::fprintf(stderr, "strevoctl: cannot read the password file %s: %s\n",
                         c->passwordFile.c_str(), std::strerror(errno));
            return false;
        }
    } else if (!c->passwordGiven) {
        if (const char* env = std::getenv("STREVO_PASSWORD"))
            c->password = env;
    }
    return true;
}

}  // namespace strevoctl
