/* The handle behind QZPRFile, shared by the stand-in's files (and a test's fake). */
#ifndef PR_FILE_H
#define PR_FILE_H

#include "qzpr.h"

struct QZPRFile {
    int fd;
};

#endif
