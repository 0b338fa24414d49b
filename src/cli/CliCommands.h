#pragma once

// Each subcommand of quorvex-cli, given its arguments after the subcommand name.
// Returns the process exit status (2 for a bad argument or an unreadable input).
int runDetect(int argc, char** argv);
int runAdapters(int argc, char** argv);
int runMonitor(int argc, char** argv);
int runDownload(int argc, char** argv);
int runBrowser(int argc, char** argv);
