/* File names built from a directory, or found in a list of directories. */
#include "qzfname.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

/* dir, sep and name joined in a fresh heap string, or null when memory ran out. */
static char *Join(const char *dir, const char *sep, const char *name) {
    size_t size = strlen(dir) + strlen(sep) + strlen(name) + 1;
    char *joined = static_cast<char *>(malloc(size));
    if (joined != nullptr)
        snprintf(joined, size, "%s%s%s", dir, sep, name);
    return joined;
}

QZfname::QZfname(const char *name, const char *dir) : name(nullptr) { Init(name, dir); }

QZfname::QZfname(const char *name, const char **list) : name(nullptr) {
    if (name != nullptr && (name[0] == '/' || name[0] == '.')) {
        Init(name, nullptr);
        return;
    }
    for (; name != nullptr && list != nullptr && *list != nullptr; ++list) {
        free(this->name);
        this->name = Join(*list, "/", name);
        if (this->name == nullptr) {
            SetError(5);
            return;
        }
        if (access(Exists))
            return;
    }
    free(this->name);
    this->name = nullptr;
    SetError(21);
}

QZfname::~QZfname() { free(name); }

int QZfname::Init(const char *name, const char *dir) {
    SetError(0);
    free(this->name);
    this->name = nullptr;
    if (name == nullptr)
        return 1;
    this->name = Join(dir != nullptr ? dir : "", dir != nullptr ? "/" : "", name);
    if (this->name != nullptr)
        return 1;
    SetError(5);
    return 0;
}

int QZfname::access(AccessType type) {
    int mode;
    switch (type) {
    case Readable:
        mode = R_OK;
        break;
    case Writable:
        mode = W_OK;
        break;
    case Executable:
        mode = X_OK;
        break;
    case Exists:
        mode = F_OK;
        break;
    default:
        return 0;
    }
    return name != nullptr && ::access(name, mode) == 0 ? 1 : 0;
}

void QZfname::Dump(std::ostream &) const {}

const char *QZfname::Name() const { return "QZfname"; }
