/*
 * Registration of the publishing subsystem's server plug-ins (agents, search,
 * content manager and the IIOP application interface "FQW") in the web
 * server's configuration, through the administration library's
 * server-configuration calls, and whether the content store is switched on.
 *
 * Every plug-in path is built under the server root, KELMRIX_ROOT. The int
 * argument of the agents, search and content-manager functions is a log flag:
 * with 1 the function ends by recording its message for "obj.conf" in the
 * change log; any other value records nothing. The FQW pair always records.
 * The results of the library calls are not looked at: nothing done before a
 * failing call is undone, and the function still returns 1.
 */
#ifndef PLUGINS_H
#define PLUGINS_H

#ifdef __cplusplus
extern "C" {
#endif

/* One service function of the content manager and the methods its Service directive carries. */
typedef struct CMdirective {
    const char *fn;
    const char *method;
} CMdirective;

/* The content manager's 23 service functions in registration order, ended by a row of nulls. */
extern const CMdirective CM_directives[24];

/*
 * Sets the agents' load-modules and qz_agentInit init directives, adds the
 * /Agents name translation to "default" and fills the object "agents".
 * Nothing is looked up first, so a second call adds the obj.conf entries again.
 * 1 when done, 0 (nothing changed) when the server root is not set.
 * Logs "Agent directives added".
 */
int AddAgentDirectives(int log);
/*
 * Removes what AddAgentDirectives adds (one /Agents translation per call).
 * Does not need the server root. Always 1. Logs "Agent directives deleted".
 */
int DeleteAgentDirectives(int log);

/*
 * Sets the search plug-in's load-modules and jx-search-init init directives
 * and adds its two name translations and the object "search" when missing.
 * The error and user-definition databases and the UI directory come from
 * section "QZ-search" of plomex.conf in the configuration directory, with
 * defaults under the root; an unreadable plomex.conf is reported through
 * report_error and the defaults apply. 1 when done, 0 (nothing changed) when
 * the server root is not set. Logs "Search plugin directives added".
 */
int AddSearchDirectives(int log);
/*
 * Removes what AddSearchDirectives adds. 1 when done, 0 (nothing changed)
 * when the server root is not set. Logs "Search plugin directives deleted".
 */
int DeleteSearchDirectives(int log);

/*
 * Sets the FQW load-modules and IIOPinit init directives, adds its two name
 * translations and the objects "iiopexec" and "iiopnameservice". Nothing is
 * looked up first. 1 when done, 0 (nothing changed) when the server root is
 * not set. Always logs "FQW directives added".
 */
int AddFQWDirectives(void);
/* Removes what AddFQWDirectives adds. Does not need the server root. Always 1; logs. */
int DeleteFQWDirectives(void);

/*
 * Sets the content manager's load-modules (CM_Init and every function of
 * CM_directives) and CM_Init init directives, and adds its two name
 * translations, one Service directive per row of CM_directives and the
 * object for its client binaries, each only when missing. The UI directory
 * comes from "VYX-ui-dir" of section "QZ-content-store" of plomex.conf in the
 * configuration directory, as for AddSearchDirectives. 1 when done, 0
 * (nothing changed) when the server root is not set.
 * Logs "Content manager directives added".
 */
int AddCMDirectives(int log);
/*
 * Removes what AddCMDirectives adds: one Service directive per row. 1 when
 * done, 0 (nothing changed) when the server root is not set.
 * Logs "Content manager directives deleted".
 */
int DeleteCMDirectives(int log);

/*
 * Whether the content store is on, from "VYX-content-store-state" of section
 * "QZ-content-store" of plomex.conf in the commit directory: 1 for "on", "ON"
 * or "On", 0 for "off", "OFF" or "Off", 2 for any other value, a missing key
 * or a file that cannot be read. Never reports.
 */
int VerifyCMOn(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
