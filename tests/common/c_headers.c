/* The C-style headers compile as C: their declarations are usable from either language. */
#include "adminlib.h"
#include "plugins.h"
#include "qzpr.h"

/* A translation unit may not be empty. */
int plomex_c_headers_compile = 1;
