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

const int kByName = 1;
const int kByPath = 2;
const char *const kLibExt = ".so";

/* Search and content-manager paths and values are cut to fit these buffers. */
const size_t kTextMax = 1024;
/* Agents and FQW paths, likewise. */
const size_t kWideMax = 1280;

const char *const kAgentFuncs = "qz_agentInit,agent_name_trans,qz_agentCmdHandler,qz_agentType";
const char *const kFqwFuncs = "IIOPinit,IIOPexec,IIOPNameService";

const char *const kErrorDbField = "QZ-error-db";
const char *const kUserdefsDbField = "QZ-userdefs-db";
const char *const kSearchUiDirField = "QZ-ui-dir";
const char *const kCmUiDirField = "VYX-ui-dir";

/*
 * Where a plug-in lives under the root: one place each, so that Delete
 * finds exactly what Add wrote.
 */
void SearchLibrary(char (&buf)[kTextMax], const char *root) {
    INTutil_snprintf(buf, kTextMax, "%s/plugins/search/bin/qzir%s", root, kLibExt);
}
void CMLibrary(char (&buf)[kTextMax], const char *root) {
    INTutil_snprintf(buf, kTextMax, "%s/plugins/content_mgr/bin/content_mgr%s", root, kLibExt);
}
void CMClientPattern(char (&buf)[kTextMax], const char *root) {
    INTutil_snprintf(buf, kTextMax, "%s/plugins/content_mgr/client/bin/*.*", root);
}

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
    char path[kTextMax];
    snprintf(path, sizeof path, "%s/%s", get_conf_dir(0), VYX_AUI_CONFIG_FILE_NAME);
    cfg.Open(path, QZcfgn::ReadOnly);
    if (cfg.Error())
        report_error(0, path, "Error opening config file");
}

/* Copies the value of key in section into buf (kTextMax bytes); 0 when the key is absent. */
int CopySetting(QZcfgn &cfg, const char *section, const char *key, char *buf) {
    char *value = nullptr;
    if (!cfg.Get(section, key, value))
        return 0;
    INTutil_snprintf(buf, kTextMax, "%s", value);
    return 1;
}

/* Appends s to the text in buf (size bytes), cut to fit. */
void Append(char *buf, size_t size, const char *s) {
    size_t len = strlen(buf);
    QZcopy(buf + len, size - len, s);
}

/* Adds a NameTrans of fn from "from" (to dir, unless null) to "default" unless one is there. */
void GuardedNameTrans(const char *fn, const char *from, const char *dir) {
    if (grab_pblock(kByName, "default", "NameTrans", fn, "from", from))
        return;
    if (dir)
        add_pblock(kByName, "default", "NameTrans", fn, 4, "from", from, "dir", dir);
    else
        add_pblock(kByName, "default", "NameTrans", fn, 2, "from", from);
}

/* Removes the first NameTrans of fn from "from" in "default", by its handle. */
void DeleteNameTrans(const char *fn, const char *from) {
    zrv_pblock *handle = grab_pblock(kByName, "default", "NameTrans", fn, "from", from);
    if (handle)
        delete_pblock_byptr(kByName, "default", "NameTrans", handle);
}

/* Removes the load-modules directive of library and the init directive of fn, each when there. */
void DeleteInits(const char *library, const char *fn) {
    if (get_specific_zrv_init("load-modules", "shlib", library))
        delete_specific_zrv_init("load-modules", "shlib", library);
    if (get_zrv_init(fn))
        delete_zrv_init(fn);
}

} /* namespace */

int AddAgentDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[kWideMax], systemini[kWideMax], uidir[kWideMax];
    INTutil_snprintf(library, sizeof library, "%s/plugins/agents/bin/agents%s", root, kLibExt);
    INTutil_snprintf(systemini, sizeof systemini, "%s/plugins/agents/data/agent_system.ini", root);
    INTutil_snprintf(uidir, sizeof uidir, "%s/plugins/agents/data", root);

    set_zrv_init("load-modules", "funcs", kAgentFuncs, 6, "funcs", kAgentFuncs, "shlib", library,
                 "NativeThread", "no");
    set_zrv_init("qz_agentInit", nullptr, nullptr, 6, "systemini", systemini, "uidir", uidir,
                 "LateInit", "yes");
    add_pblock(kByName, "default", "NameTrans", "agent_name_trans", 2, "from", "/Agents");
    add_object(kByName, "agents");
    add_pblock(kByName, "agents", "PathCheck", "check-acl", 2, "acl", "agents");
    add_pblock(kByName, "agents", "ObjectType", "qz_agentType", 2, "uidir", uidir);
    add_pblock(kByName, "agents", "Service", "qz_agentCmdHandler", 2, "type", "jx-agent");
    add_pblock(kByName, "agents", "Service", "send-file", 4, "type", "*~zarvok-internal/*",
               "method", "(GET|HEAD)");
    if (log == 1)
        log_change("obj.conf", "Agent directives added");
    return 1;
}

int DeleteAgentDirectives(int log) {
    delete_specific_zrv_init("load-modules", "funcs", kAgentFuncs);
    delete_zrv_init("qz_agentInit");
    delete_pblock(kByName, "default", "NameTrans", "agent_name_trans", "from", "/Agents");
    delete_object(kByName, "agents");
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

    char funcs[kTextMax], library[kTextMax];
    INTutil_snprintf(funcs, kTextMax, "%s,%s,%s", "jx-search-init", "jx-search-nametrans",
                     "jx-search");
    SearchLibrary(library, root);
    set_zrv_init("load-modules", "funcs", funcs, 6, "funcs", funcs, "shlib", library,
                 "NativeThread", "no");

    char systemini[kTextMax], errordb[kTextMax], userdefsdb[kTextMax];
    INTutil_snprintf(systemini, kTextMax, "%s%s", get_commit_dest(0), VYX_AUI_CONFIG_FILE_NAME);
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, kErrorDbField, errordb))
        INTutil_snprintf(errordb, kTextMax, "%s/plugins/search/admin/qzir.err", root);
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, kUserdefsDbField, userdefsdb))
        INTutil_snprintf(userdefsdb, kTextMax, "%s/plugins/search/admin/userdefs.ini", root);
    set_zrv_init("jx-search-init", nullptr, nullptr, 6, "systemini", systemini, "errordb", errordb,
                 "userdefsdb", userdefsdb);

    GuardedNameTrans("jx-search-nametrans", "/search", nullptr);
    char uidir[kTextMax];
    if (!CopySetting(cfg, VYX_AUI_SEARCH_SECTION, kSearchUiDirField, uidir))
        INTutil_snprintf(uidir, kTextMax, "%s/plugins/search/ui", root);
    GuardedNameTrans("pfx2dir", "/search-ui", uidir);

    if (!grab_object(kByName, "search")) {
        add_object(kByName, "search");
        add_pblock(kByName, "search", "ObjectType", "force-type", 2, "type",
                   "zarvok-internal/search");
        add_pblock(kByName, "search", "Service", "jx-search", 4, "type", "zarvok-internal/search",
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
    char library[kTextMax];
    SearchLibrary(library, root);
    DeleteInits(library, "jx-search-init");
    DeleteNameTrans("jx-search-nametrans", "/search");
    DeleteNameTrans("pfx2dir", "/search-ui");
    if (grab_object(kByName, "search"))
        delete_object(kByName, "search");
    if (log == 1)
        log_change("obj.conf", "Search plugin directives deleted");
    return 1;
}

int AddFQWDirectives(void) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[kWideMax];
    INTutil_snprintf(library, sizeof library, "%s/fqw/lib/%s", root, "libYULiiop.so");
    set_zrv_init("load-modules", "funcs", kFqwFuncs, 4, "funcs", kFqwFuncs, "shlib", library);
    set_zrv_init("IIOPinit", nullptr, nullptr, 2, "LateInit", "yes");
    add_pblock(kByName, "default", "NameTrans", "pfx2dir", 6, "from", "/iiop", "dir", "/iiop",
               "name", "iiopexec");
    add_pblock(kByName, "default", "NameTrans", "assign-name", 6, "from", "/NameService*", "name",
               "iiopnameservice", "stop", "");
    add_object(kByName, "iiopexec");
    add_pblock(kByName, "iiopexec", "Service", "IIOPexec", 0);
    add_object(kByName, "iiopnameservice");
    add_pblock(kByName, "iiopnameservice", "Service", "IIOPNameService", 0);
    log_change("obj.conf", "FQW directives added");
    return 1;
}

