/* The two ways in to the settings as data: the command line and the HTTP interface. */
#ifndef VYXSETTINGS_FRONT_H
#define VYXSETTINGS_FRONT_H

/* Runs the vyxsettings command; returns its exit status (vyxcli.h). */
int RunSettingsCommand(int argc, char **argv);

/* Answers one CGI request of /admin/vyxsettings on standard output; returns the exit status 0. */
int ServeSettingsRequest();

#endif
