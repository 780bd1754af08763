/*
 * Who a command acts as. Whoever owns a server root can plant links in it,
 * so a command started as root on a root that belongs to another account
 * does its work as that account, as the server does: nothing it makes there
 * belongs to root, and nothing it follows reaches what only root could.
 */
#ifndef QZOWNER_H
#define QZOWNER_H

#include <string>

enum class QZownerResult {
    Same,     /* not root, or the folder is root's: the process is who it was */
    Switched, /* the process is now the folder's owner, for good */
    Missing,  /* root, and dir does not exist: there is no owner to act as */
    Refused,  /* why says what stands in the way and how to run the command instead */
};

/*
 * When the process runs as root and the folder dir belongs to another
 * account, becomes that account for the rest of the process: its user id,
 * the folder's group, no supplementary groups, real, effective and saved
 * ids alike. Call it before any file under dir is opened. Refused when dir
 * cannot be looked at or the switch fails: then the caller must end
 * without touching dir.
 */
QZownerResult QZactAsOwnerOf(const std::string &dir, std::string &why);

#endif
