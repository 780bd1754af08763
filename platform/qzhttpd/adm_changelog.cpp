/*
 * The administration server's change log. The records of a run are handed
 * to the save library's transaction, which appends them in one synced write
 * when the run ends (its answer page, or its exit), each saying whether its
 * change reached its file, and keeps the versions the run replaced.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "srvcfg.h"
#include "vyxsave_txn.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

bool editFailed = false;

std::string Format(const char *fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    const int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0)
        return "";
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

/* The files the library edits itself: it writes them, so it says whether that worked. */
bool EditedByLibrary(const std::string &file) { return file == "init.conf" || file == "obj.conf"; }

} /* namespace */

void adm_note_edit_failed() {
    editFailed = true;
    vyxsave::NoteTextWriteFailed();
}

bool adm_edit_failed() { return editFailed; }

int log_change(const char *file, const char *fmt, ...) {
    if (fmt == nullptr)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    const std::string message = Format(fmt, ap);
    va_end(ap);
    /* A dry run changes nothing, so it has nothing to record. */
    if (srvcfg::InDryRun())
        return 0;
    const std::string name = file != nullptr ? file : "-";
    const bool versioned = file != nullptr && !EditedByLibrary(name);
    vyxsave::Record(name, message, versioned ? vyxsave::Keep::Versions : vyxsave::Keep::Text);
    return 0;
}
