// The commands of powerhost-cli, each run against one open session. Data goes to standard
// output, messages to standard error; each returns the program's exit status (Options.h).
#pragma once

#include "cli/Options.h"
#include "cli/Session.h"

namespace cli {

int runStatus(Session &session, const Options &options);
int runRecords(Session &session, const Options &options);
int runEnergy(Session &session, const Options &options);
// get, set, backup, diff and restore (cli/ParamCommands.cpp).
int runParams(Session &session, const Options &options);

// Shared by the commands: text out, and the exit status of a request that failed.
void out(const QString &text);
void out(const QByteArray &bytes);
void say(const QString &text);  // standard error, one line
int failed(const Reply &reply, const QString &what);

}  // namespace cli
