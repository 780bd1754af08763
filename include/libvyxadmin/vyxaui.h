/*
 * Names shared by the publishing subsystem's administration pages: its files,
 * the sections and keys of plomex.conf, its collections, logs, commands and
 * icons, and the form fields and labels of its property pages. Each unit that
 * includes this header gets its own copy of the constants.
 */
#ifndef VYXAUI_H
#define VYXAUI_H

/* Files */
static const char *const VYX_AUI_CONFIG_FILE_NAME = "plomex.conf";
static const char *const VYX_AUI_CONFIG_LOCK_FILE_NAME = "plomex.lock";

/* Sections of plomex.conf */
static const char *const VYX_AUI_COLLECTION_SECTION = "VYX-collections";
static const char *const VYX_AUI_CONTENT_STORE_SECTION = "QZ-content-store";
static const char *const VYX_AUI_SEARCH_SECTION = "QZ-search";
static const char *const VYX_AUI_QZ_LOADER_SECTION = "QZ-loader";
static const char *const VYX_AUI_VYX_ADMIN_SECTION = "VYX-admin";
static const char *const VYX_AUI_DEFAULT_SECTION = "default";

/* Keys of plomex.conf */
static const char *const VYX_AUI_CONTENT_STORE_STATE_FIELD = "VYX-content-store-state";
static const char *const VYX_AUI_DBLIST_INI_FIELD = "VYX-dblist-ini";
static const char *const VYX_AUI_LANG_CONF_FIELD = "VYX-lang-conf";
static const char *const VYX_AUI_LANG_CONF_LOCK_FIELD = "VYX-lang-conf-lock";
static const char *const VYX_AUI_LINKMGT_AUTO_UPDATE_FIELD = "VYX-linkmgt-auto-update";
static const char *const VYX_AUI_DEFAULT_LANG_FIELD = "VYX-default-lang";
static const char *const VYX_AUI_ADMIN_LOG_DIR_FIELD = "VYX-admin-log-dir";
static const char *const VYX_AUI_PLOMEX_LOG_DIR_FIELD = "VYX-plomex-log-dir";
static const char *const VYX_AUI_SEARCH_STATE_FIELD = "QZ-search-state";
static const char *const VYX_AUI_COLLECTION_ROOT_FIELD = "QZ-collection-root";
static const char *const VYX_AUI_LANG_NAME_FIELD = "VYX-lang-name";
static const char *const VYX_AUI_LANG_VALUE_FIELD = "VYX-lang-value";
static const char *const VYX_AUI_LANG_CHARSET_FIELD = "VYX-lang-charset";
static const char *const VYX_AUI_LANG_CJK_FIELD = "VYX-lang-cjk";
static const char *const VYX_AUI_QZ_REINDEX_CRON_LOG_FIELD = "QZ-reindex-cron-log";
static const char *const VYX_AUI_QZ_UPDATE_CRON_LOG_FIELD = "QZ-update-cron-log";
static const char *const VYX_AUI_QZ_CONVERT_DOCS = "QZ-convert-docs";
static const char *const VYX_AUI_QZ_DISPLAY_SELECT_FIELD = "QZ-display-select";
static const char *const VYX_AUI_QZ_FILE_FORMAT_FIELD = "QZ-file-format";
static const char *const VYX_AUI_QZ_EXTRACT_METATAGS = "QZ-extract-metatags";
static const char *const VYX_AUI_QZ_LANGUAGE_FIELD = "QZ-language";
static const char *const VYX_AUI_QZ_DOCUMENT_ROOT = "QZ-doc-root";

/* Collections */
static const char *const VYX_AUI_PLOMEX_COLLECTION = "plomex";
static const char *const VYX_AUI_PLOMEX_COLLECTION_KEY = "VYX-plomex-collection";

/* Icons */
static const char *const VYX_AUI_GRAPHICS_DIR = "/admin-graphics";
static const char *const VYX_AUI_UNDER_CONSTRUCTION_GIF = "construct.gif";
static const char *const VYX_AUI_LOOK_HERE_GIF = "lookhere.gif";
static const char *const VYX_AUI_DOCUMENT_GIF = "document.gif";
static const char *const VYX_AUI_CHOOSE_GIF = "choose.gif";

/* Browse and maintenance selections */
static const char *const VYX_AUI_BROWSE_DIRS = "dirs";
static const char *const VYX_AUI_BROWSE_FILES_AND_DIRS = "files_and_dirs";
static const char *const VYX_AUI_REINDEX_SELECTION = "reindex";
static const char *const VYX_AUI_OPTIMIZE_SELECTION = "optimize";
static const char *const VYX_AUI_UPDATE_SELECTION = "update";
static const char *const VYX_AUI_BACKUP_SELECTION = "backup";
static const char *const VYX_AUI_DEFAULT_ACTION = "none";

