/* What the owner of a server root can put where a program expects one of its files or folders. */
#ifndef PLANTS_H
#define PLANTS_H

#include "testfs.h"

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

/* A secret of another account (0600) and a folder, both outside the server root. */
struct Outside {
    static constexpr const char *kSecret = "TOPSECRET-5b1d-never-shown\n";
    Outside() {
        WriteFile(secret, kSecret);
        chmod(secret.c_str(), 0600);
        if (geteuid() == 0 && chown(secret.c_str(), 4242, 4242) != 0)
            ADD_FAILURE() << "the secret cannot be given to another account";
        fs::create_directories(folder + "/kept");
    }
    /* The names there and the secret's bytes: a run must leave them as they were. */
    std::string State() const {
        std::string state = ReadFile(secret);
        for (const auto &e : fs::recursive_directory_iterator(dir.path))
            state += "|" + e.path().string();
        return state;
    }
    TempDir dir;
    const std::string secret = dir.File("secret"), folder = dir.File("folder");
};

/* What stands at path, told without opening anything but a small regular file. */
inline std::string Standing(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    if (!S_ISREG(st.st_mode) || st.st_size > (1 << 20))
        return "mode " + std::to_string(st.st_mode) + " size " + std::to_string(st.st_size);
    return ReadFile(path);
}

struct Plant {
    const char *kind;
    /* Puts it at at, where a folder (folder) or a file is expected; what was there is gone. */
    std::function<void(const std::string &at, bool folder, const Outside &)> make;
};

inline std::vector<Plant> Plants() {
    using O = const Outside &;
    std::vector<Plant> all = {
        {"a FIFO", [](const std::string &at, bool, O) { mkfifo(at.c_str(), 0666); }},
        {"the other kind",
         [](const std::string &at, bool folder, O) {
             folder ? WriteFile(at, "a file\n") : (void)fs::create_directories(at + "/x");
         }},
        {"a link to a folder outside",
         [](const std::string &at, bool, O o) { fs::create_symlink(o.folder, at); }},
        {"a sparse file of 1 GiB",
         [](const std::string &at, bool, O) {
             WriteFile(at, "");
             fs::resize_file(at, std::uintmax_t(1) << 30);
         }},
    };
    /* Only root can give the secret to another account; a link to one's own file is a
     * configuration file kept elsewhere, which the programs follow. */
    if (geteuid() == 0)
        all.push_back({"a link to another account's secret", [](const std::string &at, bool, O o) {
                           fs::create_symlink(o.secret, at);
                       }});
    return all;
}

#endif