int DeleteFQWDirectives(void) {
    delete_specific_zrv_init("load-modules", "funcs", kFqwFuncs);
    delete_zrv_init("IIOPinit");
    delete_pblock(kByName, "default", "NameTrans", "pfx2dir", "name", "iiopexec");
    delete_pblock(kByName, "default", "NameTrans", "assign-name", "name", "iiopnameservice");
    delete_object(kByName, "iiopexec");
    delete_object(kByName, "iiopnameservice");
    log_change("obj.conf", "FQW directives deleted");
    return 1;
}

int AddCMDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    QZcfgn cfg;
    OpenSettings(cfg);

    char funcs[kTextMax], library[kTextMax];
    QZcopy(funcs, "CM_Init");
    for (const CMdirective *row = CM_directives; row->fn; ++row) {
        Append(funcs, sizeof funcs, ",");
        Append(funcs, sizeof funcs, row->fn);
    }
    CMLibrary(library, root);
    set_zrv_init("load-modules", "funcs", funcs, 6, "funcs", funcs, "shlib", library,
                 "NativeThread", "no");

    char webconfig[kTextMax];
    INTutil_snprintf(webconfig, kTextMax, "%s%s", get_commit_dest(0), VYX_AUI_CONFIG_FILE_NAME);
    set_zrv_init("CM_Init", nullptr, nullptr, 2, "webconfig", webconfig);

    char uidir[kTextMax], client[kTextMax];
    if (!CopySetting(cfg, VYX_AUI_CONTENT_STORE_SECTION, kCmUiDirField, uidir))
        INTutil_snprintf(uidir, kTextMax, "%s/plugins/content_mgr/ui", root);
    GuardedNameTrans("pfx2dir", "/plomex-ui", uidir);
    INTutil_snprintf(client, kTextMax, "%s/plugins/content_mgr/client", root);
    GuardedNameTrans("pfx2dir", "/publisher", client);

    for (const CMdirective *row = CM_directives; row->fn; ++row)
        if (!grab_pblock(kByName, "default", "Service", row->fn, nullptr, nullptr))
            add_pblock(kByName, "default", "Service", row->fn, 2, "method", row->method);

    char pattern[kTextMax];
    CMClientPattern(pattern, root);
    if (!grab_object(kByPath, pattern)) {
        add_object(kByPath, pattern);
        add_pblock(kByPath, pattern, "ObjectType", "force-type", 2, "type",
                   "application/octet-stream");
        add_pblock(kByPath, pattern, "Service", "send-file", 0);
    }
    if (log == 1)
        log_change("obj.conf", "Content manager directives added");
    return 1;
}

int DeleteCMDirectives(int log) {
    const char *root = ServerRoot();
    if (!root)
        return 0;
    char library[kTextMax];
    CMLibrary(library, root);
    DeleteInits(library, "CM_Init");
    DeleteNameTrans("pfx2dir", "/publisher");
    DeleteNameTrans("pfx2dir", "/plomex-ui");

    for (const CMdirective *row = CM_directives; row->fn; ++row) {
        zrv_pblock *handle = grab_pblock(kByName, "default", "Service", row->fn, nullptr, nullptr);
        if (handle)
            delete_pblock_byptr(kByName, "default", "Service", handle);
    }
    char pattern[kTextMax];
    CMClientPattern(pattern, root);
    if (grab_object(kByPath, pattern))
        delete_object(kByPath, pattern);
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

} /* namespace */

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
    /* Closing frees the stored lines, so the value is copied first. */
    char state[100];
    QZcopy(state, value);
    cfg.Close();
    if (cfg.Error())
        return 2;
    return ContentStoreState(state);
}
