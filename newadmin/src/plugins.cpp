/* Registration of the publishing subsystem's server plug-ins in the web server's configuration. */
#include "plugins.h"

#include "adminlib.h"
#include "qzcfgn.h"
#include "qzstr.h"
#include "vyxaui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const CMdirective CM_directives[24] = {
    {"CM_Delete", "DELETE"},
    {"CM_Index", "INDEX"},
    {"CM_Get", "(GET|HEAD)"},
    {"CM_Put", "PUT"},
    {"CM_Move", "MOVE"},
    {"CM_MkDir", "MKDIR"},
    {"CM_Post", "POST"},
    {"CM_Copy", "COPY"},
    {"CM_Edit", "EDIT"},
    {"CM_Unedit", "UNEDIT"},
    {"CM_Save", "SAVE"},
    {"CM_Lock", "LOCK"},
    {"CM_Unlock", "UNLOCK"},
    {"CM_RevLabel", "REVLABEL"},
    {"CM_RevLog", "REVLOG"},
    {"CM_RevAdd", "REVADD"},
    {"CM_RevNum", "REVNUM"},
    {"CM_SetAttr", "SETATTRIBUTE"},
    {"CM_GetAttr", "GETATTRIBUTE"},
    {"CM_GetAttrNames", "GETATTRIBUTENAMES"},
    {"CM_GetPS", "GETPROPERTIES"},
    {"CM_StartRev", "STARTREV"},
    {"CM_StopRev", "STOPREV"},
    {nullptr, nullptr},
};

namespace {

const int BY_NAME = 1;
const int BY_PATH = 2;
const char *const LIB_EXT = ".so";

/* Search and content-manager paths and values are cut to fit these buffers. */
const size_t TEXT_MAX = 1024;
/* Agents and FQW paths, likewise. */
const size_t WIDE_MAX = 1280;

const char *const AGENT_FUNCS = "qz_agentInit,agent_name_trans,qz_agentCmdHandler,qz_agentType";
const char *const FQW_FUNCS = "IIOPinit,IIOPexec,IIOPNameService";

const char *const ERROR_DB_FIELD = "QZ-error-db";
const char *const USERDEFS_DB_FIELD = "QZ-userdefs-db";
const char *const SEARCH_UI_DIR_FIELD = "QZ-ui-dir";
const char *const CM_UI_DIR_FIELD = "VYX-ui-dir";

/* The server root, or null when it is not set (an empty value counts as not set). */
const char *ServerRoot() {
    const char *root = getenv("KELMRIX_ROOT");
    return root && *root ? root : nullptr;
}

/*
 * Opens plomex.conf of the configuration directory read-only into cfg. A
 * failure is reported and the caller goes on: its lookups then find nothing
 * and the defaults apply.
 */
void OpenSettings(QZcfgn &cfg) {
    char path[TEXT_MAX];
    snprintf(path, sizeof path, "%s/%s", get_conf_dir(0), VYX_AUI_CONFIG_FILE_NAME);
    cfg.Open(path, QZcfgn::ReadOnly);
    if (cfg.Error())
        report_error(0, path, "Error opening config file");
}

/* Copies the value of key in section into buf (TEXT_MAX bytes); 0 when the key is absent. */
int CopySetting(QZcfgn &cfg, const char *section, const char *key, char *buf) {
    char *value = nullptr;
    if (!cfg.Get(section, key, value))
        return 0;
    INTutil_snprintf(buf, TEXT_MAX, "%s", value);
    return 1;
}

/* Appends s to the text in buf (size bytes), cut to fit. */
void Append(char *buf, size_t size, const char *s) {
    size_t len = strlen(buf);
    QZcopy(buf + len, size - len, s);
}

/* Adds a NameTrans of fn from "from" (to dir, unless null) to "default" unless one is there. */
void GuardedNameTrans(const char *fn, const char *from, const char *dir) {
    if (grab_pblock(BY_NAME, "default", "NameTrans", fn, "from", from))
        return;
    if (dir)
        add_pblock(BY_NAME, "default", "NameTrans", fn, 4, "from", from, "dir", dir);
    else
        add_pblock(BY_NAME, "default", "NameTrans", fn, 2, "from", from);
}

/* Removes the first NameTrans of fn from "from" in "default", by its handle. */
void DeleteNameTrans(const char *fn, const char *from) {
    zrv_pblock *handle = grab_pblock(BY_NAME, "default", "NameTrans", fn, "from", from);
    if (handle)
        delete_pblock_byptr(BY_NAME, "default", "NameTrans", handle);
}

/* Removes the load-modules directive of library and the init directive of fn, each when there. */
void DeleteInits(const char *library, const char *fn) {
    if (get_specific_zrv_init("load-modules", "shlib", library))
        delete_specific_zrv_init("load-modules", "shlib", library);
    if (get_zrv_init(fn))
        delete_zrv_init(fn);
}

} // namespace

int AddAgentDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[WIDE_MAX], systemini[WIDE_MAX], uidir[WIDE_MAX];
    INTutil_snprintf(library, sizeof library, "%s/plugins/agents/bin/agents%s", root, LIB_EXT);
    INTutil_snprintf(systemini, sizeof systemini, "%s/plugins/agents/data/agent_system.ini", root);
    INTutil_snprintf(uidir, sizeof uidir, "%s/plugins/agents/data", root);

    set_zrv_init("load-modules", "funcs", AGENT_FUNCS, 6, "funcs", AGENT_FUNCS, "shlib", library,
                 "NativeThread", "no");
    set_zrv_init("qz_agentInit", nullptr, nullptr, 6, "systemini", systemini, "uidir", uidir,
                 "LateInit", "yes");
    add_pblock(BY_NAME, "default", "NameTrans", "agent_name_trans", 2, "from", "/Agents");
    add_object(BY_NAME, "agents");
    add_pblock(BY_NAME, "agents", "PathCheck", "check-acl", 2, "acl", "agents");
    add_pblock(BY_NAME, "agents", "ObjectType", "qz_agentType", 2, "uidir", uidir);
    add_pblock(BY_NAME, "agents", "Service", "qz_agentCmdHandler", 2, "type", "jx-agent");
    add_pblock(BY_NAME, "agents", "Service", "send-file", 4, "type", "*~zarvok-internal/*",
               "method", "(GET|HEAD)");
    if (log == 1)
        log_change("obj.conf", "Agent directives added");
    return 1;
}

int DeleteAgentDirectives(int log) {
    delete_specific_zrv_init("load-modules", "funcs", AGENT_FUNCS);
    delete_zrv_init("qz_agentInit");
    delete_pblock(BY_NAME, "default", "NameTrans", "agent_name_trans", "from", "/Agents");
    delete_object(BY_NAME, "agents");
    if (log == 1)
        log_change("obj.conf", "Agent directives deleted");
    return 1;
}

int AddSearchDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    QZcfgn cfg;
    OpenSettings(cfg);

    char funcs[TEXT_MAX], library[TEXT_MAX];
    INTutil_snprintf(funcs, TEXT_MAX, "%s,%s,%s", "jx-search-init", "jx-search-nametrans",
                     "jx-search");
    INTutil_snprintf(library, TEXT_MAX, "%s/plugins/search/bin/qzir%s", root, LIB_EXT);
    set_zrv_init("load-modules", "funcs", funcs, 6, "funcs", funcs, "shlib", library,
                 "NativeThread", "no");

    char systemini[TEXT_MAX], errordb[TEXT_MAX], userdefsdb[TEXT_MAX];
    INTutil_snprintf(systemini, TEXT_MAX, "%s%s", get_commit_dest(0), VYX_AUI_CONFIG_FILE_NAME);
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, ERROR_DB_FIELD, errordb))
        INTutil_snprintf(errordb, TEXT_MAX, "%s/plugins/search/admin/qzir.err", root);
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, USERDEFS_DB_FIELD, userdefsdb))
        INTutil_snprintf(userdefsdb, TEXT_MAX, "%s/plugins/search/admin/userdefs.ini", root);
    set_zrv_init("jx-search-init", nullptr, nullptr, 6, "systemini", systemini, "errordb", errordb,
                 "userdefsdb", userdefsdb);

    GuardedNameTrans("jx-search-nametrans", "/search", nullptr);
    char uidir[TEXT_MAX];
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, SEARCH_UI_DIR_FIELD, uidir))
        INTutil_snprintf(uidir, TEXT_MAX, "%s/plugins/search/ui", root);
    GuardedNameTrans("pfx2dir", "/search-ui", uidir);

    if (!grab_object(BY_NAME, "search")) {
        add_object(BY_NAME, "search");
        add_pblock(BY_NAME, "search", "ObjectType", "force-type", 2, "type",
                   "zarvok-internal/search");
        add_pblock(BY_NAME, "search", "Service", "jx-search", 4, "type", "zarvok-internal/search",
                   "method", "(GET|HEAD|POST)");
    }
    if (log == 1)
        log_change("obj.conf", "Search plugin directives added");
    return 1;
}

int DeleteSearchDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[TEXT_MAX];
    INTutil_snprintf(library, TEXT_MAX, "%s/plugins/search/bin/qzir%s", root, LIB_EXT);
    DeleteInits(library, "jx-search-init");
    DeleteNameTrans("jx-search-nametrans", "/search");
    DeleteNameTrans("pfx2dir", "/search-ui");
    if (grab_object(BY_NAME, "search"))
        delete_object(BY_NAME, "search");
    if (log == 1)
        log_change("obj.conf", "Search plugin directives deleted");
    return 1;
}

int AddFQWDirectives(void) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[WIDE_MAX];
    INTutil_snprintf(library, sizeof library, "%s/fqw/lib/%s", root, "libYULiiop.so");
    set_zrv_init("load-modules", "funcs", FQW_FUNCS, 4, "funcs", FQW_FUNCS, "shlib", library);
    set_zrv_init("IIOPinit", nullptr, nullptr, 2, "LateInit", "yes");
    add_pblock(BY_NAME, "default", "NameTrans", "pfx2dir", 6, "from", "/iiop", "dir", "/iiop",
               "name", "iiopexec");
    add_pblock(BY_NAME, "default", "NameTrans", "assign-name", 6, "from", "/NameService*", "name",
               "iiopnameservice", "stop", "");
    add_object(BY_NAME, "iiopexec");
    add_pblock(BY_NAME, "iiopexec", "Service", "IIOPexec", 0);
    add_object(BY_NAME, "iiopnameservice");
    add_pblock(BY_NAME, "iiopnameservice", "Service", "IIOPNameService", 0);
    log_change("obj.conf", "FQW directives added");
    return 1;
}

int DeleteFQWDirectives(void) {
    delete_specific_zrv_init("load-modules", "funcs", FQW_FUNCS);
    delete_zrv_init("IIOPinit");
    delete_pblock(BY_NAME, "default", "NameTrans", "pfx2dir", "name", "iiopexec");
    delete_pblock(BY_NAME, "default", "NameTrans", "assign-name", "name", "iiopnameservice");
    delete_object(BY_NAME, "iiopexec");
    delete_object(BY_NAME, "iiopnameservice");
    log_change("obj.conf", "FQW directives deleted");
    return 1;
}

int AddCMDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    QZcfgn cfg;
    OpenSettings(cfg);

    char funcs[TEXT_MAX], library[TEXT_MAX];
    QZcopy(funcs, "CM_Init");
    for (const CMdirective *row = CM_directives; row->fn; ++row) {
        Append(funcs, sizeof funcs, ",");
        Append(funcs, sizeof funcs, row->fn);
    }
    INTutil_snprintf(library, TEXT_MAX, "%s/plugins/content_mgr/bin/content_mgr%s", root, LIB_EXT);
    set_zrv_init("load-modules", "funcs", funcs, 6, "funcs", funcs, "shlib", library,
                 "NativeThread", "no");

    char webconfig[TEXT_MAX];
    INTutil_snprintf(webconfig, TEXT_MAX, "%s%s", get_commit_dest(0), VYX_AUI_CONFIG_FILE_NAME);
    set_zrv_init("CM_Init", nullptr, nullptr, 2, "webconfig", webconfig);

    char uidir[TEXT_MAX], client[TEXT_MAX];
    if (!CopySetting(cfg, VYX_AUI_CONTENT_STORE_SECTION, CM_UI_DIR_FIELD, uidir))
        INTutil_snprintf(uidir, TEXT_MAX, "%s/plugins/content_mgr/ui", root);
    GuardedNameTrans("pfx2dir", "/plomex-ui", uidir);
    INTutil_snprintf(client, TEXT_MAX, "%s/plugins/content_mgr/client", root);
    GuardedNameTrans("pfx2dir", "/publisher", client);

    for (const CMdirective *row = CM_directives; row->fn; ++row)
        if (!grab_pblock(BY_NAME, "default", "Service", row->fn, nullptr, nullptr))
            add_pblock(BY_NAME, "default", "Service", row->fn, 2, "method", row->method);

    char pattern[TEXT_MAX];
    INTutil_snprintf(pattern, TEXT_MAX, "%s/plugins/content_mgr/client/bin/*.*", root);
    if (!grab_object(BY_PATH, pattern)) {
        add_object(BY_PATH, pattern);
        add_pblock(BY_PATH, pattern, "ObjectType", "force-type", 2, "type",
                   "application/octet-stream");
        add_pblock(BY_PATH, pattern, "Service", "send-file", 0);
    }
    if (log == 1)
        log_change("obj.conf", "Content manager directives added");
    return 1;
}

int DeleteCMDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[TEXT_MAX];
    INTutil_snprintf(library, TEXT_MAX, "%s/plugins/content_mgr/bin/content_mgr%s", root, LIB_EXT);
    DeleteInits(library, "CM_Init");
    DeleteNameTrans("pfx2dir", "/publisher");
    DeleteNameTrans("pfx2dir", "/plomex-ui");

    for (const CMdirective *row = CM_directives; row->fn; ++row) {
        zrv_pblock *handle = grab_pblock(BY_NAME, "default", "Service", row->fn, nullptr, nullptr);
        if (handle)
            delete_pblock_byptr(BY_NAME, "default", "Service", handle);
    }
    char pattern[TEXT_MAX];
    INTutil_snprintf(pattern, TEXT_MAX, "%s/plugins/content_mgr/client/bin/*.*", root);
    if (grab_object(BY_PATH, pattern))
        delete_object(BY_PATH, pattern);
    if (log == 1)
        log_change("obj.conf", "Content manager directives deleted");
    return 1;
}

namespace {

/* 1 on, 0 off, 2 anything else; the case must be all lower, all upper or capitalised. */
int ContentStoreState(const char *value) {
    for (const char *on : {"on", "ON", "On"})
        if (strcmp(value, on) == 0)
            return 1;
    for (const char *off : {"off", "OFF", "Off"})
        if (strcmp(value, off) == 0)
            return 0;
    return 2;
}

} // namespace

int VerifyCMOn(void) {
    char path[256];
    snprintf(path, sizeof path, "%s/%s", get_commit_dest(0), VYX_AUI_CONFIG_FILE_NAME);
    QZcfgn cfg;
    cfg.Open(path, QZcfgn::ReadOnly);
    if (cfg.Error())
        return 2;
    char *value = nullptr;
    if (!cfg.Get(VYX_AUI_CONTENT_STORE_SECTION, VYX_AUI_CONTENT_STORE_STATE_FIELD, value))
        return 2;
    // Closing frees the stored lines, so the value is copied first.
    char state[100];
    QZcopy(state, value);
    cfg.Close();
    if (cfg.Error())
        return 2;
    return ContentStoreState(state);
}