/* Logs and commands */
static const char *const VYX_AUI_VYXCMD_LOG = "vyxcmd.log";
static const char *const VYX_AUI_ADMINSERV_LOGDIR = "admin/logs";
static const char *const VYX_AUI_CRON_ERROR_LOG_NAME = "cron_error.log";
static const char *const VYX_AUI_ADMIN_BIN_DIR = "bin/plomex/admin/bin";
static const char *const VYX_AUI_CRON_OPTIMIZE_CMD = "vyxoptimize";
static const char *const VYX_AUI_CRON_REINDEX_CMD = "vyxreindex";
static const char *const VYX_AUI_WEB_HTM_COLLECTION = "web-htm";
static const char *const VYX_AUI_LINK_MGR_COLLECTION = "link-mgr";
static const char *const VYX_AUI_IMPORT_LOG_NAME = "import.log";

/* Property pages: attribute name and type */
static const char *const VYX_AUI_ATTRIBUTE_NAME_CGI_FIELD = "attr_name";
static const char *const VYX_AUI_ATTRIBUTE_NAME_FIELD_NAME = "Attribute Name";
static const char *const VYX_AUI_ATTRIBUTE_TYPE_CGI_FIELD = "attr_type";
static const char *const VYX_AUI_ATTRIBUTE_TYPE_FIELD_NAME = "Attribute Type";

/* Property pages: permissions */
static const char *const VYX_AUI_PERMISSIONS_ROW_LABEL = "Permissions";
static const char *const VYX_AUI_PERMISSIONS_RO_VALUE = "RO";
static const char *const VYX_AUI_PERMISSIONS_RW_VALUE = "RW";
static const char *const VYX_AUI_PERMISSIONS_RO_LABEL = " Read only";
static const char *const VYX_AUI_PERMISSIONS_RW_LABEL = " Read/write";
static const char *const VYX_AUI_PERMISSIONS_FORM_FIELD_NAME = "permissions";
static const char *const VYX_AUI_PERMISSIONS_ORIG_FORM_FIELD_NAME = "orig_permissions";
static const char *const VYX_AUI_PERMISSIONS_NEW_FORM_FIELD_NAME = "new_permissions";
static const char *const VYX_AUI_PERMISSIONS_CGI_FIELD_NAME = "perm";

/* Property pages: visibility */
static const char *const VYX_AUI_VISIBILITY_ROW_LABEL = "Visibility";
static const char *const VYX_AUI_VISIBILITY_I_VALUE = "I";
static const char *const VYX_AUI_VISIBILITY_V_VALUE = "V";
static const char *const VYX_AUI_VISIBILITY_I_LABEL = " Invisible";
static const char *const VYX_AUI_VISIBILITY_V_LABEL = " Visible";
static const char *const VYX_AUI_VISIBILITY_FORM_FIELD_NAME = "visibility";
static const char *const VYX_AUI_VISIBILITY_ORIG_FORM_FIELD_NAME = "orig_visibility";
static const char *const VYX_AUI_VISIBILITY_NEW_FORM_FIELD_NAME = "new_visibility";
static const char *const VYX_AUI_VISIBILITY_CGI_FIELD_NAME = "vis";

/* Property pages: meta tags */
static const char *const VYX_AUI_METATAG_ROW_LABEL = "Meta Tag";
static const char *const VYX_AUI_METATAG_DNC_VALUE = "DNC";
static const char *const VYX_AUI_METATAG_C_VALUE = "C";
static const char *const VYX_AUI_METATAG_DNC_LABEL = " Do not convert";
static const char *const VYX_AUI_METATAG_C_LABEL = " Convert";
static const char *const VYX_AUI_METATAG_FORM_FIELD_NAME = "metatag";
static const char *const VYX_AUI_METATAG_ORIG_FORM_FIELD_NAME = "orig_metatag";
static const char *const VYX_AUI_METATAG_NEW_FORM_FIELD_NAME = "new_metatag";
static const char *const VYX_AUI_METATAG_CGI_FIELD_NAME = "meta";

/* Property types */
static const char *const VYX_AUI_DATE_TYPE = "Date";
static const char *const VYX_AUI_NUMERIC_TYPE = "Number";
static const char *const VYX_AUI_TEXT_TYPE = "Text";

#endif
