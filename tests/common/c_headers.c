/* The C-style headers compile as C: their declarations are usable from either language. */
#include "adminlib.h"
#include "plugins.h"
#include "qzpr.h"

int plomex_c_headers_compile = 1; /* a translation unit may not be empty */
